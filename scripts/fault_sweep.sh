#!/usr/bin/env bash
# Builds the fault sweep with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs it: whole runs of the tool with each failable function failing at
# its calls, each in a process of its own. Ends with "N passed, M failed" and
# exits non-zero when a run failed. Arguments go to the sweep (--jobs N,
# --only WORKSTATION, --verbose).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset host-sanitize >/dev/null
cmake --build --preset host-sanitize --target kurrelfix_fault_sweep
exec ./build/host-sanitize/tests/fault_sweep/kurrelfix_fault_sweep "$@"
