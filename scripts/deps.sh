#!/usr/bin/env bash
# Installs what the build and the tests need and is not there yet: CMake, make,
# the mingw-w64 cross compilers (posix thread model), GoogleTest's source, Wine
# with its 32-bit part, clang with its fuzzing and sanitizer runtime, and, for
# signing a release, openssl and osslsigncode 2.9 or later (from the release's
# backports where the release itself has an older one). Quick when everything
# is already installed.
#
# Written for a package mirror caught in mid-sync: an index that fails to
# download is fetched once more, and an install that cannot be resolved (the
# i386 half of a multiarch library lagging behind its amd64 half) is tried again
# preferring the release's own suite, where both architectures agree.
#
# Every run first makes sure this machine can run 32-bit x86 programs
# (scripts/i386.sh): natively, or where the kernel runs no 32-bit code, under
# qemu's i386 emulator, set up before any i386 package is installed so that
# their install scripts run.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

. scripts/i386.sh
trap i386_release EXIT
i386_setup || exit 1

# The release's backports suite, for the packages that need a newer version
# than the release has; added as scripts/i386.sh adds it for qemu-user.
ensure_backports() {
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || return 0
    BACKPORTS="$codename-backports"
    i386_act_add_backports "$codename" || echo "The package suite $BACKPORTS could not be added."
}

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
have_cmd clang++-14 || missing+=(clang-14)
compgen -G "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null ||
    missing+=(libclang-rt-14-dev)
have_cmd openssl || missing+=(openssl)
# 2.9 is the version the signing and its tests are written against.
backported=()
dpkg --compare-versions "$(dpkg-query -W -f='${Version}' osslsigncode 2>/dev/null)" ge 2.9 ||
    backported+=(osslsigncode)

if [ ${#missing[@]} -eq 0 ] && [ ${#backported[@]} -eq 0 ]; then
    exit 0
fi

fail() {
    echo "deps.sh: $*" >&2
    exit 1
}

echo "Installing: ${missing[*]} ${backported[*]}"
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#backported[@]} -gt 0 ]; then ensure_backports; fi

# apt-get update exits 0 when an index fails to download and only warns; such a
# warning leaves that index as it was (or missing), so the update is run once more.
log=$(mktemp)
trap 'rm -f "$log"; i386_release' EXIT
update() {
    local status=0
    $SUDO apt-get update -q 2>&1 | tee "$log" || status=1
    if grep -qE '^[WE]: (Failed to fetch|Some index files failed)' "$log"; then status=1; fi
    return $status
}
if ! update; then
    echo "Some package index failed to download; updating once more."
    update || echo "Still not every package index could be downloaded; going on with what is there."
fi

# Every package needs a candidate before anything is installed: otherwise apt
# stops on the first unknown one with a message that names only that one.
nocandidate=()
for package in "${missing[@]}"; do
    candidate=$(apt-cache policy "$package" 2>/dev/null | awk '/Candidate:/ { print $2 }')
    if [ -z "$candidate" ] || [ "$candidate" = "(none)" ]; then
        nocandidate+=("$package")
    fi
done
if [ ${#nocandidate[@]} -gt 0 ]; then
    fail "no installable version of: ${nocandidate[*]} (not in the configured package sources; run 'apt-get update' once the mirror is reachable)"
fi

# A backports index missing in mid-sync leaves the release's own (older) version.
if [ ${#backported[@]} -gt 0 ]; then
    apt_install=($SUDO apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600)
    "${apt_install[@]}" ${BACKPORTS:+-t "$BACKPORTS"} "${backported[@]}" || "${apt_install[@]}" "${backported[@]}" ||
        fail "could not install ${backported[*]}"
fi
[ ${#missing[@]} -gt 0 ] || exit 0

install() {
    $SUDO apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 "$@" "${missing[@]}" 2>&1 |
        tee "$log"
    return "${PIPESTATUS[0]}"
}
if install; then
    exit 0
fi
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [ -n "$codename" ]; then
    echo "The install failed; trying again with the packages of the release's own suite ($codename)."
    if install -t "$codename"; then
        exit 0
    fi
fi
why=$(grep -E '^E: ' "$log" | tail -n 3 | tr '\n' ' ')
fail "could not install ${missing[*]}: ${why:-apt-get failed, see its output above}"
