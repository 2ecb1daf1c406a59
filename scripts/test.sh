#!/usr/bin/env bash
# Runs the core's native tests, builds both architectures with their tests,
# checks the release (checksums, a second build byte for byte), replays the
# fuzz corpus through the sanitized fuzz targets and runs every test under
# Wine; CTest's summary comes last.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/configure.sh

status=0
# The core's rules first, natively and in seconds: a fault there shows before
# the long cross builds and the Wine suites.
echo "=== Native tests of the core: build/native ==="
scripts/coretests.sh || status=1

scripts/build.sh all

echo "=== Release checksums: dist/SHA256SUMS ==="
(cd dist && sha256sum -c SHA256SUMS) || status=1

# The same commit must give the same bytes wherever it is built: build the
# release programs afresh in another tree and compare them with dist/.
echo "=== Reproducible release: second build in build/repro ==="
declare -A targets=([x64]=TaskRoll [x86]=TaskRoll)
programs=(x64/TaskRoll.exe x86/TaskRoll.exe)
if [ -f webroster/CMakeLists.txt ]; then
    targets[x86]+=" Webroster"
    programs+=(x86/Webroster.exe)
fi
rm -rf build/repro
for arch in x64 x86; do
    tree="build/repro/$arch"
    configure_tree "$tree" "$arch" -DTASKTOOLS_TESTS=OFF
    cmake --build "$tree" -j 2 --target ${targets[$arch]} >/dev/null
done
for program in "${programs[@]}"; do
    again="build/repro/${program%%/*}/bin/${program#*/}"
    if cmp -s "dist/$program" "$again"; then
        echo "reproducible: dist/$program is byte-identical to $again"
    else
        echo "NOT REPRODUCIBLE: dist/$program differs from $again"
        status=1
    fi
done

# The core's parsers under AddressSanitizer and UndefinedBehaviorSanitizer:
# the committed seed corpus and every input that once made a target fail.
echo "=== Fuzz corpus replay: build/fuzz ==="
scripts/fuzz.sh replay || status=1

# A small volume for the output's directory, beside the test programs: a run
# whose new file does not fit there must leave processes.dat as it was. Only
# root may mount one (as CI runs); elsewhere the tests that need it are skipped.
small_volumes=()
if [ "$(id -u)" = 0 ]; then
    for arch in x64 x86; do
        volume="build/$arch/bin/smallvolume"
        mkdir -p "$volume"
        if mountpoint -q "$volume" || mount -t tmpfs -o size=16k,mode=0755 tmpfs "$volume"; then
            small_volumes+=("$volume")
        fi
    done
fi
unmount_small_volumes() {
    for volume in "${small_volumes[@]}"; do
        umount "$volume" || true
    done
}

. scripts/wine.sh
. scripts/i386.sh
trap 'wine_stop; unmount_small_volumes; i386_release' EXIT
I386_QUIET=1 i386_setup || exit 1
# A test that starts a crafted fixture the emulator cannot start or keep alive
# may leave it out, with its reason, where this says the run is emulated.
[ "$I386_MODE" = emulated ] && export TASKTOOLS_I386_EMULATED=1
wine_start build/wineprefix
# Tests that change machine-wide state (the whole browser list, files in
# System32) run only where this mark is: inside the prefix made for the tests.
# Elsewhere, a real Windows machine included, they are skipped with the reason.
touch "$WINEPREFIX/drive_c/tasktools-private-test-prefix"

for arch in x64 x86; do
    echo "=== Tests of the $arch build ==="
    [ "$arch" = x86 ] && echo "32-bit x86 programs run $I386_HOW."
    (cd "build/$arch" && ctest --output-on-failure --timeout 600) || status=1
    # CTest counts a skipped GoogleTest case as passed: each is named here with its reason.
    awk '/: Skipped$/ { getline why } /^\[  SKIPPED \] [^ ]+ \(/ { print "skipped: " $4 ": " why }' \
        "build/$arch/Testing/Temporary/LastTest.log" 2>/dev/null || true
done

# make sign and verify-release on a build of HEAD in a clone of its own, with a
# throwaway CA; the signed programs then pass the release test and run under Wine.
echo "=== Signed release: tests/scripts/test_signing.sh ==="
tests/scripts/test_signing.sh || status=1

exit $status
