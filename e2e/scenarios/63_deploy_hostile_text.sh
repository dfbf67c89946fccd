#!/usr/bin/env bash
# What the deployment batches read is written by others, and none of it runs
# as a command under Wine's cmd. kurrelfix-run.cmd /ONCE runs on an infected
# machine while a plain program that named itself with a line break and
# cmd's special characters is running, with worm copies whose paths hold
# & ( ) ^ % ! , = ; (so the tool's own quoted lines hold them too), with
# hostile lines at the end of the log from before the run, and with a last
# record line that holds every special character; then with a clean line of
# another computer last in its record, then with a well-formed clean line of
# its own that its log does not bear out. Each time nothing runs, the batch
# prints its closing lines, ends with 1, writes its record and cleans the
# machine; a record line that is its own and borne out by its log still lets
# /ONCE skip it. kurrelfix-report.cmd then reads a folder with a record for
# each special character, hostile file names and fields of the wrong form:
# nothing runs, and each of them is named and counted apart as malformed,
# while the well-formed ones (with and without a clock, without the tool,
# with the scanner left off) make the table.
#
# Builds: the shipped build runs every part but one. Where 32-bit programs
# run through qemu-user, the part with the renamed program runs on the 64-bit
# build (its tool and its renamed program): no other process reads a
# qemu-run process's memory as it is, and the name the sweep reads is in the
# program's memory.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

RUN_BATCH="$E2E_ROOT/deploy/kurrelfix-run.cmd"
REPORT_BATCH="$E2E_ROOT/deploy/kurrelfix-report.cmd"
SAMPLE="$E2E_HOST_BIN/kurrel_sample"
RENAMED="$E2E_BIN/renamed_process.exe"
for tool in "$RUN_BATCH" "$REPORT_BATCH" "$KURRELFIX_EXE" "$SAMPLE" "$RENAMED"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done
HEADER='computer,start,end,exit code,verdict,restart needed,removed now,removed at next boot,failed,shares not back,scanner left off,log'
# The name the program gives itself: a comparison that a batch expanding the
# log inside quotes closes early, commands, every special character of cmd,
# and after a line break the head of the tool's own exit code line.
PROCESS_NAME='x"=="x" ver&md \PWND1&rem |<>^%PATH%!PATH!() '$'\n''Kurrelfix tool exit code: 0&md \PWND2&rem "'
# Worm copies whose paths hold what a Windows file name may: the tool logs
# them in its quoted "Found infection" and "Deleting file" lines. The second
# one's folder ends like a line that left a copy for the next boot.
COPIES=('users/Public/a&md PWND3&rem (1)^x%PATH%!PATH!,=;.exe'
        'users/Public/b, result=2/kurrel.exe'
        'windows/temp/)(&md PWND4&echo ^ !x! %x%.exe')

new_prefix
mkdir -p "$(c_path Deploy)" "$(c_path Logs)"
cp "$RUN_BATCH" "$REPORT_BATCH" "$KURRELFIX_EXE" "$(c_path Deploy)/"
cp "$RENAMED" "$(c_path Deploy)/"
# Asked as in 61_deploy_batch.sh: Wine now and then starts a process without
# COMPUTERNAME, so each batch run gets the name the prefix reported.
name="$(prefix_computer_name)"
echo "  computer name: $name"
check "Wine gives the prefix a computer name" [ -n "$name" ]
record="$(c_path "Logs/$name.csv")"

