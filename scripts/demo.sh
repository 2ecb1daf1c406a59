#!/usr/bin/env bash
# Runs the release programs in a demo Wine prefix of their own and shows what
# they wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine.sh
trap wine_stop EXIT
wine_start build/demo-prefix

workdir="build/demo-run"
rm -rf "$workdir"
mkdir -p "$workdir"
cp dist/x64/TaskRoll.exe "$workdir/"

echo "=== TaskRoll.exe (64-bit) /debuglog: processes.dat ==="
(cd "$workdir" && wine ./TaskRoll.exe /debuglog </dev/null >stdout.bin 2>/dev/null)
# Each record is: path, TAB, (empty field), TAB, description, '$', CR LF.
printf '%-60s  %s\n' "EXECUTABLE" "DESCRIPTION"
tr -d '\r' <"$workdir/processes.dat" |
    awk -F'\t' '{ sub(/\$$/, "", $3); printf "%-60s  %s\n", $1, $3 }'
echo "($(wc -l <"$workdir/processes.dat") records; debug log: $workdir/taskroll.log)"
