#!/usr/bin/env bash
# ReplaceFile on a prefix that plays Windows 98 (e2e/replace_file_scenario.sh):
# the held file's deletion goes into WININIT.INI with its short path, and the
# boot carries it out and sets the file aside as WININIT.BAK.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../replace_file_scenario.sh"
replace_file_scenario win98
finish
