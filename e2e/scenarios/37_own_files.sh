#!/usr/bin/env bash
# The tool's own files in C:\windows are never written through a name that
# someone else planted there (on NT 4.0 everyone may write that folder, on
# 2000 and XP Power Users may). On an NT prefix:
# 1. Kurrelfix.log is a hard link to an administrator's batch file, and
#    win.bak one to another file: after an infected run both files are as
#    they were; the planted log lies aside as Kurrelfix.log.linked, the new
#    log's second line says so, win.bak is a fresh copy of win.ini with one
#    name, and the next run appends to the new log.
# (A journal kept by a hard link and put back later: 51_tool_shares_nt.sh.)
#
# Builds: the tool is the shipped build; nothing else runs.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

SAMPLE="$E2E_HOST_BIN/kurrel_sample"
for tool in "$KURRELFIX_EXE" "$SAMPLE"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done

plant_worm() {
    mkdir -p "$(c_path 'Kurrel Test')"
    "$SAMPLE" make "$(c_path 'Kurrel Test/copy.exe')" 20000 2E30D733 >/dev/null &&
        wine reg add 'HKCR\exefile\shell\open\command' /ve /d '"C:\Kurrel Test\copy.exe" "%1" %*' /f \
            >/dev/null 2>&1
}
links_of() { stat -c '%h' "$1"; }

echo "-- the log and win.bak planted as hard links"
new_prefix
mkdir -p "$(c_path Admin)"
printf '@echo off\r\nrem the nightly task\r\n' >"$(c_path Admin/task.bat)"
printf 'notes of the administrator\r\n' >"$(c_path Admin/notes.txt)"
cp "$(c_path Admin/task.bat)" "$WINEPREFIX/task.before"
cp "$(c_path Admin/notes.txt)" "$WINEPREFIX/notes.before"
rm -f "$(c_path windows/Kurrelfix.log)" "$(c_path windows/win.bak)"
ln "$(c_path Admin/task.bat)" "$(c_path windows/Kurrelfix.log)"
ln "$(c_path Admin/notes.txt)" "$(c_path windows/win.bak)"
cp "$(c_path windows/win.ini)" "$WINEPREFIX/win.ini.before"
check "the worm is planted" plant_worm
run_tool /SILENT
log="$(log_file)"
tr -d '\r' <"$log" | grep -v '^\[VTSU - FileExist' | sed 's/^/  | /'
check "exit code 1" [ "$TOOL_RC" -eq 1 ]
check "the batch file is as it was" cmp -s "$WINEPREFIX/task.before" "$(c_path Admin/task.bat)"
check "the other file is as it was" cmp -s "$WINEPREFIX/notes.before" "$(c_path Admin/notes.txt)"
check "the planted log lies aside, still the batch file's second name" \
    [ "$(stat -c '%i' "$(c_path windows/Kurrelfix.log.linked)")" = "$(stat -c '%i' "$(c_path Admin/task.bat)")" ]
check "the new log has one name" [ "$(links_of "$log")" -eq 1 ]
check "its first line is the version line" same "$(tr -d '\r' <"$log" | sed -n 1p)" "Kurrelfix v1.00.5"
check "its second says what was found" same "$(tr -d '\r' <"$log" | sed -n 2p)" \
    "Log file C:\\windows\\Kurrelfix.log was not the tool's own (it has more than one name (a hard link)): set aside as C:\\windows\\Kurrelfix.log.linked, a new log is started"
check "win.bak is a fresh copy of win.ini" cmp -s "$WINEPREFIX/win.ini.before" "$(c_path windows/win.bak)"
check "win.bak has one name" [ "$(links_of "$(c_path windows/win.bak)")" -eq 1 ]
check "the batch file keeps two names: its own and the set-aside log's" [ "$(links_of "$(c_path Admin/task.bat)")" -eq 2 ]
check "the other file has one name again" [ "$(links_of "$(c_path Admin/notes.txt)")" -eq 1 ]

run_tool /SILENT
check "the next run: exit code 0" [ "$TOOL_RC" -eq 0 ]
check "it appended to the new log: two version lines, one set-aside line" \
    [ "$(tr -d '\r' <"$log" | grep -c '^Kurrelfix v1.00.5$')" -eq 2 -a "$(tr -d '\r' <"$log" | grep -c '^Log file ')" -eq 1 ]
finish
