# ReplaceFile's delete form on a prefix of either family, shared by the
# scenarios 20 (NT) and 21 (Windows 98); source it after lib.sh and call
# replace_file_scenario nt|win98.
#
# A missing file and a folder are nothing to do (0), a free file goes at once
# (1), and a file that another program holds is left for the next boot (2):
# on NT with MoveFileExA, on Windows 98 in the "rename" section of
# C:\windows\WININIT.INI with its short path. Once the holder has ended, the
# next boot (wineboot -r) deletes the held file; on Windows 98 it also sets
# WININIT.INI aside as WININIT.BAK.

replace_file_scenario() {
    local family="$1"
    local session_manager='HKLM\System\CurrentControlSet\Control\Session Manager'
    local held='C:\Kurrel Test\held file.txt'
    local dir windir out log short ini
    wininit() { find "$windir" -maxdepth 1 -iname "$1" -print -quit; }

    if [ "$family" = win98 ]; then
        new_prefix win98
        check "the prefix plays Windows 98" \
            bash -c "wine '$E2E_BIN/report_platform.exe' 2>/dev/null | tr -d '\\r' | grep -qx 'platform 1 family 1 nt 0'"
    else
        new_prefix
    fi
    dir="$(unix_path 'C:\Kurrel Test')"
    windir="$(unix_path 'C:\windows')"
    mkdir -p "$dir/a folder"
    echo free >"$dir/free file.txt"
    echo held >"$dir/held file.txt"
    [ "$family" = win98 ] && check "no WININIT.INI yet" [ -z "$(wininit wininit.ini)" ]

    check "the helper holds the file" hold_file "$held"

    out="$(wine "$E2E_BIN/replace_check.exe" /LOG 'C:\replace.log' 'C:\Kurrel Test\missing.txt' \
        'C:\Kurrel Test\a folder' 'C:\Kurrel Test\free file.txt' "$held" 2>/dev/null | tr -d '\r')"
    echo "$out" | sed 's/^/  | /'
    log="$(unix_path 'C:\replace.log')"
    check "missing file: 0" grep -qxF 'C:\Kurrel Test\missing.txt: 0 short -' <<<"$out"
    check "folder: 0" grep -qE '^C:\\Kurrel Test\\a folder: 0 ' <<<"$out"
    check "free file: 1" grep -qE '^C:\\Kurrel Test\\free file.txt: 1 ' <<<"$out"
    check "held file: 2" grep -qE '^C:\\Kurrel Test\\held file.txt: 2 ' <<<"$out"
    check "the free file is gone" [ ! -e "$dir/free file.txt" ]
    check "the held file is still there" [ -e "$dir/held file.txt" ]

    if [ "$family" = win98 ]; then
        short="$(sed -n 's/^C:\\Kurrel Test\\held file.txt: 2 short //p' <<<"$out")"
        check "the held file has a short name of 8.3 parts" \
            grep -qE '^C:(\\[A-Z0-9_~!#$%&@^-]{1,8}(\.[A-Z0-9_~]{1,3})?)+$' <<<"$short"
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
            bash -c "! wine reg query '$session_manager' /v PendingFileRenameOperations >/dev/null 2>&1"
    else
        check "the folder is still there" [ -d "$dir/a folder" ]
        check "the refusal went to MoveFileExA" \
            grep -qxF $'[VTSU - AddFileToAutomaticRenameList]: Operation is executed during reboot.\r' "$log"
        check "ReplaceFile's line for the held file" \
            grep -qxF $'[VTSU - ReplaceFile]: File will be deleted during reboot (C:\\Kurrel Test\\held file.txt).\r' "$log"
        check "the missing file's line" \
            grep -qxF $'[VTSU - ReplaceFile]: Src file does not exist (C:\\Kurrel Test\\missing.txt).\r' "$log"
        check "every log line ends in CR LF" crlf_only "$log"
        check "the boot list names the held file" \
            grep -qF '\??\C:\Kurrel Test\held file.txt' <<<"$(reg_value "$session_manager" PendingFileRenameOperations)"
    fi

    # The helper ends, as every program does when the machine restarts.
    wineserver -k
    wait "$HOLDER_PID" 2>/dev/null
    wineserver -w
    check "ending the helper does not delete the file" [ -e "$dir/held file.txt" ]
    [ "$family" = win98 ] && cp "${ini:-/dev/null}" "$WINEPREFIX/wininit-before-boot"
    wineboot -r >/dev/null 2>&1
    wineserver -w
    check "after the boot the held file is gone" [ ! -e "$dir/held file.txt" ]
    if [ "$family" = win98 ]; then
        check "after the boot WININIT.INI is gone" [ -z "$(wininit wininit.ini)" ]
        check "WININIT.INI was there before the boot" [ -s "$WINEPREFIX/wininit-before-boot" ]
        check "after the boot WININIT.BAK holds what it held" \
            cmp -s "$WINEPREFIX/wininit-before-boot" "$(wininit wininit.bak)"
    else
        check "after the boot the boot list is empty" \
            bash -c "! wine reg query '$session_manager' /v PendingFileRenameOperations 2>/dev/null | grep -q held"
    fi
}
