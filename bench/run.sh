#!/usr/bin/env bash
# make bench: builds the release programs and the benchmark's programs in trees
# of their own, boots the private Wine prefix build/bench-prefix, runs the
# runner there and prints its table (also kept in build/bench-run/table.txt).
# Never part of `make test`.
#
# The release programs are built from the working tree into build/bench-rel-x64
# and build/bench-rel-x86 with the release options of ../CMakeLists.txt (tests
# off), not taken from dist/: so the benchmark never collides with a build or
# test run in build/x64, build/x86 or dist/. With BENCH_REV=<commit> they are
# built from that commit instead (exported with git archive into
# build/bench-src, built in build/bench-revrel-x64 and -x86), e.g. BENCH_REV=HEAD
# to compare uncommitted work with the last commit.
#
# Environment: BENCH_RUNS (rounds, default 7), BENCH_FILES (paths in the list
# file, default 2000), BENCH_LOG_FILES (paths in the shorter list of the
# /debuglog pair, default 200), BENCH_PROCS (waiter processes, default 100),
# BENCH_BROWSERS (registered browsers, default 1000), BENCH_JAVA_RUNS (rounds of the
# crafted Java process against a plain run, default 3), BENCH_JAVA_DIRS (its
# hsperfdata_* directories in each place, default 256).
set -euo pipefail
cd "$(dirname "$0")/.."
export MAKEFLAGS=--no-print-directory

source="."
rel="build/bench-rel"
if [ -n "${BENCH_REV:-}" ]; then
    source="build/bench-src"
    rel="build/bench-revrel"
    rm -rf "$source" "$rel-x64" "$rel-x86"
    mkdir -p "$source"
    git archive "$BENCH_REV" | tar -x -C "$source"
fi
echo "Building the release programs (from ${BENCH_REV:-the working tree}) and the benchmark programs ..."
. scripts/configure.sh
for arch in x64 x86; do
    configure_tree "$rel-$arch" "$arch" -S "$source" -DTASKTOOLS_TESTS=OFF
    configure_tree "build/bench-$arch" "$arch" -S bench
    cmake --build "$rel-$arch" -j 2 --target TaskRoll Webroster >/dev/null
    cmake --build "build/bench-$arch" -j 2 >/dev/null
done

. scripts/wine.sh
. scripts/i386.sh
runner="build/bench-x64/bin/bench_runner.exe"
cleanup() {
    # The runner removes its test browsers and crafted Java directories itself;
    # this covers a run that failed or was interrupted before it could.
    timeout 60 wine "$runner" --cleanup </dev/null >/dev/null 2>&1 || true
    wine_stop
    i386_release
}
trap cleanup EXIT
trap 'exit 130' INT TERM
I386_QUIET=1 i386_setup || exit 1
wine_start build/bench-prefix

work="build/bench-run"
rm -rf "$work"
mkdir -p "$work"
win() { winepath -w "$1" 2>/dev/null; }

echo "Wine $(wine --version | sed 's/^wine-//'), $(nproc) cores; running the benchmark in $WINEPREFIX ..."
wine "$runner" \
    --work "$(win "$work")" \
    --taskroll "$(win "$rel-x64/bin/TaskRoll.exe")" \
    --webroster "$(win "$rel-x86/bin/Webroster.exe")" \
    --floor-browsers "$(win build/bench-x86/bin/floor_browsers.exe)" \
    --runs "${BENCH_RUNS:-7}" --files "${BENCH_FILES:-2000}" --log-files "${BENCH_LOG_FILES:-200}" \
    --procs "${BENCH_PROCS:-100}" --browsers "${BENCH_BROWSERS:-1000}" \
    --java-runs "${BENCH_JAVA_RUNS:-3}" --java-dirs "${BENCH_JAVA_DIRS:-256}" --machine "$I386_MODE" \
    --table "$(win "$work/table.txt")" </dev/null
# Row 5 measures the x86 Webroster (and its x86 floor): how 32-bit code runs
# here moves it by up to 2.5x.
echo "Row 5 runs 32-bit x86 programs $I386_HOW." | tee -a "$work/table.txt"
