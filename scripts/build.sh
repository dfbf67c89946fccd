#!/usr/bin/env bash
# Builds the host tests, the Windows program and its test programs, and the fuzzers.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset host >/dev/null
cmake --build --preset host
# The host tests once more, under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset host-sanitize >/dev/null
cmake --build --preset host-sanitize --target kurrelfix_tests
# The fault sweep, under the same sanitizers (scripts/fault_sweep.sh runs it).
cmake --build --preset host-sanitize --target kurrelfix_fault_sweep
cmake --preset windows >/dev/null
cmake --build --preset windows
# A machine whose kernel cannot run 32-bit programs runs the Wine scenarios
# with the 64-bit build of the same sources, or, where 32-bit Wine runs
# through qemu-user, runs there what qemu cannot show (scripts/wine_bits.sh).
if [ "$(bash scripts/wine_bits.sh)" != 32 ]; then
    cmake --preset windows64 >/dev/null
    cmake --build --preset windows64
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