# run_batch ARGS...: kurrelfix-run.cmd ARGS C:\Logs from C:\, as 61 runs it;
# BATCH_RC and BATCH_OUT (CR removed).
run_batch() {
    BATCH_OUT="$( (cd "$WINEPREFIX/drive_c" &&
        wine cmd /c "set COMPUTERNAME=$name& C:\\Deploy\\kurrelfix-run.cmd $* C:\\Logs" 2>/dev/null) | tr -d '\r')"
    BATCH_RC=${PIPESTATUS[0]}
    [ -n "${E2E_BACKGROUND:-}" ] || timeout 60 wineserver -w
    sed 's/^/  | /' <<<"$BATCH_OUT"
}
records() { tr -d '\r' <"$record" | tail -n +2 | wc -l; }
field() { tail -n 1 "$record" | tr -d '\r' | cut -d, -f"$1"; }
plant_copies() {
    local copy
    for copy in "$@"; do
        mkdir -p "$(dirname "$(c_path "$copy")")"
        "$SAMPLE" make "$(c_path "$copy")" 9000 2E30D733 || exit 1
    done
}
# A payload that ran leaves a file or folder whose name starts with PWND
# (md, or a redirection), or something new in C:\, the batches' current
# folder; a command that prints shows on the console, which is checked line
# by line.
root_listing() { ls -A "$WINEPREFIX/drive_c"; }
nothing_ran() {
    check "$1: nothing that the text holds ran: no PWND on drive C:" \
        [ -z "$(find "$WINEPREFIX/drive_c" -iname 'PWND*' -print -quit)" ]
    check "$1: nothing new in C:\\" [ "$(root_listing)" = "$root_before" ]
}
# expect_cleaned WHEN COPIES BEFORE: the batch ran the tool, which removed
# COPIES copies now, said so, and added one record line to the BEFORE lines.
expect_cleaned() {
    check "$1: the batch ends with exit code 1" [ "$BATCH_RC" -eq 1 ]
    check "$1: its closing lines, and nothing else" same "$BATCH_OUT" \
        "$name: exit code 1, Kurrel was found and removed. No restart is needed." \
        "$name: log C:\\windows\\Kurrelfix.log"
    check "$1: the record is written: one line more" [ "$(records)" -eq $(($3 + 1)) ]
    check "$1: cleaned, $2 copies removed now, nothing for the boot, no failure, scanner not left off" \
        [ "$(field 1,4-11)" = "$name,1,cleaned,no,$2,0,0,no," ]
}

echo "  -- a first run, so that the machine has a log and a record"
run_batch
check "first run: ends with 0" [ "$BATCH_RC" -eq 0 ]
check "first run: recorded as clean" [ "$(field 1,5)" = "$name,clean" ]
root_before="$(root_listing)"

echo "  -- /ONCE on an infected machine with a renamed process, hostile paths, log lines and record"
if ! shipped_runs_natively; then
    use_build native "the renamed program, whose name qemu-user would hide from the sweep"
    cp "$KURRELFIX_EXE" "$E2E_BIN/renamed_process.exe" "$(c_path Deploy)/"
fi
printf '%s' "$PROCESS_NAME" >"$(c_path Deploy/process-name.txt)"
(cd "$WINEPREFIX/drive_c" &&
    exec wine 'C:\Deploy\renamed_process.exe' 'C:\Deploy\process-name.txt' 'C:\Deploy\renamed.ready' 90 >/dev/null 2>&1) &
for _ in $(seq 1 150); do [ -s "$(c_path Deploy/renamed.ready)" ] && break; sleep 0.2; done
renamed_pid="$(cat "$(c_path Deploy/renamed.ready)" 2>/dev/null)"
check "the renamed program runs" [ -n "$renamed_pid" ]
# What another process reads as its name, the way the tool's sweep reads it.
shown="$( (cd "$WINEPREFIX/drive_c" && wine 'C:\Deploy\renamed_process.exe' /show "$renamed_pid" 2>/dev/null) | tr -d '\r')"
check "another process reads the name it gave itself, line break and all" \
    [ "$shown" = "[$PROCESS_NAME] ${#PROCESS_NAME}" ]
plant_copies "${COPIES[@]}"
log="$(log_file)"
# Lines from before this run, which the batch must neither run nor read as this run's.
printf '%s\r\n' 'Kurrelfix tool exit code: 1&md \PWND5&rem "' 'Found infection "x"=="x" md \PWND6&rem "' \
    'Deleting file "a&md \PWND7", result=2' 'Scanner not switched back on: ^& (md PWND8) %PATH% !PATH! | >PWND9 <' >>"$log"
# A last record line with every special character of cmd in its fields.
printf '%s\r\n' "$name,x\"==\"x\" ver&md \\PWND10&rem ,|md PWND11,<PWND12,>PWND13,^&md PWND14,%PATH%,!PATH!,(md PWND15),clean,no,0,0,0,no,,\"" >>"$record"
lines_before="$(wc -l <"$log")"
records_before="$(records)"
E2E_BACKGROUND=1
run_batch /ONCE
unset E2E_BACKGROUND
expect_cleaned "hostile text" 3 "$records_before"
nothing_ran "hostile text"
check "hostile text: the sweep read the program's name (in its log line)" \
    grep -qaF 'examinate process x"=="x" ver&md \PWND1&rem |<>^%PATH%!PATH!() ' "$log"
