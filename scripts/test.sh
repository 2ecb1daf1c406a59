#!/usr/bin/env bash
# Builds both architectures with their tests and runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh all

. scripts/wine.sh
trap wine_stop EXIT
wine_start build/wineprefix

status=0
for arch in x64 x86; do
    echo "=== Tests of the $arch build ==="
    (cd "build/$arch" && ctest --output-on-failure --timeout 600) || status=1
done
exit $status
