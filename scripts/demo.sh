#!/usr/bin/env bash
# Runs the release programs in a demo Wine prefix of their own and shows what
# they wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine.sh
. scripts/i386.sh
trap 'wine_stop; i386_release' EXIT
I386_QUIET=1 i386_setup || exit 1
wine_start build/demo-prefix

workdir="build/demo-run"
rm -rf "$workdir"
mkdir -p "$workdir"
cp dist/x64/TaskRoll.exe "$workdir/"

# Shows a processes.dat. Each record is: path, TAB, (empty field), TAB,
# description, '$', CR LF.
show_records() {
    printf '%-60s  %s\n' "EXECUTABLE" "DESCRIPTION"
    tr -d '\r' <"$1" |
        awk -F'\t' '{ sub(/\$$/, "", $3); printf "%-60s  %s\n", $1, $3 }'
}

echo "=== TaskRoll.exe (64-bit) /debuglog: processes.dat ==="
(cd "$workdir" && wine ./TaskRoll.exe /debuglog </dev/null >stdout.bin 2>/dev/null)
show_records "$workdir/processes.dat"
echo "($(wc -l <"$workdir/processes.dat") records; debug log: $workdir/taskroll.log)"

echo
echo "=== TaskRoll.exe (64-bit) /file:system32.txt: processes.dat ==="
# List mode: TaskRoll describes the executables named in a file, one path a
# line (CR LF), here some of Wine's own that carry a version resource.
mkdir -p "$workdir/list"
cp dist/x64/TaskRoll.exe "$workdir/list/"
for name in kernel32.dll comctl32.dll explorer.exe msiexec.exe taskmgr.exe winver.exe; do
    printf 'C:\\windows\\system32\\%s\r\n' "$name"
done >"$workdir/list/system32.txt"
(cd "$workdir/list" && wine ./TaskRoll.exe /file:system32.txt </dev/null >stdout.bin 2>/dev/null)
show_records "$workdir/list/processes.dat"
echo "($(wc -l <"$workdir/list/processes.dat") records of the $(wc -l <"$workdir/list/system32.txt") paths in $workdir/list/system32.txt)"

echo
echo "=== Webroster.exe (32-bit, run $I386_HOW): registered browsers ==="
# So that there is a real browser to list, register the Internet Explorer that
# Wine ships the way Windows registers a browser: under StartMenuInternet of the
# local machine, in the 64-bit view that Webroster reads.
iexplore='C:\Program Files\Internet Explorer\iexplore.exe'
browserkey='HKLM\SOFTWARE\Clients\StartMenuInternet\IEXPLORE.EXE'
if [ -f "$WINEPREFIX/drive_c/Program Files/Internet Explorer/iexplore.exe" ] &&
    wine reg add "$browserkey" /ve /d "Internet Explorer" /f /reg:64 </dev/null >/dev/null 2>&1 &&
    wine reg add "$browserkey\\shell\\open\\command" /ve /d "\"$iexplore\"" /f /reg:64 </dev/null >/dev/null 2>&1; then
    echo "Registered Wine's Internet Explorer ($iexplore) as a browser of the local machine."
else
    echo "Could not register Wine's Internet Explorer; the listing shows what is registered."
fi
wine dist/x86/Webroster.exe </dev/null >"$workdir/webroster.out" 2>/dev/null
# Each line is: key name, '|', display name, '|', quoted open command, in
# UTF-16LE with CR LF; shown here in the terminal's encoding.
iconv -f UTF-16LE -t "$(locale charmap)" <"$workdir/webroster.out" | tr -d '\r'
