#!/usr/bin/env bash
# A whole silent run on an infected NT-family prefix: copies of the worm in
# nested folders of C: (names with blanks, hidden and system files), a near
# miss that must stay, a running worm, a copy held open by another program,
# the worm's open command in the registry and its run= entry. The tool ends
# the worm, deletes every copy it can, leaves the held one for the next boot,
# repairs the settings and exits with 1. After the holder has ended and the
# machine restarted (wineboot -r), the held copy is gone too.
#
# The same infected machine (the running worm, the copies, the open command,
# run=) is cleaned once for each NT version the prefix can present: win2k,
# winxp, win7 and win10 (31_clean_infected_win98.sh is the 9x family's run).
# The held copy and the restart are checked on win10, the version a new
# prefix has anyway; the other versions reuse that prefix after its restart,
# each with the worm planted afresh. Wine keeps one registry
# model and one file-system model whatever version it presents, so the
# versions differ only in what GetVersionExA answers; the registry views'
# differences between the Windows versions are the simulation's to prove.
# Where this machine runs 32-bit Wine natively, a 32-bit prefix
# (WINEARCH=win32, no redirection) gets the same run.
#
# Builds: the shipped build runs every run, with the worm running where
# 32-bit programs run natively. Where they run through qemu-user, no other
# process reads a qemu-run process's memory as it is, and the process sweep
# reads a process's modules from there: so there the shipped build's runs
# have the worm's file but not its process (the process sweep finds none,
# the disk sweep deletes the file), and one more win10 run, on the 64-bit
# build, whose processes run natively, has the running worm.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

SAMPLE="$E2E_HOST_BIN/kurrel_sample"
WORM="$E2E_BIN/kurrel_worm.exe"
HOLD="$E2E_BIN/hold_file.exe"
for tool in "$KURRELFIX_EXE" "$SAMPLE" "$WORM" "$HOLD"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done
# Whether the runs below have the worm running (the Builds line above).
WORM_RUNS=1
shipped_runs_natively || WORM_RUNS=""
SHELL_KEY='HKCR\exefile\shell\open\command'
MAPPED='HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows'

