#!/usr/bin/env bash
# A whole cleaning run on an infected prefix that plays Windows 98: copies of
# the worm in nested folders (names with blanks, a hidden system one), a near
# miss, a copy held open by another program, two running worms (one in
# C:\windows, one in C:\, the folder the tool is started from), the worm's
# open command and its run= entry. Kurrelfix must delete every copy it can
# at once, leave the ones in use for the next boot (WININIT.INI), keep the
# near miss, repair both settings and exit with 1.
#
# Where Wine is not Windows 98, the checks say what Wine does:
# - Wine's tool-help names a process by its file name alone, without the
#   folder, where Windows 98 gives the whole path. The tool tests and
#   deletes that name relative to its current folder, so it ends only the
#   worm that runs from C:\. The worm in C:\windows keeps running; the disk
#   sweep then finds its file, which Wine will not delete while it runs, and
#   it is left for the next boot.
# - Wine keeps win.ini's section "windows" in the registry on the 9x family
#   too, so run= is read and emptied there; the file's own run= line stays.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

SAMPLE="$E2E_HOST_BIN/kurrel_sample"
WORM="$E2E_BIN/kurrel_worm.exe"
CHECK="$E2E_BIN/matcher_check.exe"
SETTINGS="$E2E_BIN/settings_check.exe"
for tool in "$KURRELFIX_EXE" "$SAMPLE" "$WORM" "$CHECK" "$SETTINGS" "$E2E_BIN/hold_file.exe"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done
OPEN_COMMAND='HKCR\exefile\shell\open\command'
WIN_INI_WINDOWS='HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows'


# start_worm EXE LOCK: runs a copy of the worm that holds LOCK without any
# sharing while it runs; WORM_PID is its process. A lock that cannot be
# opened says the worm is really running, one that opens again says it ended.
start_worm() {
    printf 'lock\r\n' >"$(unix_path "$2")"
    (cd "$WINEPREFIX/drive_c" && exec wine "$1" "$2" >/dev/null 2>&1) &
    WORM_PID=$!
    for _ in $(seq 1 60); do lock_opens "$2" 0 && return 0; sleep 0.5; done
    return 1
}
lock_opens() {  # lock_opens LOCK ANSWER: matcher_check's opened=ANSWER for LOCK
    wine "$CHECK" "$1" 2>/dev/null | tr -d '\r' | grep -qF "$1 opened=$2 "
}

new_prefix win98
check "the prefix plays Windows 98 (platform 1)" \
    bash -c "wine '$E2E_BIN/report_platform.exe' 2>/dev/null | tr -d '\\r' | grep -qx 'platform 1 family 1 nt 0'"

# Where GetProfileStringA reads on this prefix: the file names one program,
# the registry another, and the answer is the registry's. So run= is
# planted in the registry, and the file keeps a line of its own.
ini="$(unix_path 'C:\windows\win.ini')"
printf '[windows]\r\nrun=C:\\windows\\kurrel.exe\r\n' >"$ini"
wine reg add "$WIN_INI_WINDOWS" /v run /d 'from the registry' /f >/dev/null 2>&1
wine_differs "win.ini's section windows lives in the registry on 9x too" \
    check "GetProfileStringA reads run= from the registry, not from win.ini" \
    bash -c "wine '$SETTINGS' 2>/dev/null | tr -d '\\r' | grep -qxF 'windows run: 17 [from the registry]'"
cp "$ini" "$WINEPREFIX/win.ini.before"
wine reg add "$WIN_INI_WINDOWS" /v run /d 'C:\windows\kurrel.exe' /f >/dev/null 2>&1
# The worm's open command: every program starts through the worm first.
wine reg add "$OPEN_COMMAND" /ve /d '"C:\windows\kurrel.exe" "%1" %*' /f >/dev/null 2>&1
check "the open command names the worm" \
    bash -c "wine reg query '$OPEN_COMMAND' /ve 2>/dev/null | tr -d '\\r' | grep -qF '\"C:\\windows\\kurrel.exe\" \"%1\" %*'"

