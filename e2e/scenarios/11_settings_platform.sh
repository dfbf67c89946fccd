#!/usr/bin/env bash
# What the settings repair relies on, on the real platform, as the simulated
# workstation models it (its host twin runs the same program there): on the
# NT family the section "windows" of win.ini lives in the current user's
# registry (the file's own run= line is not read, and a write leaves the
# file alone), and RegOpenKeyExA leaves the thread's last error as it was.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

CHECK="$E2E_BIN/settings_check.exe"
TWIN="$E2E_HOST_BIN/settings_check"
for tool in "$CHECK" "$TWIN"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done
MAPPED='HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows'

new_prefix
ini="$(c_path windows/win.ini)"
printf '[windows]\r\nrun=file.exe\r\n[other]\r\nrun=other.exe\r\n' >"$ini"
cp "$ini" "$WINEPREFIX/win.ini.before"
wine reg add "$MAPPED" /v run /d reg.exe /f >/dev/null 2>&1
wineserver -w

out="$(wine "$CHECK" 2>/dev/null | tr -d '\r')"
wineserver -w
expected='windows run: 7 [reg.exe]
other run: 9 [other.exe]
write: 1
windows run after: 0 []
windows missing: 4 [dflt]
open missing key: 2, last error 1234'
echo "$out" >"$WINEPREFIX/out.txt"
echo "$expected" >"$WINEPREFIX/expected.txt"
check "profile and registry answers as the simulation gives them" \
    diff -u "$WINEPREFIX/expected.txt" "$WINEPREFIX/out.txt"
"$TWIN" >"$WINEPREFIX/twin.txt"
check "the simulation gives the same answers" diff -u "$WINEPREFIX/twin.txt" "$WINEPREFIX/out.txt"
check "win.ini itself is not changed" cmp -s "$WINEPREFIX/win.ini.before" "$ini"
check "the run value stays, empty" \
    bash -c "wine reg query '$MAPPED' /v run 2>/dev/null | tr -d '\\r' | grep -Eq '^ +run +REG_SZ *\$'"
finish