# infected_run VERSION [full]: one prefix presenting VERSION, infected and
# cleaned; "full" adds the held copy, the hidden files and the restart.
infected_run() {
    local v="$1" full="${2:-}"
    E2E_BACKGROUND=""
    echo "-- $v${full:+, with the held copy and the restart}"
    if [ "$v" = win32 ]; then
        WINEARCH=win32 new_prefix
    elif [ -n "$full" ] || [ -z "${E2E_PREFIX:-}" ]; then
        new_prefix
    else
        # The prefix of the run before, restarted, with nothing of the worm
        # left: a new prefix would only add time, as a version is one value.
        rm -rf "$(c_path 'Kurrel Test')" "$(log_file)" "$(c_path windows/win.bak)"
    fi
    test_dir="$(c_path 'Kurrel Test')"
    mkdir -p "$(c_path 'Program Files/Kurrel Test/deep folder/level three')" \
        "$(c_path 'users/Public/Documents/My Pictures')" "$test_dir/a b/c d/e f" \
        "$test_dir/running worm" "$test_dir/held"

    # Copies of the worm for several rows of the table, at several sizes.
    copy_setup='C:\Program Files\Kurrel Test\deep folder\level three\setup.exe'
    copy_photo='C:\users\Public\Documents\My Pictures\holiday photo.scr'
    copy_deep='C:\Kurrel Test\a b\c d\e f\kurrel.exe'
    held='C:\Kurrel Test\held\held sample.exe'
    worm='C:\Kurrel Test\running worm\kurrel_worm.exe'
    near='C:\Kurrel Test\near miss.exe'
    "$SAMPLE" make "$(unix_path "$copy_setup")" 9000 2E30D733 || exit 1
    "$SAMPLE" make "$(unix_path "$copy_photo")" 8192 A1874D47 || exit 1
    "$SAMPLE" make "$(unix_path "$copy_deep")" 20000 98FE29AA || exit 1
    [ -z "$full" ] || "$SAMPLE" make "$(unix_path "$held")" 12288 B575938E || exit 1
    # One bit off inside the region: not the worm.
    "$SAMPLE" make "$(unix_path "$near")" 10000 DD3D1EB3 && "$SAMPLE" flip "$(unix_path "$near")" $((5000 * 8 + 3))
    if [ -n "$full" ]; then
        # Wine's attrib sets one attribute per call.
        for path in "$copy_photo" "$copy_deep"; do
            wine cmd /c attrib +h "$path" >/dev/null 2>&1
            wine cmd /c attrib +s "$path" >/dev/null 2>&1
        done
        check "$v: the photo copy is hidden and system" \
            bash -c "wine cmd /c attrib '$copy_photo' 2>/dev/null | tr -d '\\r' | grep -Eq '^A? *S +H '"
    fi

    # The worm's settings: its open command and its run= entry (on NT, Wine
    # keeps win.ini's section "windows" in the registry); and the version the
    # prefix presents. One import: each Wine program takes seconds to start.
    local reg_worm="${worm//\\/\\\\}"
    {
        printf 'REGEDIT4\r\n\r\n'
        printf '[HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command]\r\n@="\\"%s\\" \\"%%1\\" %%*"\r\n\r\n' "$reg_worm"
        printf '[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows]\r\n"run"="%s"\r\n\r\n' "$reg_worm"
        [ "$v" = win32 ] || printf '[HKEY_CURRENT_USER\\Software\\Wine]\r\n"Version"="%s"\r\n\r\n' "$v"
    } >"$(c_path windows/temp/worm.reg)"
    wine regedit /S 'C:\windows\temp\worm.reg' >/dev/null 2>&1
    rm -f "$(c_path windows/temp/worm.reg)"
    local -A shown=([win2k]=5.0. [winxp]=5.1. [win7]=6.1. [win10]=10.0. [win32]='')
    check "$v: the prefix presents itself as $v" \
        bash -c "wine cmd /c ver 2>/dev/null | grep -qF 'Microsoft Windows ${shown[$v]}'"
    ini="$(c_path windows/win.ini)"
    cp "$ini" "$WINEPREFIX/win.ini.before"

    # The running worm: the test program forced to row 6. From here on programs
    # stay running beside the tool, so nothing waits for the prefix to settle.
    E2E_BACKGROUND=1
    cp "$WORM" "$(unix_path "$worm")" && "$SAMPLE" patch "$(unix_path "$worm")" 91729FD1
    worm_pid=""
    if [ -n "$WORM_RUNS" ]; then
        (cd "$WINEPREFIX/drive_c" && exec wine "$worm" >/dev/null 2>&1) &
        worm_pid=$!
    fi
    if [ -n "$full" ]; then
        # Another program has one copy open, sharing reading only.
        check "$v: the helper holds its copy" hold_file "$held"
        holder=$HOLDER_PID
    fi
    sleep 1
    [ -z "$WORM_RUNS" ] || check "$v: the worm runs" process_running "$worm_pid"
    if [ -n "$full" ] && [ -n "$WORM_RUNS" ]; then
        # Wine, like Windows, will not delete a program's file while it runs: that
        # is why the tool ends the worm first and deletes its file afterwards.
        idle='C:\Kurrel Test\running worm\idle copy.exe'
        cp "$WORM" "$(unix_path "$idle")"
        wine cmd /c del "$idle" "$worm" >/dev/null 2>&1
        check "$v: the same del removes a copy that does not run" [ ! -e "$(unix_path "$idle")" ]
        check "$v: the running worm's file cannot be deleted while it runs" [ -e "$(unix_path "$worm")" ]
    fi

    run_tool /SILENT
    log="$(log_file)"
    tr -d '\r' <"$log" | grep -v '^\[VTSU - FileExist' | sed 's/^/  | /'

    check "$v: exit code 1" [ "$TOOL_RC" -eq 1 ]
    for path in "$copy_setup" "$copy_photo" "$copy_deep" "$worm"; do
        check "$v: gone: $path" [ ! -e "$(unix_path "$path")" ]
    done
    check "$v: the near miss stays" [ -e "$(unix_path "$near")" ]
    if [ -n "$WORM_RUNS" ]; then
        for _ in $(seq 1 20); do process_gone "$worm_pid" && break; sleep 0.5; done
        check "$v: the worm process has ended" process_gone "$worm_pid"
    fi
    check "$v: the open command is repaired" \
        bash -c "wine reg query '$SHELL_KEY' /ve 2>/dev/null | tr -d '\\r' | grep -qE '^ +\\(Default\\) +REG_SZ +\"%1\" %\\*\$'"
    check "$v: the run= entry is empty" \
        bash -c "wine reg query '$MAPPED' /v run 2>/dev/null | tr -d '\\r' | grep -Eq '^ +run +REG_SZ *\$'"
    check "$v: win.ini was backed up as win.bak" cmp -s "$WINEPREFIX/win.ini.before" "$(c_path windows/win.bak)"

    expect_line() { grep -qxF "$1"$'\r' "$log"; }
    if [ -n "$WORM_RUNS" ]; then
        check "$v: console: the worm was in memory" grep -qxF 'found Kurrel tasks in memory ' <<<"$TOOL_OUT"
    else
        check "$v: console: no worm in memory" grep -qxF 'no Kurrel tasks in memory ' <<<"$TOOL_OUT"
        check "$v: log: no infected process" expect_line 'No infected processes were found'
        check "$v: log: the disk sweep found the worm's file" expect_line "Found infection \"$worm\""
    fi
    check "$v: console: the command was cleaned" \
        grep -qxF 'Wait 15 sec and re-check shell key ...  Infection is cleaned!' <<<"$TOOL_OUT"
    check "$v: console: win.ini cleaned" grep -qxF 'clean up Win.ini' <<<"$TOOL_OUT"
    if [ -n "$WORM_RUNS" ]; then
        check "$v: log: the worm process is an infection" \
            grep -qE "^Process C:\\\\Kurrel Test\\\\running worm\\\\kurrel_worm.exe \\(PID=0x[0-9a-f]+\\) is infection"$'\r$' "$log"
        check "$v: log: it was terminated" expect_line "Process $worm terminated with status 1"
        check "$v: log: all terminated" \
            expect_line 'There were infected proceses, terminated with status =OK, start delete infected process files'
    fi
    check "$v: log: its file was deleted" expect_line "Deleting file \"$worm\", result=1"
    for path in "$copy_setup" "$copy_photo" "$copy_deep"; do
        check "$v: log: found and deleted $path" \
            bash -c "grep -qxF 'Found infection \"$path\"'$'\\r' '$log' && grep -qxF 'Deleting file \"$path\", result=1'$'\\r' '$log'"
    done
    check "$v: log: the near miss was not found" bash -c "! grep -qF 'near miss' '$log'"
    check "$v: log: cleaned" expect_line 'Infection is cleaned!'
    check "$v: log: shell restored" expect_line 'Restore shell, success=1'
    check "$v: log: run= removed" expect_line "win.ini run=$worm, removing"
    check "$v: log: exit code 1" [ "$(tail -n 1 "$log")" = $'Kurrelfix tool exit code: 1\r' ]
    check "$v: every log line ends in CR LF" crlf_only "$log"
    # The stages speak on the console in their order.
    check_cleaning_console ${WORM_RUNS:-no-process}
    # Without the test-only share library Wine's own netapi32 answers "not
    # supported": the share stages touch nothing and say so.
    wine_differs "Wine's netapi32 cannot enumerate shares" \
        check "$v: log: the shares could not be enumerated, so none was removed" \
        grep -qE $'^cannot enumerated shares [0-9]+Removed all network shares, success=1\r$' "$log"
    [ -n "$full" ] || return 0

    check "$v: the held copy waits for the boot" [ -e "$(unix_path "$held")" ]
    check "$v: the holder still runs" process_running "$holder"
    check "$v: log: the held copy was found" expect_line "Found infection \"$held\""
    check "$v: log: the held copy is left for the boot" expect_line "Deleting file \"$held\", result=2"
    # The machine restarts: the holder ends, then the boot deletes the held copy.
    WINEPREFIX="$E2E_PREFIX" wineserver -k >/dev/null 2>&1
    wait "$holder" ${worm_pid:+"$worm_pid"} 2>/dev/null
    WINEPREFIX="$E2E_PREFIX" wineserver -w >/dev/null 2>&1
    check "$v: ending the holder does not delete the copy" [ -e "$(unix_path "$held")" ]
    wineboot -r >/dev/null 2>&1
    wineserver -w
    check "$v: after the boot the held copy is gone" [ ! -e "$(unix_path "$held")" ]
    check "$v: after the boot the near miss is still there" [ -e "$(unix_path "$near")" ]
}

infected_run win10 full
echo "  (Wine differs from Windows: one registry model and one file system whatever version it presents)"
for version in win2k winxp win7; do infected_run "$version"; done
if [ "$E2E_WINE_KIND" = 32 ]; then infected_run win32; fi
if [ -z "$WORM_RUNS" ]; then
    use_build native "the running worm, which qemu-user would hide from the process sweep"
    WORM="$E2E_BIN/kurrel_worm.exe"
    WORM_RUNS=1
    infected_run win10
fi
finish
