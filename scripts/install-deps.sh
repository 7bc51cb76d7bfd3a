#!/usr/bin/env bash
# Installs what building and testing QERN needs on Debian or Ubuntu.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
    g++ cmake ninja-build libgtest-dev libbenchmark-dev python3 python3-yaml zip time >/dev/null
# Fuzzing (clang's libFuzzer and sanitizer runtimes), the memory check, and
# the build with clang and libc++ (GoogleTest built from its sources there).
$SUDO apt-get install -y -qq --no-install-recommends \
    clang libclang-rt-dev valgrind libc++-dev libc++abi-dev googletest >/dev/null
