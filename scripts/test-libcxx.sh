#!/usr/bin/env bash
# Builds QERN and its test suite with clang and libc++ (the compiler and C++
# library of macOS), warnings as errors, and runs the suite. GoogleTest is
# built from its sources with the same library, as Debian's libgtest is
# built against libstdc++.
#
#   scripts/test-libcxx.sh        (build folder: build-libcxx)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

if ! command -v clang++ >/dev/null || [ ! -d /usr/src/googletest ] ||
   ! echo '#include <version>' | clang++ -stdlib=libc++ -x c++ -fsyntax-only - 2>/dev/null; then
    bash scripts/install-deps.sh
fi

cmake -S . -B build-libcxx -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQERN_WERROR=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="-stdlib=libc++" \
    -DCMAKE_EXE_LINKER_FLAGS="-stdlib=libc++" -DQERN_GTEST_FROM_SOURCE=ON >/dev/null
cmake --build build-libcxx -j "$jobs"
# Everything must come from libc++: a stray libstdc++ would hide what macOS lacks.
if ldd build-libcxx/qern_tests | grep -q 'libstdc++'; then
    echo "test-libcxx.sh: qern_tests is linked against libstdc++" >&2
    exit 1
fi
ctest --test-dir build-libcxx --output-on-failure -j "$jobs"