# Copies of the worm for several rows of the table, and a near miss.
deep='C:\Program Files\Kurrel Nest\level two\level three'
mkdir -p "$(unix_path 'C:\Shared')" "$(unix_path "$deep")"
"$SAMPLE" make "$(unix_path 'C:\windows\temp\kurrelsv.exe')" 24576 2E30D733
"$SAMPLE" make "$(unix_path 'C:\Shared\holiday pictures.exe')" 40000 641F3EFA
"$SAMPLE" make "$(unix_path "$deep\\hidden copy.scr")" 16384 B575938E
"$SAMPLE" make "$(unix_path 'C:\Shared\report.exe')" 40000 641F3EFA
"$SAMPLE" flip "$(unix_path 'C:\Shared\report.exe')" $((4096 * 8 + 100))
# Wine's attrib takes one attribute per call: with "+h +s" only the last sticks.
wine cmd /c attrib +h "$deep\\hidden copy.scr" >/dev/null 2>&1
wine cmd /c attrib +s "$deep\\hidden copy.scr" >/dev/null 2>&1
check "the deep copy is hidden and system" \
    bash -c "wine cmd /c attrib '$deep\\hidden copy.scr' 2>/dev/null | tr -d '\\r' | grep -qE '^A? *S +H '"

# The running programs stay until this prefix's processes are ended.
E2E_BACKGROUND=1
held='C:\Shared\in use.exe'
"$SAMPLE" make "$(unix_path "$held")" 12288 379EDC9B
check "the helper holds the copy in use" hold_file "$held"
holder=$HOLDER_PID

# Two running worms: one in C:\windows, one in C:\, the tool's current folder.
worm='C:\windows\kurrel.exe'
booter='C:\kurrel boot.exe'
cp "$WORM" "$(unix_path "$worm")" && "$SAMPLE" patch "$(unix_path "$worm")" 91729FD1
cp "$WORM" "$(unix_path "$booter")" && "$SAMPLE" patch "$(unix_path "$booter")" 6355FE58
check "the worm in C:\\windows is running" start_worm "$worm" 'C:\windows\kurrel.lck'
worm_pid=$WORM_PID
check "the worm in C:\\ is running" start_worm "$booter" 'C:\kurrel boot.lck'
booter_pid=$WORM_PID

run_tool /SILENT
log="$(log_file)"
tr -d '\r' <"$log" | grep -v '^\[VTSU' | sed 's/^/  | /'
check "exit code 1: cleaned" [ "$TOOL_RC" -eq 1 ]

for gone in 'C:\windows\temp\kurrelsv.exe' 'C:\Shared\holiday pictures.exe' "$deep\\hidden copy.scr" \
    "$booter"; do
    check "deleted: $gone" [ ! -e "$(unix_path "$gone")" ]
done
check "the near miss stays" [ -e "$(unix_path 'C:\Shared\report.exe')" ]
check "the copy in use waits for the boot" [ -e "$(unix_path "$held")" ]
check "the running worm's file in C:\\windows waits for the boot" [ -e "$(unix_path 'C:\windows\kurrel.exe')" ]
check "the worm in C:\\ was ended: its lock opens again" lock_opens 'C:\kurrel boot.lck' 1
check "the worm in C:\\ was ended: its process is gone" process_gone "$booter_pid"
wine_differs "9x tool-help names a process without its folder" \
    check "Wine: the worm in C:\\windows, named without its folder, is still running" \
    lock_opens 'C:\windows\kurrel.lck' 0
wine_differs "9x tool-help names a process without its folder" \
    check "Wine: its process is still there" process_running "$worm_pid"

check "the open command is back to \"%1\" %*" \
    bash -c "wine reg query '$OPEN_COMMAND' /ve 2>/dev/null | tr -d '\\r' | grep -qE '^ *\\(Default\\) +REG_SZ +\"%1\" %\\*\$'"
wine_differs "win.ini's section windows lives in the registry on 9x too" \
    check "run= is empty in the registry, where Wine keeps it" \
    bash -c "wine reg query '$WIN_INI_WINDOWS' /v run 2>/dev/null | tr -d '\\r' | grep -qE '^ *run +REG_SZ *\$'"
