#!/usr/bin/env bash
# Builds the host tests, the Windows program and its test programs, and the fuzzers.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
