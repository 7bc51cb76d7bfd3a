#!/usr/bin/env bash
# Builds the Windows executables (32-bit and 64-bit, mingw-w64 cross build)
# with their test suites, runs the suites under wine, and runs end-to-end
# calls of qern.exe under wine, comparing their files with the Linux build's.
#
#   bash scripts/install-windows-deps.sh   # once: compilers and wine
#   bash scripts/test-windows.sh
#
# The executables are build-win32/qern.exe and build-win64/qern.exe.
# A private wine prefix is kept in build-wine/ (QERN_WINEPREFIX overrides).
set -euo pipefail
cd "$(dirname "$0")/.."
exec </dev/null  # wine and the programs under it read nothing
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
start=$(date +%s)

# wine without a display, without questions, without its debug chatter.
export WINEPREFIX=${QERN_WINEPREFIX:-$root/build-wine/prefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export DISPLAY=
export LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY

# Some machines (kernels built without 32-bit support) cannot start wine's
# 32-bit loader. There wine64 runs the 64-bit programs (a small "wine" in
# front of it on PATH, also for wineboot and CMake's test runs), the 32-bit
# build is still built, and its test runs are reported as skipped.
run_win32=1
if ! wine --version >/dev/null 2>&1; then
    wine64_loader=/usr/lib/wine/wine64
    if ! "$wine64_loader" --version >/dev/null 2>&1; then
        echo "test-windows: wine does not run on this machine" >&2
        exit 1
    fi
    run_win32=0
    shim="$root/build-wine/bin"
    mkdir -p "$shim"
    for name in wine wine-stable; do
        printf '#!/bin/sh\nWINELOADER=%s exec %s "$@"\n' "$wine64_loader" "$wine64_loader" >"$shim/$name"
        chmod +x "$shim/$name"
    done
    export PATH="$shim:$PATH"
    export WINEPREFIX=${QERN_WINEPREFIX:-$root/build-wine/prefix64}
    echo "note: this machine cannot run 32-bit programs: build-win32 is built but not run"
fi

wine_started=0
stop_wine() {
    if [ "$wine_started" = 1 ]; then wineserver -k >/dev/null 2>&1 || true; fi
}
trap stop_wine EXIT

# The Linux build whose files the Windows executables must reproduce.
if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build -G Ninja -DQERN_WERROR=ON >/dev/null
fi
cmake --build build -j "$jobs" --target qern

for arch in i686 x86_64; do
    dir=build-win32
    [ "$arch" = x86_64 ] && dir=build-win64
    cmake -S . -B "$dir" -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release -DQERN_WERROR=ON \
        -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-mingw-$arch.cmake" \
        -DQERN_WINE="$(command -v wine)" >/dev/null
    cmake --build "$dir" -j "$jobs"
done

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
fi
# One wine server for all the runs below, with wine's own background
# services started here, away from the output pipes of the test runners
# (a runner waits for every holder of its pipe to end). The trap ends the
# server and the services at exit.
wine_started=1
wineserver -p 2>/dev/null || true  # (already running: fine)
wine cmd /c exit </dev/null >/dev/null 2>&1

for dir in build-win32 build-win64; do
    if [ "$dir" = build-win32 ] && [ "$run_win32" = 0 ]; then
        echo "== test suite under wine: $dir skipped (no 32-bit wine here)"
        continue
    fi
    echo "== test suite under wine: $dir"
    ctest --test-dir "$dir" --output-on-failure
done

echo "== end-to-end calls under wine (builds and suites took $(( $(date +%s) - start )) s)"
python3 scripts/windows_end_to_end.py \
    --linux build/qern --win32 "$([ "$run_win32" = 1 ] && echo build-win32/qern.exe)" --win64 build-win64/qern.exe
