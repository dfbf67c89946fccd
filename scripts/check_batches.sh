#!/usr/bin/env bash
# The deployment batches never let cmd parse the text they read (the log's
# lines, the records, the records' file names): such text is never expanded
# as %VAR% (cmd expands that before it parses the line, so the text would be
# parsed as part of it) and never given to call (which parses its arguments
# once more). A plain grep over both batches for the variables that hold read
# text, and for call with a FOR variable or a delayed one; and the record
# reader, which both batches carry, must be the same in both.
set -uo pipefail
cd "$(dirname "$0")/.."

batches=(deploy/kurrelfix-run.cmd deploy/kurrelfix-report.cmd)
# Every variable that either batch sets from read text, and the names that
# earlier batches read text into.
read_text='T[0-9]+|R_[A-Z]+|RECBAD|RECFULL|RECNAME|RECEXT|RECMORE|RUNLOGFORM|STAMP[68]|CODEFORM|[FSVXYZ]|P[0-9]'
read_text+='|TEXT|LINE|REC|LASTREC|LASTEND|LASTVERDICT|LASTPENDING|FINAL'
status=0
for batch in "${batches[@]}"; do
    if [ ! -s "$batch" ]; then
        echo "check_batches: $batch is missing"
        status=1
        continue
    fi
    # %NAME% and %NAME:~...% or %NAME:a=b%; %%x is a FOR variable, not this.
    if grep -nEi "(^|[^%])%($read_text)(%|:)" "$batch"; then
        echo "check_batches: $batch expands read text with %...% (above)"
        status=1
    fi
    if grep -nEi '(^|[^a-z0-9_])call([^a-z0-9_].*)?(%%|!)' "$batch"; then
        echo "check_batches: $batch gives call a FOR variable or a delayed one (above)"
        status=1
    fi
done

reader() { tr -d '\r' <"$1" | sed -n '/^rem --- The record reader/,/^rem --- End of the record reader\.$/p'; }
run_reader="$(reader "${batches[0]}")"
if [ -z "$run_reader" ] || [ "$run_reader" != "$(reader "${batches[1]}")" ]; then
    echo "check_batches: the record reader is missing or not the same in both batches"
    diff <(echo "$run_reader") <(reader "${batches[1]}") | head -20
    status=1
fi
[ "$status" -eq 0 ] && echo "check_batches: both batches read text as data only"
exit "$status"
