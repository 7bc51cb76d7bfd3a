#!/usr/bin/env bash
# Installs what the Windows cross build and its tests under wine need on
# Debian: the mingw-w64 cross compilers for 32-bit and 64-bit Windows, the
# GoogleTest sources (built for the cross target), and wine with its 32-bit
# part, which needs the i386 architecture.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq \
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest python3 \
    wine wine32 wine64 >/dev/null
