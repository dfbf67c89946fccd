#!/usr/bin/env bash
# Runs every end-to-end scenario under Wine, each in a fresh prefix.
set -uo pipefail
cd "$(dirname "$0")"
passed=0
failed=0
for scenario in scenarios/*.sh; do
    [ -e "$scenario" ] || continue
    echo "-- $scenario"
    if bash "$scenario"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
