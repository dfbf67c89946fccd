#!/usr/bin/env bash
# ReplaceFile on a prefix that plays Windows 98: the same results as on NT,
# but the held file's deletion goes into the "rename" section of
# C:\windows\WININIT.INI with its short path. Once the holder has ended, the
# next boot (wineboot -r) deletes the file and sets WININIT.INI aside as
# WININIT.BAK.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

new_prefix win98
check "the prefix plays Windows 98" \
    bash -c "wine '$E2E_BIN/report_platform.exe' 2>/dev/null | tr -d '\\r' | grep -qx 'platform 1 family 1 nt 0'"
dir="$(c_path 'Kurrel Test')"
windir="$(c_path windows)"
mkdir -p "$dir/a folder"
echo free >"$dir/free file.txt"
echo held >"$dir/held file.txt"
held='C:\Kurrel Test\held file.txt'
wininit() { find "$windir" -maxdepth 1 -iname "$1" -print -quit; }
check "no WININIT.INI yet" [ -z "$(wininit wininit.ini)" ]

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
short="$(sed -n 's/^C:\\Kurrel Test\\held file.txt: 2 short //p' <<<"$out")"
check "the held file has a short name of 8.3 parts" \
    grep -qE '^C:(\\[A-Z0-9_~!#$%&@^-]{1,8}(\.[A-Z0-9_~]{1,3})?)+$' <<<"$short"
check "the free file is gone" [ ! -e "$dir/free file.txt" ]
check "the held file is still there" [ -e "$dir/held file.txt" ]
check "the refusal went to WININIT.INI" \
    grep -qxF $'[VTSU - AddFileToAutomaticRenameList]: Operation will be executed during reboot.\r' "$log"
check "the system said it is not NT" \
    grep -qxF $'[VTSU - AddFileToAutomaticRenameList]: System is not NT.\r' "$log"
ini="$(wininit wininit.ini)"
printf '[rename]\r\nnul=%s' "$short" >"$WINEPREFIX/wininit-expected"
# Byte for byte: CR LF after the header, no blanks, no line end after the entry.
check "WININIT.INI holds the section and the one entry, short path, no blanks" \
    cmp -s "$WINEPREFIX/wininit-expected" "${ini:-/nonexistent}"
check "MoveFileExA was not asked" \
    bash -c "! wine reg query 'HKLM\\System\\CurrentControlSet\\Control\\Session Manager' /v PendingFileRenameOperations >/dev/null 2>&1"

wineserver -k
wait "$holder" 2>/dev/null
wineserver -w
check "ending the helper does not delete the file" [ -e "$dir/held file.txt" ]
cp "${ini:-/dev/null}" "$WINEPREFIX/wininit-before-boot"
wineboot -r >/dev/null 2>&1
wineserver -w
check "after the boot the held file is gone" [ ! -e "$dir/held file.txt" ]
check "after the boot WININIT.INI is gone" [ -z "$(wininit wininit.ini)" ]
check "WININIT.INI was there before the boot" [ -s "$WINEPREFIX/wininit-before-boot" ]
check "after the boot WININIT.BAK holds what it held" \
    cmp -s "$WINEPREFIX/wininit-before-boot" "$(wininit wininit.bak)"
finish
