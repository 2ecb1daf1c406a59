#!/usr/bin/env bash
# Configures and builds both architectures. "release" builds the programs only
# and copies them to dist/; "all" also builds the test programs.
set -euo pipefail
cd "$(dirname "$0")/.."
what="${1:-release}"
export MAKEFLAGS=--no-print-directory

declare -A toolchain=([x64]=x86_64 [x86]=i686)
for arch in x64 x86; do
    tree="build/$arch"
    # Configured every time (quick): a tree made before a program directory
    # existed then learns of it.
    cmake --no-warn-unused-cli -S . -B "$tree" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-${toolchain[$arch]}.cmake" >/dev/null
    if [ "$what" = "all" ]; then
        cmake --build "$tree" -j 2
    else
        cmake --build "$tree" -j 2 --target TaskRoll Webroster
    fi
    mkdir -p "dist/$arch"
    cp "$tree/bin/TaskRoll.exe" "dist/$arch/"
done
cp build/x86/bin/Webroster.exe dist/x86/
# Checksums of what dist/ ships, paths relative to dist/: check them there with
# `sha256sum -c SHA256SUMS`.
programs=(x64/TaskRoll.exe x86/TaskRoll.exe x86/Webroster.exe)
(cd dist && sha256sum "${programs[@]}" >SHA256SUMS)
