#!/usr/bin/env bash
# The batch file for many workstations, deploy/kurrelfix-run.cmd, run as it
# is with Wine's cmd, Kurrelfix.exe beside it and a folder for the logs: on a
# clean machine it says 0, on an infected
# one 1, on one where something writes the worm's open command back while
# the tool waits 2, and it does not call a run that left no finished log
# clean (it ends with 8 there); it ends with the tool's exit code each time
# the log shows the run's end, adds one line to <computer name>.csv in the
# folder and copies this run's log lines beside it. Without Kurrelfix.exe
# beside it, it says so, records that and ends with 9.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

BATCH="$E2E_ROOT/deploy/kurrelfix-run.cmd"
SAMPLE="$E2E_HOST_BIN/kurrel_sample"
for tool in "$BATCH" "$KURRELFIX_EXE" "$SAMPLE"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done
SHELL_KEY='HKCR\exefile\shell\open\command'
WORM_COMMAND='"C:\windows\kurrel.exe" "%1" %*'

check "the batch file has CR LF line ends" crlf_only "$BATCH"

new_prefix
mkdir -p "$(c_path Deploy)"
cp "$BATCH" "$KURRELFIX_EXE" "$(c_path Deploy)/"
# Wine now and then starts a process without COMPUTERNAME in its environment
# (seen once in some hundred runs of this batch), which Windows never does:
# the name is asked until Wine gives it, and each batch run gets that name as
# Windows would give it.
name="$(prefix_computer_name)"
echo "  computer name: $name"
check "Wine gives the prefix a computer name" [ -n "$name" ]
record="$(c_path "Logs/$name.csv")"

# run_batch: runs the batch file as a startup script would; sets BATCH_RC
# and BATCH_OUT (its console, CR removed).
run_batch() {
    BATCH_OUT="$( (cd "$WINEPREFIX/drive_c" &&
        wine cmd /c "set COMPUTERNAME=$name& C:\\Deploy\\kurrelfix-run.cmd C:\\Logs" 2>/dev/null) | tr -d '\r')"
    BATCH_RC=${PIPESTATUS[0]}
    [ -n "${E2E_BACKGROUND:-}" ] || timeout 60 wineserver -w
    sed 's/^/  | /' <<<"$BATCH_OUT"
}
# expect_run CODE TEXT: what the batch said and left after a run.
expect_run() {
    local log
    log="$(log_file)"
    check "$1: the batch file ends with exit code $1" [ "$BATCH_RC" -eq "$1" ]
    check "$1: it says so" grep -qxF "$name: exit code $1, $2" <<<"$BATCH_OUT"
    check "$1: it names the log" grep -qxF "$name: log C:\\windows\\Kurrelfix.log" <<<"$BATCH_OUT"
    check "$1: nothing else on its console (the tool's own lines are hidden)" [ "$(wc -l <<<"$BATCH_OUT")" -eq 2 ]
    check "$1: the log ends with the exit code line" [ "$(tail -n 1 "$log")" = "Kurrelfix tool exit code: $1"$'\r' ]
    local runlog
    runlog="$(c_path "Logs/$(tail -n 1 "$record" | tr -d '\r' | cut -d, -f12)")"
    check "$1: the record's last line has the exit code" [ "$(tail -n 1 "$record" | cut -d, -f1,4)" = "$name,$1" ]
    check "$1: this run's log lines are beside it, and only they" \
        [ "$(grep -c "^$E2E_VERSION_LINE" "$runlog")" -eq 1 -a "$(tail -n 1 "$runlog")" = "Kurrelfix tool exit code: $1"$'\r' ]
}

echo "  -- a clean machine"
run_batch
expect_run 0 "Kurrel was not found. Nothing to do."

echo "  -- an infected machine"
"$SAMPLE" make "$(c_path 'windows/temp/kurrelsv.exe')" 24576 2E30D733 || exit 1
"$SAMPLE" make "$(c_path 'users/Public/holiday pictures.exe')" 9000 2E30D733 || exit 1
wine reg add "$SHELL_KEY" /ve /d "$WORM_COMMAND" /f >/dev/null 2>&1
run_batch
expect_run 1 "Kurrel was found and removed. No restart is needed."
check "1: the worm's copies are gone" \
    [ ! -e "$(c_path 'windows/temp/kurrelsv.exe')" -a ! -e "$(c_path 'users/Public/holiday pictures.exe')" ]
check "1: the open command is repaired" \
    bash -c "wine reg query '$SHELL_KEY' /ve 2>/dev/null | tr -d '\\r' | grep -qE '^ +\\(Default\\) +REG_SZ +\"%1\" %\\*\$'"
check "1: the record holds both runs" [ "$(grep -c "^$name," "$record")" -eq 2 ]

echo "  -- a machine where something puts the worm's open command back"
"$SAMPLE" make "$(c_path 'windows/temp/kurrelsv.exe')" 24576 2E30D733 || exit 1
wine reg add "$SHELL_KEY" /ve /d "$WORM_COMMAND" /f >/dev/null 2>&1
# Writes the worm's command back every second until told to stop, as a
# part of the worm that the tool did not find would.
stop_writer="$WINEPREFIX/stop-writer"
( while [ ! -e "$stop_writer" ]; do
      wine reg add "$SHELL_KEY" /ve /d "$WORM_COMMAND" /f >/dev/null 2>&1
      sleep 1
  done ) &
writer=$!
E2E_BACKGROUND=1
run_batch
touch "$stop_writer"
wait "$writer"
unset E2E_BACKGROUND
timeout 60 wineserver -w
expect_run 2 "Kurrel is still active: something wrote its open command back. Disconnect the computer from the network, restart it and run the tool again."
check "2: the copy was deleted all the same" [ ! -e "$(c_path 'windows/temp/kurrelsv.exe')" ]
check "2: the record holds all three runs" [ "$(grep -c "^$name," "$record")" -eq 3 ]

echo "  -- a machine where the run leaves no log"
# A folder where the log should be: the tool cannot open its log, so nothing
# shows that the run went to its end, as after a run without administrator
# rights (which Wine cannot give).
rm -f "$(log_file)"
mkdir "$(c_path windows/Kurrelfix.log)"
run_batch
check "no log: the batch file ends with exit code 8, not 0" [ "$BATCH_RC" -eq 8 ]
check "no log: it does not claim the machine is clean" \
    grep -qxF "$name: exit code 0, but the log does not show this run's end: most likely the tool lacked administrator rights, could not write C:\\windows\\Kurrelfix.log or was ended. Run it as an administrator or from a startup script." <<<"$BATCH_OUT"
check "no log: recorded as unfinished" [ "$(tail -n 1 "$record" | cut -d, -f4,5)" = "0,unfinished" ]
rmdir "$(c_path windows/Kurrelfix.log)"

echo "  -- Kurrelfix.exe missing"
rm -f "$(c_path Deploy/Kurrelfix.exe)"
run_batch
check "without the tool it ends with 9" [ "$BATCH_RC" -eq 9 ]
check "and says where it looked" grep -qxF "$name: Kurrelfix.exe is not in C:\\Deploy\\" <<<"$BATCH_OUT"
check "and records it as unfinished, with 9" [ "$(tail -n 1 "$record" | cut -d, -f4,5)" = "9,unfinished" ]
finish
