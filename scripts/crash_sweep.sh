#!/usr/bin/env bash
# Builds the crash sweep with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs it: whole runs of the tool stopped at one of their calls as a kill
# stops them, then run again on the same workstation, each pair in a process
# of its own. Ends with "N passed, M failed" and exits non-zero when a pair
# failed. Arguments go to the sweep (--jobs N, --per-function N: how many
# calls of each function are stops, sampled when it makes more).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset host-sanitize >/dev/null
cmake --build --preset host-sanitize --target kurrelfix_crash_sweep
exec ./build/host-sanitize/tests/fault_sweep/kurrelfix_crash_sweep "$@"
