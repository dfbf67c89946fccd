#!/usr/bin/env bash
# A silent run on a clean NT-family prefix: exit code 0, the log in
# C:\windows with CR LF line ends, and a second run appends to it.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

new_prefix
check "the prefix has no Z: drive" [ ! -e "$WINEPREFIX/dosdevices/z:" ]
check "Windows sees no Z: drive either" \
    bash -c "wine cmd /c 'if exist Z:\\ (echo present) else (echo absent)' 2>/dev/null | tr -d '\\r' | grep -qx absent"
check "the prefix plays Windows NT" \
    bash -c "wine '$E2E_BIN/report_platform.exe' 2>/dev/null | tr -d '\\r' | grep -qx 'platform 2 family 2 nt 1'"
check_clean_runs
finish
