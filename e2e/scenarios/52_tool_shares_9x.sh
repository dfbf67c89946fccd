#!/usr/bin/env bash
# The tool's share stages on a prefix that plays Windows 98, with the test-only share
# library in its system folder (e2e/tool_shares_scenario.sh): every share but IPC$ off
# the network during the run and back with every field afterwards, a refused
# deletion reported and re-added, and a run killed during its 15-second wait
# whose journal brings the shares back in the next run.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_shares.sh"
source "$(dirname "$0")/../tool_shares_scenario.sh"
tool_shares_scenario 9x
finish
