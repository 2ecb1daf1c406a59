#!/usr/bin/env bash
# The fuzz targets of the core (fuzz/fuzz_<name>.cpp), built natively with
# clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer into
# build/fuzz/.
#   scripts/fuzz.sh run      fuzzes each target for FUZZ_SECONDS (default 60)
#                            from its seed corpus; a crashing input is kept in
#                            fuzz/crashes/<name>/ and the run exits non-zero
#   scripts/fuzz.sh replay   runs the seed corpus and every kept crash input
#                            once through each target (part of make test)
set -euo pipefail
cd "$(dirname "$0")/.."
mode="${1:-run}"
seconds="${FUZZ_SECONDS:-60}"
targets=(versioninfo peresource perfdata namelist regtext record ownerplaces cmdline snapshot readerprotocol javalookup)
out=build/fuzz
mkdir -p "$out"

core=(core/*.cpp)
for name in "${targets[@]}"; do
    binary="$out/fuzz_$name"
    # Rebuilt only when a source is newer than the target.
    if [ -x "$binary" ] && [ -z "$(find core fuzz -newer "$binary" \( -name '*.cpp' -o -name '*.h' \) | head -n 1)" ]; then
        continue
    fi
    clang++-14 -std=c++17 -O1 -g -Wall -Wextra -Werror -fsanitize=fuzzer,address,undefined \
        -fno-sanitize-recover=undefined -Icore -o "$binary" "fuzz/fuzz_$name.cpp" "${core[@]}"
done

status=0
for name in "${targets[@]}"; do
    seeds="fuzz/corpus/$name"
    crashes="fuzz/crashes/$name"
    mkdir -p "$crashes"
    if [ "$mode" = "replay" ]; then
        # Files given one by one are each run once; -runs=0 would not stop at an empty folder.
        inputs=$(find "$seeds" "$crashes" -type f ! -name .gitkeep | sort)
        count=$(printf '%s\n' "$inputs" | grep -c . || true)
        if [ "$count" -gt 0 ] && ! printf '%s\n' "$inputs" | xargs "$out/fuzz_$name" >"$out/replay_$name.log" 2>&1; then
            echo "fuzz_$name: FAILED on a corpus or crash input (see $out/replay_$name.log)"
            status=1
        else
            echo "fuzz_$name: $count inputs replayed, no failure"
        fi
        continue
    fi
    # New inputs go to a working corpus under build/, so the committed seeds stay small.
    work="$out/corpus/$name"
    mkdir -p "$work"
    log="$out/fuzz_$name.log"
    if "$out/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$crashes/" \
        -max_len=70000 -rss_limit_mb=2048 -timeout=10 "$work" "$seeds" >"$log" 2>&1; then
        verdict="no failure"
    else
        verdict="FAILED, input kept in $crashes/ (see $log)"
        status=1
    fi
    runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | awk '{ print $2 }' | tail -n 1)
    coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)
    echo "fuzz_$name: ${runs:-?} executions in ${seconds} s, ${coverage:-cov: ?}, $verdict"
done
exit $status
