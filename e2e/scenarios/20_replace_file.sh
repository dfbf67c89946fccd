#!/usr/bin/env bash
# ReplaceFile on an NT-family prefix (e2e/replace_file_scenario.sh): the held
# file is left for the next boot with MoveFileExA, and the boot deletes it.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../replace_file_scenario.sh"
replace_file_scenario nt
finish
