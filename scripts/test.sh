#!/usr/bin/env bash
# Builds QERN with warnings as errors and runs the whole test suite, then
# runs it again in a build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

# On a fresh machine, install what the build and the checks need first.
if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null || ! command -v g++ >/dev/null ||
   [ ! -d /usr/include/gtest ] || ! python3 -c 'import yaml' 2>/dev/null; then
    bash scripts/install-deps.sh
fi

# The benchmarks are built (and so kept compiling) where Google Benchmark is
# installed; the tests need GoogleTest alone.
bench=OFF
if [ -d /usr/include/benchmark ]; then bench=ON; fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQERN_WERROR=ON -DQERN_BUILD_BENCH=$bench >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQERN_WERROR=ON -DQERN_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
