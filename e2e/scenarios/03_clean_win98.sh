#!/usr/bin/env bash
# The clean silent run again, on a prefix that plays Windows 98: the tool
# must start and end the same way on the 9x family.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

new_prefix win98
check "the prefix's Windows version is win98" \
    bash -c "wine reg query 'HKCU\\Software\\Wine' /v Version 2>/dev/null | tr -d '\\r' | grep -qiE 'Version[[:space:]]+REG_SZ[[:space:]]+win98'"
check "the prefix plays Windows 98 (platform 1)" \
    bash -c "wine '$E2E_BIN/report_platform.exe' 2>/dev/null | tr -d '\\r' | grep -qx 'platform 1 family 1 nt 0'"
check_clean_runs
finish
