#!/usr/bin/env bash
# Installs what the build and the tests need and is not there yet: CMake, make,
# the mingw-w64 cross compilers (posix thread model), GoogleTest's source, and
# Wine with its 32-bit part. Quick when everything is already installed.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }

have_cmd cmake || missing+=(cmake)
have_cmd make || missing+=(make)
have_cmd x86_64-w64-mingw32-g++-posix || missing+=(g++-mingw-w64-x86-64-posix)
have_cmd i686-w64-mingw32-g++-posix || missing+=(g++-mingw-w64-i686-posix)
have_cmd x86_64-w64-mingw32-windres || missing+=(binutils-mingw-w64-x86-64)
have_cmd i686-w64-mingw32-windres || missing+=(binutils-mingw-w64-i686)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
have_cmd wine || missing+=(wine)
have_pkg wine64 || missing+=(wine64)
have_pkg wine32:i386 || missing+=(wine32:i386)

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
