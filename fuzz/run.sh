#!/usr/bin/env bash
# Runs every fuzz target: first over its kept regression inputs, then for a
# bounded time (FUZZ_SECONDS, 60 by default). A crash fails the run.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"
status=0
for target in build/fuzz/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name="$(basename "$target")"
    regressions="fuzz/regressions/${name#fuzz_}"
    corpus="$(mktemp -d)"
    echo "-- $name"
    if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
        "$target" "$regressions"/* >/dev/null 2>&1 || { echo "  regression input crashed"; status=1; }
    fi
    if "$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2>"$corpus.log"; then
        grep -E 'stat::number_of_executed_units' "$corpus.log" | sed 's/^/  /'
    else
        echo "  CRASH: see below"; tail -40 "$corpus.log"; status=1
    fi
    rm -rf "$corpus" "$corpus.log"
done
exit $status
