#!/usr/bin/env bash
# A fleet cleaned at once: five machines, each a prefix of its own with its
# own computer name, run deploy/kurrelfix-run.cmd against one central folder,
# a folder of this machine that every prefix sees as N:, which Wine's drive
# settings mark as a network drive. The machines: clean (run twice, then
# once more with /ONCE, which skips it), infected, infected with a copy held
# open (a restart is needed), one where something writes the worm's open
# command back, and one whose log cannot be written (not finished, never
# clean; /ONCE does not skip it). Then deploy/kurrelfix-report.cmd makes the
# fleet's table from the records. The three infected machines run side by
# side, so their fifteen-second looks overlap.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

RUN_BATCH="$E2E_ROOT/deploy/kurrelfix-run.cmd"
REPORT_BATCH="$E2E_ROOT/deploy/kurrelfix-report.cmd"
SAMPLE="$E2E_HOST_BIN/kurrel_sample"
for tool in "$RUN_BATCH" "$REPORT_BATCH" "$KURRELFIX_EXE" "$SAMPLE" "$E2E_BIN/hold_file.exe"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done
command -v unshare >/dev/null || { echo "  FAIL missing unshare"; exit 1; }
SHELL_KEY='HKCR\exefile\shell\open\command'
WORM_COMMAND='"C:\windows\kurrel.exe" "%1" %*'
HEADER='computer,start,end,exit code,verdict,restart needed,removed now,removed at next boot,failed,shares not back,scanner left off,log'

check "the report batch file has CR LF line ends" crlf_only "$REPORT_BATCH"

central="$(mktemp -d /tmp/kurrelfix-central.XXXXXX)"
machines="$(mktemp -d /tmp/kurrelfix-fleet.XXXXXX)"
stop_fleet() {
    end_prefix_copies
    end_prefix
    rm -rf "$central" "$machines"
}

# One prefix is booted and given the central drive and the two batch files;
# the other machines are copies of it.
new_prefix
trap stop_fleet EXIT
ln -s "$central" "$WINEPREFIX/dosdevices/n:"
wine reg add 'HKLM\Software\Wine\Drives' /v n: /d network /f >/dev/null 2>&1
mkdir -p "$(c_path Deploy)"
cp "$RUN_BATCH" "$REPORT_BATCH" "$KURRELFIX_EXE" "$(c_path Deploy)/"
check "N: is a network drive" \
    bash -c "wine reg query 'HKLM\\Software\\Wine\\Drives' /v n: 2>/dev/null | tr -d '\\r' | grep -qE '^ +n: +REG_SZ +network\$'"
# A copy of the worm on the central drive: the sweeps must leave it alone.
"$SAMPLE" make "$central/bait.exe" 9000 2E30D733 || exit 1
declare -A prefix
prefix[PC-CLEAN]="$E2E_PREFIX"
for name in PC-INFECTED PC-HELD PC-WRITER PC-NOLOG; do
    prefix[$name]="$machines/$name"
    copy_prefix "${prefix[$name]}"
done
for name in "${!prefix[@]}"; do
    (WINEPREFIX="${prefix[$name]}" && start_as_computer "$name") &
done
wait

# run_batch NAME ARGS...: the run batch on machine NAME, with N:\records
# for the records. Its exit code and console (CR removed) are left in files
# of $machines, since the infected machines run in the background.
run_batch() {
    local name="$1"
    shift
    (cd "${prefix[$name]}/drive_c" &&
        WINEPREFIX="${prefix[$name]}" as_computer "$name" \
            wine cmd /c 'C:\Deploy\kurrelfix-run.cmd' "$@" 'N:\records' >"$machines/$name.out" 2>/dev/null)
    echo $? >"$machines/$name.rc"
    tr -d '\r' <"$machines/$name.out" >"$machines/$name.txt"
}
rc_of() { cat "$machines/$1.rc"; }
show() { sed "s/^/  | /" "$machines/$1.txt"; }
# field NAME N [LINE]: field N of machine NAME's record, its last line or line LINE.
field() {
    local file="$central/records/$1.csv"
    if [ -n "${3:-}" ]; then sed -n "$3p" "$file"; else tail -n 1 "$file"; fi | tr -d '\r' | cut -d, -f"$2"
}
records() { [ -f "$central/records/$1.csv" ] && tr -d '\r' <"$central/records/$1.csv" | tail -n +2 | wc -l || echo 0; }

echo "  -- the infected machines, side by side (at ${SECONDS} s)"
p="${prefix[PC-INFECTED]}"
"$SAMPLE" make "$p/drive_c/windows/temp/kurrelsv.exe" 24576 2E30D733 || exit 1
"$SAMPLE" make "$p/drive_c/users/Public/holiday pictures.exe" 9000 2E30D733 || exit 1
WINEPREFIX="$p" wine reg add "$SHELL_KEY" /ve /d "$WORM_COMMAND" /f >/dev/null 2>&1
run_batch PC-INFECTED &
infected=$!

