#!/usr/bin/env bash
# Names that the ANSI calls open as another name, or not at all: a copy of
# the worm named with a fullwidth letter (the ANSI listing gives "kurrel.exe",
# the name of a clean program beside it), "nul.exe" (the ANSI open reaches
# the device), "x.exe." (the trailing dot is dropped) and "y.exe " (the
# trailing blank too). On the NT family the sweep walks by wide names: each
# copy is removed, the clean program stays, the run says 1 and the log names
# each copy readably. A running worm whose image is named with a fullwidth
# letter is ended and its image deleted. A copy with a trailing dot held open by another program
# is left for the boot by its wide path, which the boot's list names exactly.
#
# Builds: the shipped build runs the copies and the held copy. Where 32-bit
# programs run through qemu-user, the running worm is not among them: no
# other process reads a qemu-run process's memory as it is, and the process
# sweep reads a process's modules from there. There the running worm has a
# run of its own, on the 64-bit build, whose processes run natively.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

SAMPLE="$E2E_HOST_BIN/kurrel_sample"
HOLD="$E2E_BIN/hold_file.exe"
WORM="$E2E_BIN/kurrel_worm.exe"
for tool in "$KURRELFIX_EXE" "$SAMPLE" "$HOLD" "$WORM"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done
log_has() { tr -d '\r' <"$(log_file)" | grep -xF -- "$1" >/dev/null; }

new_prefix
docs="$(unix_path 'C:\Docs')"
mkdir -p "$docs"
fullwidth="$(printf '\xef\xbd\x8b')urrel.exe"  # U+FF4B, a fullwidth "k"
"$SAMPLE" make "$docs/$fullwidth" 12000 F0BC4217 >/dev/null || exit 1
printf 'MZ a clean program' >"$docs/kurrel.exe"
"$SAMPLE" make "$docs/nul.exe" 12000 DD3D1EB3 >/dev/null || exit 1
"$SAMPLE" make "$docs/x.exe." 12000 1E101EF9 >/dev/null || exit 1
"$SAMPLE" make "$docs/y.exe " 12000 91729FD1 >/dev/null || exit 1
check "the ANSI listing shows the fullwidth name as the clean program's" \
    bash -c "wine cmd /c dir /b 'C:\\Docs' 2>/dev/null | tr -d '\\r' | grep -c '^kurrel.exe\$' | grep -qx 2"

# A running worm whose image is named so too: its ANSI name is the clean
# program's of the near name.
runner="$(printf '\xef\xbd\x8b')worm.exe"
running_worm() {
    cp "$E2E_BIN/kurrel_worm.exe" "$docs/$runner" && "$SAMPLE" patch "$docs/$runner" 91729FD1
    printf 'MZ another clean program' >"$docs/kworm.exe"
    E2E_BACKGROUND=1
    (cd "$WINEPREFIX/drive_c" && exec wine "C:\\Docs\\$runner" >/dev/null 2>&1) &
    worm_pid=$!
    sleep 1
    check "the worm runs" process_running "$worm_pid"
}
worm_ended() {
    for _ in $(seq 1 20); do process_gone "$worm_pid" && break; sleep 0.5; done
    check "the worm named by its wide name was ended" process_gone "$worm_pid"
    check "and its image deleted" [ ! -e "$docs/$runner" ]
    check "the log names the image by the code point" \
        bash -c "tr -d '\r' <'$(log_file)' | grep -q '^Process C:.Docs.<U+FF4B>worm.exe terminated with status 1\$'"
    check "the clean program of the near name stays" [ "$(cat "$docs/kworm.exe")" = 'MZ another clean program' ]
}
shipped_runs_natively && running_worm

run_tool /SILENT
unset E2E_BACKGROUND
tr -d '\r' <"$(log_file)" | grep -E '^(Found|Deleting|Process)' | sed 's/^/  | /'
check "exit code 1" [ "$TOOL_RC" -eq 1 ]
shipped_runs_natively && worm_ended
check "the fullwidth copy is gone" [ ! -e "$docs/$fullwidth" ]
check "the clean program of the near name stays" [ "$(cat "$docs/kurrel.exe")" = 'MZ a clean program' ]
check "nul.exe is gone" [ ! -e "$docs/nul.exe" ]
check "x.exe. is gone" [ ! -e "$docs/x.exe." ]
check "'y.exe ' is gone" [ ! -e "$docs/y.exe " ]
check "the log names the fullwidth letter by its code point" \
    log_has 'Deleting file "C:\Docs\<U+FF4B>urrel.exe", result=1'
check "the log names nul.exe" log_has 'Deleting file "C:\Docs\nul.exe", result=1'
check "the log names x.exe. with its dot" log_has 'Deleting file "C:\Docs\x.exe.", result=1'
check "the log names 'y.exe ' with its blank" log_has 'Deleting file "C:\Docs\y.exe ", result=1'

echo "-- a copy with a trailing dot, held open: left for the boot by its wide path"
"$SAMPLE" make "$docs/held.exe." 12000 F0BC4217 >/dev/null || exit 1
E2E_BACKGROUND=1
# The helper opens it by its "\\?\" path, as only such a path reaches it.
marker='C:\Docs\held-marker'
(cd "$WINEPREFIX/drive_c" && exec wine "$HOLD" '\\?\C:\Docs\held.exe.' "$marker" >/dev/null 2>&1) &
for _ in $(seq 1 300); do [ -e "$(unix_path "$marker")" ] && break; sleep 0.2; done
check "the helper holds the copy" [ -e "$(unix_path "$marker")" ]
rm -f "$(unix_path "$marker")"
run_tool /SILENT
unset E2E_BACKGROUND
check "exit code 1: removed, at the next boot" [ "$TOOL_RC" -eq 1 ]
check "the log says so" log_has 'Deleting file "C:\Docs\held.exe.", result=2'
check "the copy is still there before the restart" [ -e "$docs/held.exe." ]
pending="$(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null | tr -d '\r')"
check "the boot's list names it exactly, trailing dot and all" \
    grep -qF 'REG_MULTI_SZ    \??\C:\Docs\held.exe.\0' <<<"$pending"
wineserver -k
wineserver -w
timeout 120 wineboot -r >/dev/null 2>&1
timeout 60 wineserver -w
# Windows' session manager deletes the NT path as the list names it; Wine's
# wineboot deletes by the DOS path, whose trailing dot the DOS rules drop, so
# it looks for "held.exe" and leaves "held.exe." (a file without the dot is
# deleted at the restart, as 30_clean_infected_nt.sh shows). The simulation's
# boot follows Windows (the sweeps' held copy "mail.exe.").
after_restart() { [ -e "$docs/held.exe." ]; }
check "after the restart (Wine keeps it)" \
    wine_differs "wineboot deletes a pending file by its DOS path, which drops a trailing dot" after_restart
check "and the clean program still stands" [ "$(cat "$docs/kurrel.exe")" = 'MZ a clean program' ]

if ! shipped_runs_natively; then
    echo "-- a running worm named with a fullwidth letter"
    use_build native "the running worm, which qemu-user would hide from the process sweep"
    new_prefix
    docs="$(unix_path 'C:\Docs')"
    mkdir -p "$docs"
    running_worm
    run_tool /SILENT
    unset E2E_BACKGROUND
    tr -d '\r' <"$(log_file)" | grep -E '^(Found|Deleting|Process)' | sed 's/^/  | /'
    check "exit code 1" [ "$TOOL_RC" -eq 1 ]
    worm_ended
fi
finish
