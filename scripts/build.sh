#!/usr/bin/env bash
# Configures and builds both architectures. "release" builds the programs only
# and copies them to dist/; "all" also builds the test programs.
set -euo pipefail
cd "$(dirname "$0")/.."
what="${1:-release}"
export MAKEFLAGS=--no-print-directory

. scripts/configure.sh
for arch in x64 x86; do
    tree="build/$arch"
    configure_tree "$tree" "$arch"
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