check "hostile text: the worm's copies are gone" \
    [ ! -e "$(c_path "${COPIES[0]}")" -a ! -e "$(c_path "${COPIES[1]}")" -a ! -e "$(c_path "${COPIES[2]}")" ]
runlog="$(c_path "Logs/$(field 12)")"
check "hostile text: this run's log lines are copied beside the record byte for byte" \
    cmp -s "$runlog" <(tail -n +"$((lines_before + 1))" "$log")
check "hostile text: among them the tool's quoted lines with the copies' paths" \
    grep -qaF "Deleting file \"C:\\users\\Public\\a&md PWND3&rem (1)^x%PATH%!PATH!,=;.exe\", result=1" "$runlog"
# The program is ended with the prefix's other processes (this prefix's own).
wineserver -k
timeout 60 wineserver -w
if ! shipped_runs_natively; then
    use_build shipped
    cp "$KURRELFIX_EXE" "$RENAMED" "$(c_path Deploy)/"
fi

echo "  -- /ONCE with a clean line of another computer last in this machine's record"
plant_copies 'windows/temp/kurrelsv.exe'
stamp="$(date '+%Y-%m-%d %H:%M:%S')" file_stamp="$(date '+%Y%m%d-%H%M%S')"
printf '%s\r\n' "PC-OTHER,$stamp,$stamp,0,clean,no,0,0,0,no,,PC-OTHER-$file_stamp.log" >>"$record"
records_before="$(records)"
run_batch /ONCE
expect_cleaned "another computer's line" 1 "$records_before"
nothing_ran "another computer's line"
check "another computer's line: the copy is gone" [ ! -e "$(c_path windows/temp/kurrelsv.exe)" ]

echo "  -- /ONCE with a well-formed clean line of its own that its log does not bear out"
plant_copies 'windows/temp/kurrelsv.exe'
printf '%s\r\n' "$name,$stamp,$stamp,0,clean,no,0,0,0,no,,$name-$file_stamp.log" >>"$record"
records_before="$(records)"
run_batch /ONCE
expect_cleaned "a forged line" 1 "$records_before"
nothing_ran "a forged line"
check "a forged line: the copy is gone" [ ! -e "$(c_path windows/temp/kurrelsv.exe)" ]

echo "  -- /ONCE after a run of its own that cleaned it, with nothing pending"
records_before="$(records)" lines_before="$(wc -l <"$log")" end="$(field 3)"
run_batch /ONCE
check "its own run: skipped, with 0" [ "$BATCH_RC" -eq 0 ]
check "its own run: it says so" same "$BATCH_OUT" \
    "$name: skipped: its last run, ended $end, found it cleaned with nothing pending. Run without /ONCE to sweep it again."
check "its own run: no record added, the tool did not run" \
    [ "$(records)" -eq "$records_before" -a "$(wc -l <"$log")" -eq "$lines_before" ]