check "win.bak is a copy of win.ini" cmp -s "$WINEPREFIX/win.ini.before" "$(unix_path 'C:\windows\win.bak')"
wine_differs "win.ini's section windows lives in the registry on 9x too" \
    check "Wine: the file's own run= line stays" cmp -s "$WINEPREFIX/win.ini.before" "$ini"

check_cleaning_console
# A 9x prefix here has no svrapi.dll at all (new_prefix disables Wine's stubs).
wine_differs "a win98 prefix has no svrapi.dll" \
    check "log: the share library could not be loaded, so no share was removed" \
    grep -qE $'^cannot load svrapi.dll library [0-9]+Removed all network shares, success=0\r$' "$log"

has_line() { grep -qxF -- "$1"$'\r' "$log"; }
has_pattern() { grep -qxE -- "$1"$'\r' "$log"; }
# The process lines carry the file names that tool-help gives.
wine_differs "9x tool-help names a process without its folder" \
    check "log: the worm in C:\\ examined under its bare name" has_pattern 'examinate process kurrel boot\.exe \(PID=0x[0-9a-f]+\)'
check "log: it is the worm" has_pattern 'Process kurrel boot\.exe \(PID=0x[0-9a-f]+\) is infection'
check "log: it was terminated" has_line 'Process kurrel boot.exe terminated with status 1'
wine_differs "9x tool-help names a process without its folder" \
    check "log: the worm in C:\\windows examined under its bare name" has_pattern 'examinate process kurrel\.exe \(PID=0x[0-9a-f]+\)'
check "log: which is not found where the tool looks (C:\\)" \
    bash -c "! grep -qE '^Process kurrel\\.exe \\(PID' '$log'"
for line in \
    'There were infected proceses, terminated with status =OK, start delete infected process files' \
    'Deleting file "kurrel boot.exe", result=1' \
    'Found infection "C:\windows\temp\kurrelsv.exe"' \
    'Deleting file "C:\windows\temp\kurrelsv.exe", result=1' \
    'Found infection "C:\Shared\holiday pictures.exe"' \
    'Deleting file "C:\Shared\holiday pictures.exe", result=1' \
    "Found infection \"$deep\\hidden copy.scr\"" \
    "Deleting file \"$deep\\hidden copy.scr\", result=1" \
    "Found infection \"$held\"" \
    "Deleting file \"$held\", result=2" \
    'Found infection "C:\windows\kurrel.exe"' \
    'Deleting file "C:\windows\kurrel.exe", result=2' \
    '[VTSU - AddFileToAutomaticRenameList]: System is not NT.' \
    'Infection is cleaned!' \
    'Restore shell, success=1' \
    'win.ini run=C:\windows\kurrel.exe, removing' \
    'Kurrelfix tool exit code: 1'; do
    check "log: $line" has_line "$line"
done
check "the near miss is not in the log" bash -c "! grep -q 'report.exe' '$log'"
check "every log line ends in CR LF" crlf_only "$log"
wininit="$(find "$(unix_path 'C:\windows')" -maxdepth 1 -iname wininit.ini -print -quit)"
check "WININIT.INI has two entries in its rename section" \
    [ "$(tr -d '\r' <"${wininit:-/dev/null}" | grep -c '^nul=')" -eq 2 ]

# The next boot: every program is gone, and Wine carries out WININIT.INI.
WINEPREFIX="$E2E_PREFIX" wineserver -k >/dev/null 2>&1
WINEPREFIX="$E2E_PREFIX" wineserver -w >/dev/null 2>&1
wait 2>/dev/null
check "the copy in use is still there before the boot" [ -e "$(unix_path "$held")" ]
wineboot -r >/dev/null 2>&1
wineserver -w
check "after the boot the copy in use is gone" [ ! -e "$(unix_path "$held")" ]
check "after the boot the worm's file in C:\\windows is gone" [ ! -e "$(unix_path 'C:\windows\kurrel.exe')" ]
check "after the boot the near miss is still there" [ -e "$(unix_path 'C:\Shared\report.exe')" ]
finish
