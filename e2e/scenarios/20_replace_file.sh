#!/usr/bin/env bash
# ReplaceFile on an NT-family prefix: a missing file and a folder are nothing
# to do (0), a free file goes at once (1), and a file that another program
# holds is left for the next boot with MoveFileExA (2). Once that program has
# ended, the next boot (wineboot -r) deletes the held file.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

new_prefix
dir="$(c_path 'Kurrel Test')"
mkdir -p "$dir/a folder"
echo free >"$dir/free file.txt"
echo held >"$dir/held file.txt"
held='C:\Kurrel Test\held file.txt'
session_manager='HKLM\System\CurrentControlSet\Control\Session Manager'

# The holder runs until this prefix's processes are ended; the marker says
# that it has the file open.
wine "$E2E_BIN/hold_file.exe" "$held" 'C:\Kurrel Test\held.marker' >/dev/null 2>&1 &
holder=$!
for _ in $(seq 1 300); do
    [ -e "$dir/held.marker" ] && break
    sleep 0.2
done
check "the helper holds the file" [ -e "$dir/held.marker" ]

out="$(wine "$E2E_BIN/replace_check.exe" /LOG 'C:\replace.log' 'C:\Kurrel Test\missing.txt' \
    'C:\Kurrel Test\a folder' 'C:\Kurrel Test\free file.txt' "$held" 2>/dev/null | tr -d '\r')"
echo "$out" | sed 's/^/  | /'
log="$(c_path replace.log)"
check "missing file: 0" grep -qxF 'C:\Kurrel Test\missing.txt: 0 short -' <<<"$out"
check "folder: 0" grep -qE '^C:\\Kurrel Test\\a folder: 0 ' <<<"$out"
check "free file: 1" grep -qE '^C:\\Kurrel Test\\free file.txt: 1 ' <<<"$out"
check "held file: 2" grep -qE '^C:\\Kurrel Test\\held file.txt: 2 ' <<<"$out"
check "the free file is gone" [ ! -e "$dir/free file.txt" ]
check "the folder is still there" [ -d "$dir/a folder" ]
check "the held file is still there" [ -e "$dir/held file.txt" ]
check "the refusal went to MoveFileExA" \
    grep -qxF $'[VTSU - AddFileToAutomaticRenameList]: Operation is executed during reboot.\r' "$log"
check "ReplaceFile's line for the held file" \
    grep -qxF $'[VTSU - ReplaceFile]: File will be deleted during reboot (C:\\Kurrel Test\\held file.txt).\r' "$log"
check "the missing file's line" \
    grep -qxF $'[VTSU - ReplaceFile]: Src file does not exist (C:\\Kurrel Test\\missing.txt).\r' "$log"
check "every log line ends in CR LF" crlf_only "$log"
pending="$(wine reg query "$session_manager" /v PendingFileRenameOperations 2>/dev/null | tr -d '\r')"
check "the boot list names the held file" grep -qF '\??\C:\Kurrel Test\held file.txt' <<<"$pending"

# The helper ends, as every program does when the machine restarts.
wineserver -k
wait "$holder" 2>/dev/null
wineserver -w
check "ending the helper does not delete the file" [ -e "$dir/held file.txt" ]
wineboot -r >/dev/null 2>&1
wineserver -w
check "after the boot the held file is gone" [ ! -e "$dir/held file.txt" ]
check "after the boot the boot list is empty" \
    bash -c "! wine reg query '$session_manager' /v PendingFileRenameOperations 2>/dev/null | grep -q held"
finish
