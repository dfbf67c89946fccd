#!/usr/bin/env bash
# Runs every end-to-end scenario under Wine, each in a fresh prefix.
set -uo pipefail
cd "$(dirname "$0")"
passed=0
failed=0
# A scenario that this machine cannot run exits with 77 (lib.sh's
# skip_scenario): counted apart, never as passed.
skipped=0
for scenario in scenarios/*.sh; do
    [ -e "$scenario" ] || continue
    echo "-- $scenario"
    bash "$scenario"
    case $? in
        0) passed=$((passed + 1)) ;;
        77) skipped=$((skipped + 1)) ;;
        *) failed=$((failed + 1)) ;;
    esac
done
[ "$skipped" -eq 0 ] || echo "$skipped skipped (this machine cannot run them; see their SKIP lines)"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
