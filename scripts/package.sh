#!/usr/bin/env bash
# Builds the release archives in dist/:
#   qern-VERSION-windows-x86.zip     (32-bit: UTAU, 32-bit and 64-bit Windows)
#   qern-VERSION-windows-x64.zip
#   qern-VERSION-linux-x86_64.tar.gz (libstdc++ and libgcc linked in)
# VERSION is the project version in CMakeLists.txt. Each holds Resamplers/
# with exactly the resampler and its manifest, qern-tools/ with qern-prep and
# qern-inspect, QERN-INSTALL.txt and LICENSE; unpacked into OpenUtau's data
# folder it puts the resampler in place. Then scripts/check-package.py checks
# the three as OpenUtau would see them.
#
#   scripts/package.sh [OUTPUT_FOLDER]    (default: dist)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(mkdir -p "${1:-dist}" && cd "${1:-dist}" && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# On a fresh machine, install what the builds and the archives need first.
if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null || ! command -v g++ >/dev/null ||
   ! command -v zip >/dev/null || ! command -v python3 >/dev/null; then
    bash scripts/install-deps.sh
fi
if ! command -v i686-w64-mingw32-g++-posix >/dev/null || ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    bash scripts/install-windows-deps.sh
fi

version=$(sed -n 's/^project(qern VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package.sh: no project version in CMakeLists.txt" >&2; exit 1; }
targets=(--target qern --target qern-prep --target qern-inspect)
release=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DQERN_WERROR=ON -DQERN_BUILD_TESTS=OFF -DQERN_BUILD_TOOLS=OFF)

# Linux: the C++ runtime linked in, so that the program runs on other
# distributions (with glibc as old as the build machine's or newer).
cmake -S . -B build-package-linux "${release[@]}" \
    -DCMAKE_EXE_LINKER_FLAGS="-static-libstdc++ -static-libgcc" -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s >/dev/null
cmake --build build-package-linux -j "$jobs" "${targets[@]}"
# Windows: the toolchain files link everything in (one .exe, no DLL).
for arch in i686 x86_64; do
    cmake -S . -B "build-package-$arch" "${release[@]}" --no-warn-unused-cli \
        -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-mingw-$arch.cmake" -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s >/dev/null
    cmake --build "build-package-$arch" -j "$jobs" "${targets[@]}"
done

stamp=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 1767225600)}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# stage NAME SYSTEM BUILD_DIR EXE_SUFFIX: fills $stage/NAME.
stage() {
    local dir="$stage/$1" system=$2 build=$3 suffix=$4
    mkdir -p "$dir/Resamplers" "$dir/qern-tools"
    cp "$build/qern$suffix" "$dir/Resamplers/qern$suffix"
    cp openutau/qern.yaml "$dir/Resamplers/qern.yaml"
    cp "$build/qern-prep$suffix" "$build/qern-inspect$suffix" "$dir/qern-tools/"
    cp LICENSE "$dir/LICENSE"
    python3 - "$version" "$system" "qern$suffix" packaging/INSTALL.txt "$dir/QERN-INSTALL.txt" <<'PY'
import re, sys
version, system, engine, template, target = sys.argv[1:]
text = open(template, encoding="utf-8").read()
keep, drop = ("windows", "unix") if engine.endswith(".exe") else ("unix", "windows")
text = re.sub(rf"\[{drop}\]\n.*?\[/{drop}\]\n", "", text, flags=re.S)
text = re.sub(rf"\[/?{keep}\]\n", "", text)
text = text.replace("@VERSION@", version).replace("@SYSTEM@", system).replace("@ENGINE@", engine)
newline = "\r\n" if engine.endswith(".exe") else "\n"
with open(target, "w", encoding="ascii", newline=newline) as f:
    f.write(text)
PY
    chmod 755 "$dir/Resamplers/qern$suffix" "$dir/qern-tools/"*
    chmod 644 "$dir/Resamplers/qern.yaml" "$dir/LICENSE" "$dir/QERN-INSTALL.txt"
    # The same times on every member: the last commit's (zip takes none before 1980).
    find "$dir" -exec touch -h -d "@$stamp" {} +
}

base="qern-$version"
stage "$base-windows-x86" "Windows (32-bit)" build-package-i686 .exe
stage "$base-windows-x64" "Windows (64-bit)" build-package-x86_64 .exe
stage "$base-linux-x86_64" "Linux (x86-64)" build-package-linux ""

members=(LICENSE QERN-INSTALL.txt Resamplers qern-tools)
for name in "$base-windows-x86" "$base-windows-x64"; do
    rm -f "$out/$name.zip"
    (cd "$stage/$name" && zip -q -X -r "$out/$name.zip" "${members[@]}")
done
rm -f "$out/$base-linux-x86_64.tar.gz"
tar -C "$stage/$base-linux-x86_64" --sort=name --owner=0 --group=0 --numeric-owner \
    -cf - "${members[@]}" | gzip -n -9 >"$out/$base-linux-x86_64.tar.gz"

python3 scripts/check-package.py "$out/$base-windows-x86.zip" "$out/$base-windows-x64.zip" \
    "$out/$base-linux-x86_64.tar.gz"
ls -l "$out/$base-windows-x86.zip" "$out/$base-windows-x64.zip" "$out/$base-linux-x86_64.tar.gz"