p="${prefix[PC-HELD]}"
"$SAMPLE" make "$p/drive_c/windows/temp/kurrelsv.exe" 24576 2E30D733 || exit 1
"$SAMPLE" make "$p/drive_c/users/Public/in use.exe" 9000 2E30D733 || exit 1
WINEPREFIX="$p" wine reg add "$SHELL_KEY" /ve /d "$WORM_COMMAND" /f >/dev/null 2>&1
(WINEPREFIX="$p" && export WINEPREFIX && hold_file 'C:\users\Public\in use.exe') ||
    { echo "  FAIL the helper did not take the file"; exit 1; }
run_batch PC-HELD &
held=$!

p="${prefix[PC-WRITER]}"
"$SAMPLE" make "$p/drive_c/windows/temp/kurrelsv.exe" 24576 2E30D733 || exit 1
WINEPREFIX="$p" wine reg add "$SHELL_KEY" /ve /d "$WORM_COMMAND" /f >/dev/null 2>&1
stop_writer="$machines/stop-writer"
# Writes the worm's command back every second until told to stop, as a
# part of the worm that the tool did not find would.
( while [ ! -e "$stop_writer" ]; do
      WINEPREFIX="$p" wine reg add "$SHELL_KEY" /ve /d "$WORM_COMMAND" /f >/dev/null 2>&1
      sleep 1
  done ) &
writer=$!
run_batch PC-WRITER &
writing=$!

echo "  -- the clean machine, meanwhile: twice, then with /ONCE (at ${SECONDS} s)"
run_batch PC-CLEAN
show PC-CLEAN
first_log="$(field PC-CLEAN 12)"
sleep 1
run_batch PC-CLEAN
show PC-CLEAN
check "clean: exit code 0" [ "$(rc_of PC-CLEAN)" -eq 0 ]
check "clean: the batch sees the computer name" grep -qxF "PC-CLEAN: exit code 0, Kurrel was not found. Nothing to do." "$machines/PC-CLEAN.txt"
check "clean: the record starts with its header" [ "$(head -n 1 "$central/records/PC-CLEAN.csv")" = "$HEADER"$'\r' ]
check "clean: the second run appends, the first line stays" [ "$(records PC-CLEAN)" -eq 2 -a "$(field PC-CLEAN 12 2)" = "$first_log" ]
check "clean: the record says clean, nothing removed or pending" \
    [ "$(field PC-CLEAN 1,4-12 | sed 's/,PC-CLEAN-[0-9]\{8\}-[0-9]\{6\}\.log$//')" = "PC-CLEAN,0,clean,no,0,0,0,no," ]
start="$(field PC-CLEAN 2)" end="$(field PC-CLEAN 3)"
check "clean: start and end are sortable times, end not before start" \
    bash -c "[[ '$start' =~ ^20[0-9]{2}-[01][0-9]-[0-3][0-9]\ [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\$ && ! '$end' < '$start' ]]"
echo "  clean run: $start to $end"
second_log="$central/records/$(field PC-CLEAN 12)"
check "clean: each run has its own log file" [ "$first_log" != "$(field PC-CLEAN 12)" -a -f "$central/records/$first_log" ]
check "clean: the run's log holds this run's lines only" \
    [ "$(grep -c "^$E2E_VERSION_LINE" "$second_log")" -eq 1 -a "$(tail -n 1 "$second_log")" = $'Kurrelfix tool exit code: 0\r' ]
check "clean: the run's log is the end of the machine's log" \
    cmp -s "$second_log" <(tail -n "$(wc -l <"$second_log")" "${prefix[PC-CLEAN]}/drive_c/windows/Kurrelfix.log")
run_batch PC-CLEAN /ONCE
show PC-CLEAN
check "/ONCE: a clean machine is skipped, with 0" [ "$(rc_of PC-CLEAN)" -eq 0 ]
check "/ONCE: it says so" grep -q "^PC-CLEAN: skipped: its last run, ended .*, found it clean with nothing pending" "$machines/PC-CLEAN.txt"
check "/ONCE: no record is added, and the tool did not run" \
    [ "$(records PC-CLEAN)" -eq 2 -a "$(grep -c '^Kurrelfix tool exit code' "${prefix[PC-CLEAN]}/drive_c/windows/Kurrelfix.log")" -eq 2 ]

echo "  -- a machine whose log cannot be written, twice with /ONCE (at ${SECONDS} s)"
mkdir "${prefix[PC-NOLOG]}/drive_c/windows/Kurrelfix.log"
run_batch PC-NOLOG /ONCE
show PC-NOLOG
run_batch PC-NOLOG /ONCE
show PC-NOLOG
check "no log: the batch ends with 8, not 0" [ "$(rc_of PC-NOLOG)" -eq 8 ]
check "no log: it does not call the machine clean" \
    grep -qF "PC-NOLOG: exit code 0, but the log does not show this run's end" "$machines/PC-NOLOG.txt"
