#!/usr/bin/env bash
# The worm running as a plain user who is logged on. Its command stands in
# that user's classes and its run= in that user's hive, under HKEY_USERS,
# where the administrator's own view shows neither: both are repaired and
# named in the log (exit 1). Written back during the 15-second wait, the
# user's command leaves the machine infected (exit 2). And a worm that wrote
# notepad's name into its own loader list: the process sweep tests the image
# the system names too, ends the process and deletes that image (exit 1),
# notepad untouched.
#
# Builds: the shipped build repairs the user's settings. The helper that
# keeps the user's hive (and writes the command back) is the build whose
# processes run natively here: its bitness does not matter, and where 32-bit
# programs run through qemu-user a 32-bit one that must act in time may not.
# The renamed worm runs on that build too, with the tool: no other process
# reads a qemu-run process's memory as it is, and the process sweep reads a
# process's modules from there.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

SAMPLE="$E2E_HOST_BIN/kurrel_sample"
USER_HIVE="$E2E_NATIVE_BUILD/e2e/user_hive.exe"
for tool in "$KURRELFIX_EXE" "$SAMPLE" "$USER_HIVE" "$E2E_NATIVE_BUILD/e2e/renamed_process.exe"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done
log_has() { tr -d '\r' <"$(log_file)" | grep -xF -- "$1" >/dev/null; }
log_matches() { tr -d '\r' <"$(log_file)" | grep -xE -- "$1" >/dev/null; }

SID='S-1-5-21-1004336348-1177238915-682003330-1003'
CLASSES_KEY="HKU\\${SID}_Classes\\exefile\\shell\\open\\command"
WINDOWS_KEY="HKU\\$SID\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows"
RIGHT='"%1" %*'
WORM_COMMAND='C:\Users\ann\kurrel.exe "%1" %*'

# start_user [rewrite]: the user's hive, kept while the helper runs.
start_user() {
    rm -f "$(c_path Users/ann/hive.ready)" "$(c_path Users/ann/hive.stop)"
    (cd "$WINEPREFIX/drive_c" &&
        exec wine 'C:\Users\ann\user_hive.exe' "$SID" 'C:\Users\ann\hive.ready' 'C:\Users\ann\hive.stop' "$@" \
            >/dev/null 2>&1) &
    for _ in $(seq 1 150); do [ -e "$(c_path Users/ann/hive.ready)" ] && return 0; sleep 0.2; done
    return 1
}
stop_user() {
    : >"$(c_path Users/ann/hive.stop)"
    timeout 30 wineserver -w
}
# A copy of the worm in the user's folder, so that the run finds the worm.
plant_copy() { "$SAMPLE" make "$(c_path Users/ann/kurrel.exe)" 12000 91729FD1 >/dev/null; }

new_prefix
mkdir -p "$(c_path Users/ann)"
cp "$USER_HIVE" "$(c_path Users/ann/user_hive.exe)"

echo "-- the worm's command and run= in a logged-on user's hive"
check "the user's hive holds the worm's values" start_user
check "  its command" [ "$(reg_value "$CLASSES_KEY" '')" = "$WORM_COMMAND" ]
check "  its run=" [ "$(reg_value "$WINDOWS_KEY" run)" = 'C:\Users\ann\kurrel.exe' ]
check "  and the user's Software\\Classes leads to the classes key" \
    [ "$(reg_value "HKU\\$SID\\Software\\Classes\\exefile\\shell\\open\\command" '')" = "$WORM_COMMAND" ]
check "the administrator's own view shows neither" \
    [ "$(reg_value 'HKCR\exefile\shell\open\command' '')" = "$RIGHT" ]
plant_copy
E2E_BACKGROUND=1
run_tool /SILENT
tr -d '\r' <"$(log_file)" | grep -E '^(Deleting|Update|HKEY_USERS|Infection|Reg)' | sed 's/^/  | /'
check "exit code 1" [ "$TOOL_RC" -eq 1 ]
check "the user's command is right" [ "$(reg_value "$CLASSES_KEY" '')" = "$RIGHT" ]
check "  and the log names the user's key" log_has "Update shell key HKEY_USERS\\${SID}_Classes\\exefile\\shell\\open\\command"
check "the user's run= is empty" [ -z "$(reg_value "$WINDOWS_KEY" run)" ]
check "  its old value kept in the log" \
    log_has "HKEY_USERS\\$SID\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows run=C:\\Users\\ann\\kurrel.exe, removing"
stop_user

echo "-- the user's command written back during the wait"
check "the user's hive holds the worm's values again, rewritten every second" start_user rewrite
plant_copy
run_tool /SILENT
check "exit code 2: still infected" [ "$TOOL_RC" -eq 2 ]
check "the log names the user's key" \
    log_has "Infection is still avaliable! HKEY_USERS\\${SID}_Classes\\exefile\\shell\\open\\command"
stop_user
unset E2E_BACKGROUND
end_prefix

echo "-- a worm that names itself notepad in its loader list"
use_build native "a running worm, whose modules the process sweep reads from its memory"
new_prefix
mkdir -p "$(c_path Users/ann)"
cp "$E2E_BIN/renamed_process.exe" "$(c_path Users/ann/helper.exe)" &&
    "$SAMPLE" patch "$(c_path Users/ann/helper.exe)" 91729FD1
printf '%s' 'C:\windows\notepad.exe' >"$(c_path Users/ann/name.txt)"
E2E_BACKGROUND=1
(cd "$WINEPREFIX/drive_c" &&
    exec wine 'C:\Users\ann\helper.exe' 'C:\Users\ann\name.txt' 'C:\Users\ann\renamed.ready' 120 >/dev/null 2>&1) &
worm_pid=$!
for _ in $(seq 1 150); do [ -s "$(c_path Users/ann/renamed.ready)" ] && break; sleep 0.2; done
renamed_pid="$(cat "$(c_path Users/ann/renamed.ready)" 2>/dev/null)"
check "the worm runs" process_running "$worm_pid"
shown="$( (cd "$WINEPREFIX/drive_c" && wine 'C:\Users\ann\helper.exe' /show "$renamed_pid" 2>/dev/null) | tr -d '\r')"
check "its loader list names notepad" [ "$shown" = '[C:\windows\notepad.exe] 22' ]
notepad_before="$(md5sum <"$WINEPREFIX/drive_c/windows/notepad.exe" 2>/dev/null)"
run_tool /SILENT
unset E2E_BACKGROUND
tr -d '\r' <"$(log_file)" | grep -E '^(examinate process .*(helper|notepad)|Process|Deleting)' | sed 's/^/  | /'
check "exit code 1" [ "$TOOL_RC" -eq 1 ]
for _ in $(seq 1 20); do process_gone "$worm_pid" && break; sleep 0.5; done
check "the worm that named itself notepad was ended" process_gone "$worm_pid"
check "and its image deleted" [ ! -e "$(c_path Users/ann/helper.exe)" ]
check "the log tests the image the system names" \
    log_matches 'examinate process C:\\Users\\ann\\helper\.exe \(PID=0x[0-9a-f]+\), its image as the system names it'
check "and names it as the worm" log_matches 'Process C:\\Users\\ann\\helper\.exe \(PID=0x[0-9a-f]+\) is infection'
check "  deleted by that name" log_has 'Deleting file "C:\Users\ann\helper.exe", result=1'
check "notepad is untouched" [ "$(md5sum <"$WINEPREFIX/drive_c/windows/notepad.exe" 2>/dev/null)" = "$notepad_before" ]
end_prefix
finish
