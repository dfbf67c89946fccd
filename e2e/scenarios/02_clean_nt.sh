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

# Nothing on a clean machine is the tool's to change: the open command for
# programs, win.ini and a run= entry that names an ordinary program stay as
# they were, and no win.bak is made.
open_command='HKCR\exefile\shell\open\command'
windows_section='HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows'
wine reg add "$windows_section" /v run /d 'C:\Program Files\Clock\clock.exe' /f >/dev/null 2>&1
settings() {
    wine reg query "$open_command" /ve 2>/dev/null | tr -d '\r'
    wine reg query "$windows_section" /v run 2>/dev/null | tr -d '\r'
    cat "$(c_path windows/win.ini)"
}
settings >"$WINEPREFIX/settings-before.txt"
check "the open command is Wine's own before the runs" \
    grep -qE '^ *\(Default\) +REG_SZ +"%1" %\*$' "$WINEPREFIX/settings-before.txt"
check "run= names the ordinary program before the runs" \
    grep -qE '^ *run +REG_SZ +C:\\Program Files\\Clock\\clock.exe$' "$WINEPREFIX/settings-before.txt"

check_clean_runs
settings >"$WINEPREFIX/settings-after.txt"
check "the open command, run= and win.ini are unchanged" \
    diff -u "$WINEPREFIX/settings-before.txt" "$WINEPREFIX/settings-after.txt"
check "no win.bak was made" [ -z "$(find "$(c_path windows)" -maxdepth 1 -iname win.bak)" ]
check "the log holds no repair" \
    bash -c "! grep -qE 'Update shell key|win.ini run=|Infection is' '$(log_file)'"
check "the log says the shell key was left alone" \
    grep -qxF $'Infection was not found, the shell key is not updated\r' "$(log_file)"
finish
