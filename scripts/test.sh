#!/usr/bin/env bash
# Sets up this machine, builds everything and runs every test: the host tests
# on the simulated workstation, the end-to-end scenarios under Wine, and a
# bounded run of each fuzzer. Exits non-zero when anything fails.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || exit 1
bash scripts/build.sh || exit 1

status=0
echo "== host tests"
ctest --preset host -j2 || status=1
echo "== end-to-end under Wine"
bash e2e/run.sh || status=1
echo "== fuzzers"
bash fuzz/run.sh || status=1

[ $status -eq 0 ] && echo "all tests passed" || echo "SOME TESTS FAILED"
exit $status