check "no log: recorded as unfinished, twice (/ONCE does not skip it)" \
    [ "$(records PC-NOLOG)" -eq 2 -a "$(field PC-NOLOG 4-5)" = "0,unfinished" ]
check "no log: its run's log is empty" [ ! -s "$central/records/$(field PC-NOLOG 12)" ]

wait "$infected" "$held" "$writing"
touch "$stop_writer"
wait "$writer"
for name in PC-INFECTED PC-HELD PC-WRITER; do show "$name"; done

echo "  -- what the infected machines recorded (at ${SECONDS} s)"
check "infected: exit code 1" [ "$(rc_of PC-INFECTED)" -eq 1 ]
check "infected: no restart needed" grep -qxF "PC-INFECTED: exit code 1, Kurrel was found and removed. No restart is needed." "$machines/PC-INFECTED.txt"
check "infected: cleaned, two copies removed now" [ "$(field PC-INFECTED 4-11)" = "1,cleaned,no,2,0,0,no," ]
check "held: exit code 1" [ "$(rc_of PC-HELD)" -eq 1 ]
check "held: says to restart" grep -qxF "PC-HELD: exit code 1, Kurrel was found and removed. Restart the computer: 1 copies in use are deleted then." "$machines/PC-HELD.txt"
check "held: cleaned, restart needed, one copy now and one at the next boot" [ "$(field PC-HELD 4-11)" = "1,cleaned,yes,1,1,0,no," ]
check "writer: exit code 2" [ "$(rc_of PC-WRITER)" -eq 2 ]
check "writer: recorded as infected" [ "$(field PC-WRITER 4-6)" = "2,infected,no" ]
check "the worm's copy on the network drive is left alone" [ -f "$central/bait.exe" ]
check "no machine's log names a file on N:" \
    bash -c "! grep -qi 'N:\\\\' '${prefix[PC-INFECTED]}/drive_c/windows/Kurrelfix.log' '${prefix[PC-HELD]}/drive_c/windows/Kurrelfix.log' '${prefix[PC-WRITER]}/drive_c/windows/Kurrelfix.log'"

echo "  -- the fleet's table (at ${SECONDS} s)"
# A machine that last reported long ago, and a list naming one that never did.
printf '%s\r\n' "$HEADER" "PC-OLD,2020-01-06 08:00:00,2020-01-06 08:05:00,0,clean,no,0,0,0,no,,PC-OLD-20200106-080000.log" \
    >"$central/records/PC-OLD.csv"
printf '%s\r\n' PC-CLEAN PC-INFECTED PC-HELD PC-WRITER PC-NOLOG PC-OLD PC-GHOST >"$central/expected.txt"
report="$( (cd "${prefix[PC-CLEAN]}/drive_c" &&
    wine cmd /c 'C:\Deploy\kurrelfix-report.cmd' 'N:\records' /DAYS 30 /EXPECT 'N:\expected.txt' 2>/dev/null) | tr -d '\r')"
report_rc=${PIPESTATUS[0]}
sed 's/^/  | /' <<<"$report"
fleet="$central/records/fleet.csv"
check "the report ends with 1: machines need action" [ "$report_rc" -eq 1 ]
check "fleet.csv: the header, then one line per machine, by verdict then computer" \
    same "$(tr -d '\r' <"$fleet" | cut -d, -f1,5)" "computer,verdict" PC-WRITER,infected PC-NOLOG,unfinished \
    PC-HELD,cleaned PC-INFECTED,cleaned PC-CLEAN,clean PC-OLD,clean
check "fleet.csv: each machine's line is its last record" \
    [ "$(grep '^PC-CLEAN,' "$fleet")" = "$(tail -n 1 "$central/records/PC-CLEAN.csv")" ]
check "fleet.csv: CR LF line ends" crlf_only "$fleet"
check "the counts per verdict" same "$(sed -n '/^Kurrelfix fleet report/,/^  clean /p' <<<"$report")" \
    "Kurrelfix fleet report for N:\\records: 6 machines with a record" \
    "  infected    1" "  failed      0" "  unfinished  1" "  cleaned     2" "  clean       2"
check "the machines that need action" same "$(sed -n '/^Machines that need action:/,/^[^ ]/p' <<<"$report" | sed '$d' | sed 's/, last run ended .*//')" \
    "Machines that need action:" "  PC-WRITER: infected; still infected" "  PC-NOLOG: unfinished; no finished run" \
    "  PC-HELD: cleaned; restart needed"
check "the machine whose last run is old" grep -qE '^  PC-OLD: [0-9]+ days, last run ended 2020-01-06 08:05:00, clean$' <<<"$report"
check "only that one is old" [ "$(sed -n '/^Last run more than 30 days ago:/,/^[^ ]/p' <<<"$report" | grep -c '^  ')" -eq 1 ]
check "the expected machine that never reported" same "$(sed -n '/^Expected machines that never reported:/,/^[^ ]/p' <<<"$report" | sed '$d')" \
    "Expected machines that never reported:" "  PC-GHOST"
echo "  (ended at ${SECONDS} s)"
finish
