#!/usr/bin/env bash
# Runs every end-to-end scenario under Wine, each in a fresh prefix.
set -uo pipefail
cd "$(dirname "$0")"
# Which build runs under Wine here (scripts/wine_bits.sh), found once for all
# the scenarios.
E2E_WINE_KIND="${E2E_WINE_KIND:-$(bash ../scripts/wine_bits.sh)}"
export E2E_WINE_KIND
case "$E2E_WINE_KIND" in
    32) echo "Wine runs 32-bit programs natively: the scenarios run the shipped build/windows/Kurrelfix.exe" ;;
    qemu) echo "Wine runs 32-bit programs through qemu-user: the scenarios run the shipped build/windows/Kurrelfix.exe" \
        "in a 64-bit prefix; what qemu cannot show runs on build/windows64 where a scenario says so" ;;
    *) echo "Wine cannot run 32-bit programs here: the scenarios run build/windows64/Kurrelfix.exe" ;;
esac
passed=0
failed=0
# A scenario that this machine cannot run exits with 77 (lib.sh's
# skip_scenario): counted apart, never as passed.
skipped=0
for scenario in scenarios/*.sh; do
    [ -e "$scenario" ] || continue
    echo "-- $scenario"
    began=$SECONDS
    bash "$scenario"
    result=$?
    # Each scenario's time, so that the one that grew shows in the output.
    echo "-- $scenario took $((SECONDS - began)) s"
    case $result in
        0) passed=$((passed + 1)) ;;
        77) skipped=$((skipped + 1)) ;;
        *) failed=$((failed + 1)) ;;
    esac
done
[ "$skipped" -eq 0 ] || echo "$skipped skipped (this machine cannot run them; see their SKIP lines)"
echo "the scenarios took $SECONDS s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
