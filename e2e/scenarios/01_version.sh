#!/usr/bin/env bash
# /VER in any letter case prints the version and ends at once: exit code 0,
# no log file, nothing else done.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

new_prefix
for arguments in "/VER" "/ver" "/SILENT /Ver"; do
    # shellcheck disable=SC2086 # the switches are meant to split
    run_tool $arguments
    check "$arguments: exit code 0" [ "$TOOL_RC" -eq 0 ]
    check "$arguments: prints the version line alone" [ "$TOOL_OUT" = "Kurrelfix v1.00.5" ]
    check "$arguments: no log file in C:\\windows" [ ! -e "$(log_file)" ]
done
finish
