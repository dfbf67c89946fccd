#!/usr/bin/env bash
# Shows Kurrelfix doing its job: a fresh Wine prefix is made into an infected
# demo workstation, Kurrelfix.exe /SILENT cleans it, and the console lines,
# the log, the exit code and the workstation before and after are printed.
# Sets up the machine and builds what it runs first.
#
# To show more, add to plant_demo_workstation (and to DEMO_FILES, so that
# the before/after listing names the new files).
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || exit 1
echo "== building Kurrelfix.exe and the demo's helpers"
# On a machine that cannot run 32-bit programs natively, Wine runs the 64-bit
# build of the same sources (scripts/wine_bits.sh): the demo's running worm
# is seen by the process sweep only where its memory is read as it is, which
# a worm run through qemu-user does not allow.
windows_preset=windows
if [ "$(bash scripts/wine_bits.sh)" != 32 ]; then
    windows_preset=windows64
    export E2E_WINE_KIND=64
fi
{ cmake --preset "$windows_preset" && cmake --build --preset "$windows_preset" &&
    cmake --preset host && cmake --build --preset host --target kurrel_sample; } >/dev/null ||
    { echo "demo: the build failed; run the commands above by hand to see why"; exit 1; }

source e2e/lib.sh
source e2e/lib_sentrel.sh
source e2e/lib_shares.sh
source e2e/tool_shares_scenario.sh
SAMPLE="$E2E_HOST_BIN/kurrel_sample"
WORM="$E2E_BIN/kurrel_worm.exe"
OPEN_COMMAND='HKCR\exefile\shell\open\command'
# On the NT family the section "windows" of win.ini lives in the registry.
WIN_INI_WINDOWS='HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows'

# Windows paths of the demo's files, and what each one is.
DEMO_FILES=(
    'C:\windows\temp\kurrelsv.exe|a copy of the worm'
    'C:\Shared\holiday pictures.exe|a copy of the worm'
    'C:\Shared\report.exe|a near miss: one bit away from a worm copy, must stay'
    'C:\windows\kurrel.exe|the worm, running'
    'C:\Tools\Kurrelfix.exe|the tool itself'
)


plant_demo_workstation() {
    mkdir -p "$(unix_path 'C:\Shared')"
    # Not in C:\windows\system32: a 32-bit program on a 64-bit Windows (and
    # prefix) is shown syswow64 there, so the sweep would never see it.
    "$SAMPLE" make "$(unix_path 'C:\windows\temp\kurrelsv.exe')" 24576 2E30D733 &&
        "$SAMPLE" make "$(unix_path 'C:\Shared\holiday pictures.exe')" 40000 641F3EFA &&
        "$SAMPLE" make "$(unix_path 'C:\Shared\report.exe')" 40000 641F3EFA &&
        "$SAMPLE" flip "$(unix_path 'C:\Shared\report.exe')" $((4096 * 8 + 100)) || return 1
    # The running worm: the stand-in program with its region forced to a table CRC.
    cp "$WORM" "$(unix_path 'C:\windows\kurrel.exe')" &&
        "$SAMPLE" patch "$(unix_path 'C:\windows\kurrel.exe')" 91729FD1 || return 1
    (cd "$WINEPREFIX/drive_c" && wine 'C:\windows\kurrel.exe' >/dev/null 2>&1 &)
    # What the worm does to the settings: executables open through it, and
    # it starts with Windows.
    wine reg add "$OPEN_COMMAND" /ve /d 'C:\windows\kurrel.exe "%1" %*' /f >/dev/null 2>&1 &&
        wine reg add "$WIN_INI_WINDOWS" /v run /d 'C:\windows\kurrel.exe' /f >/dev/null 2>&1 || return 1
    # Network shares: Wine cannot share folders, so the test-only share
    # library in the system folder keeps the workstation's shares (e2e/lib_shares.sh).
    install_share_dlls nt && seed_shares nt
}

# The workstation's shares, as another program sees them.
show_shares() {
    echo "  network shares: $(share_tool nt list | sed -E 's/^name=([^ ]*) .*/\1/' | tr '\n' ' ')"
}

# Wine's tasklist lists nothing, so look for the worm among this prefix's
# own processes (their environment names it).
worm_running() {
    local proc
    for proc in /proc/[0-9]*; do
        tr '\0' '\n' 2>/dev/null <"$proc/cmdline" | grep -qix 'C:\\windows\\kurrel\.exe' &&
            tr '\0' '\n' 2>/dev/null <"$proc/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
    done
    return 1
}

show_workstation() {
    local entry path
    for entry in "${DEMO_FILES[@]}"; do
        path="${entry%%|*}"
        if [ -e "$(unix_path "$path")" ]; then
            printf '  %-8s %-36s %s\n' present "$path" "${entry#*|}"
        else
            printf '  %-8s %-36s %s\n' gone "$path" "${entry#*|}"
        fi
    done
    echo "  open command for programs: $(wine reg query "$OPEN_COMMAND" /ve 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *(Default) *REG_SZ *//p')"
    echo "  win.ini run=: $(wine reg query "$WIN_INI_WINDOWS" /v run 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *run *REG_SZ *//p')"
    echo "  worm process running: $(worm_running && echo yes || echo no)"
    show_shares
    echo "  the maker's scanner: $(scanner_state)"
}

# The scanner is the test-only driver that stands in for the maker's one.
scanner_state() { sentrel_probe state 2>/dev/null | sed -n 's/^state //p'; }

echo "== making the demo workstation (a fresh Wine prefix)"
new_prefix
# The maker's on-access scanner, played by a test-only driver (e2e/driver).
install_sentrel_driver >/dev/null || { echo "demo: could not install the scanner's stand-in"; exit 1; }
plant_demo_workstation || { echo "demo: could not plant the demo workstation"; exit 1; }
# Kurrelfix.exe is in place before the listing, so that "before" shows it too.
mkdir -p "$(unix_path 'C:\Tools')" && cp "$KURRELFIX_EXE" "$(unix_path 'C:\Tools\Kurrelfix.exe')"
# Let the worm start; the tool can only end a worm that is already running.
for _ in $(seq 1 50); do worm_running && break; sleep 0.2; done
echo "== the workstation before"
before="$(show_workstation)"
echo "$before"

echo "== running: Kurrelfix.exe /SILENT (takes a little while: it waits 15 s to re-check the open command)"
start_tool
if wait_for_the_wait; then
    echo "-- during the cleaning, while the tool waits its 15 s"
    show_shares
    echo "  the maker's scanner: $(scanner_state)"
fi
wait "$TOOL_PID"
TOOL_RC=$?
TOOL_OUT="$(tr -d '\r' <"$TOOL_RAW")"
echo "-- console"
sed 's/^/  /' <<<"$TOOL_OUT"
echo "-- log: C:\\windows\\Kurrelfix.log"
tr -d '\r' <"$(log_file)" | sed 's/^/  /'
echo "-- exit code: $TOOL_RC"

echo "== the workstation after"
after="$(show_workstation)"
echo "$after"

echo "== what changed"
# The lines of the listing that differ, before and after.
diff <(echo "$before") <(echo "$after") | sed -n 's/^< /  before:/p; s/^> /  after: /p'

end_prefix