echo "  -- the report on a folder of hostile and well-formed records"
fleet_dir="$(c_path Fleet)"
mkdir -p "$fleet_dir"
good() { echo "$1,2026-12-09 10:00:00,2026-12-09 10:00:05,$2,$1-20261209-100000.log"; }
write_record() { printf '%s\r\n' "$HEADER" "$2" >"$fleet_dir/$1"; }
cp "$record" "$fleet_dir/$name.csv"
write_record PC-NOCLOCK.csv 'PC-NOCLOCK,,,0,clean,no,0,0,0,no,,PC-NOCLOCK-run.log'
write_record PC-NOTOOL.csv 'PC-NOTOOL,2026-12-09 10:00:00,2026-12-09 10:00:00,9,unfinished,no,0,0,0,no,,'
write_record PC-SCAN.csv "$(good PC-SCAN '3,failed,no,1,0,2,no,yes')"
# One record for each special character, each in a field of a line that is
# otherwise well-formed.
write_record PC-QUOTE.csv "$(good PC-QUOTE '0,clean"=="clean" ver&md \PWND16&rem ,no,0,0,0,no,')"
write_record PC-AMP.csv "$(good PC-AMP '0,clean&md PWND17,no,0,0,0,no,')"
write_record PC-PIPE.csv "$(good PC-PIPE '0,clean|md PWND18,no,0,0,0,no,')"
write_record PC-LT.csv "$(good PC-LT '0,clean<PWND19,no,0,0,0,no,')"
write_record PC-GT.csv "$(good PC-GT '0,clean>PWND20,no,0,0,0,no,')"
write_record PC-CARET.csv "$(good PC-CARET '0,clean^&md PWND21,no,0,0,0,no,')"
write_record PC-PERCENT.csv "$(good PC-PERCENT '0,clean%PATH%,no,0,0,0,no,')"
write_record PC-BANG.csv "$(good PC-BANG '0,clean!PATH!,no,0,0,0,no,')"
write_record PC-PAREN.csv "$(good PC-PAREN '0,clean),no,0,0,0,no,(md PWND22')"
# File names that hold special characters, a record in another computer's
# file, and fields that are not of the batch's forms.
write_record 'x&md PWND23&(1).csv' "$(good 'x&md PWND23&(1)' '0,clean,no,0,0,0,no,')"
write_record 'y%PATH%!PATH!^.csv' "$(good 'y%PATH%!PATH!^' '0,clean,no,0,0,0,no,')"
write_record PC-B.csv "$(good PC-A '0,clean,no,0,0,0,no,')"
write_record PC-ZERO.csv "$(good PC-ZERO '0,clean,no,01,0,0,no,')"
write_record PC-TIME.csv 'PC-TIME,2026-12-9 10:00:00,2026-12-09 10:00:05,0,clean,no,0,0,0,no,,PC-TIME-20261209-100000.log'
write_record PC-CODE.csv "$(good PC-CODE '1,clean,no,0,0,0,no,')"
write_record PC-LOGNAME.csv 'PC-LOGNAME,2026-12-09 10:00:00,2026-12-09 10:00:05,0,clean,no,0,0,0,no,,PC-LOGNAME-20261209-100001.log'
malformed=(PC-QUOTE PC-AMP PC-PIPE PC-LT PC-GT PC-CARET PC-PERCENT PC-BANG PC-PAREN
           'x&md PWND23&(1)' 'y%PATH%!PATH!^' PC-B PC-ZERO PC-TIME PC-CODE PC-LOGNAME)
root_before="$(root_listing)"
report="$( (cd "$WINEPREFIX/drive_c" && wine cmd /c 'C:\Deploy\kurrelfix-report.cmd' 'C:\Fleet' 2>/dev/null) | tr -d '\r')"
report_rc=${PIPESTATUS[0]}
sed 's/^/  | /' <<<"$report"
nothing_ran "report"
check "report: ends with 1, as records need looking at" [ "$report_rc" -eq 1 ]
check "report: the well-formed records are counted by verdict, the others apart" \
    same "$(sed -n '/^Kurrelfix fleet report/,/^  malformed /p' <<<"$report")" \
    "Kurrelfix fleet report for C:\\Fleet: 4 machines with a record" \
    "  infected    0" "  failed      1" "  unfinished  1" "  cleaned     1" "  clean       1" "  malformed   ${#malformed[@]}"
check "report: each malformed record named as it is, and nothing else there" \
    same "$(sed -n '/^Records not in the form kurrelfix-run.cmd writes, left out of the table:$/,/^[^ ]/p' <<<"$report" |
        sed '1d;$d' | sort)" "$(printf '  %s.csv\n' "${malformed[@]}" | sort)"
check "report: the table holds the well-formed records' last lines, by verdict" \
    same "$(tr -d '\r' <"$fleet_dir/fleet.csv")" "$HEADER" "$(good PC-SCAN '3,failed,no,1,0,2,no,yes')" \
    'PC-NOTOOL,2026-12-09 10:00:00,2026-12-09 10:00:00,9,unfinished,no,0,0,0,no,,' \
    "$(tail -n 1 "$record" | tr -d '\r')" 'PC-NOCLOCK,,,0,clean,no,0,0,0,no,,PC-NOCLOCK-run.log'
check "report: the machines that need action" \
    same "$(sed -n '/^Machines that need action:$/,/^[^ ]/p' <<<"$report" | sed '$d')" "Machines that need action:" \
    "  PC-SCAN: failed; some operations failed; scanner left off, last run ended 2026-12-09 10:00:05" \
    "  PC-NOTOOL: unfinished; no finished run, last run ended 2026-12-09 10:00:00"
check "report: its closing line" [ "$(tail -n 1 <<<"$report")" = 'Table: C:\Fleet\fleet.csv' ]
finish
