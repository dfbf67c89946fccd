# The Sentrel scanner in a Wine prefix: the test driver of e2e/driver, which
# stands in for the maker's on-access scanner, and the programs that look at
# it. Source it after e2e/lib.sh; every function works on $WINEPREFIX.
#
#   install_sentrel_driver [DEVICE...]   default: VTSentrelDev
#   sentrel_probe [-d DEVICE] COMMAND... state, record, reset, pend CODE, ...
#   sentrel_client ARGS...               the tool's NT sequence, or --9x
#
# The driver is the build of the same bitness as the programs that run here
# (E2E_BIN): Wine runs a driver in a device host of the bitness of the
# program that creates its service, and refuses a driver of the other one
# (error 1114), so the service is created with the same "wine".

# Except where 32-bit programs run through qemu-user: there the driver is the
# 64-bit one, in Wine's native 64-bit device host, as 64-bit Windows runs
# only 64-bit drivers under the 32-bit tool; the 32-bit device host, started
# through qemu, once failed to start the driver's service there.
if [ -z "${SENTREL_SYS:-}" ]; then
    SENTREL_SYS="$E2E_BIN/sentrel_test.sys"
    shipped_runs_natively || SENTREL_SYS="$E2E_NATIVE_BUILD/e2e/sentrel_test.sys"
fi
# The probe only looks at the driver and steers it, whatever its own bitness:
# it is the build that runs natively here, as a 32-bit program started through
# qemu-user takes seconds each time, and the scenarios start it often.
SENTREL_PROBE="${SENTREL_PROBE:-$E2E_NATIVE_BUILD/e2e/sentrel_probe.exe}"
SENTREL_CLIENT="${SENTREL_CLIENT:-$E2E_BIN/sentrel_client.exe}"
SENTREL_SERVICE=SentrelTest
SENTREL_SERVICE_KEY="HKLM\\System\\CurrentControlSet\\Services\\$SENTREL_SERVICE"

# install_sentrel_driver [DEVICE...]: copies the driver into the prefix,
# creates its kernel service with the device names in its "Devices" value,
# starts it and waits until the first device opens. Returns 1 when it does not.
#
# Wine ends the device host, and the driver with its state and record, a few
# seconds after the last program of the prefix has ended. So this makes the
# prefix's server persistent: the driver then lives until end_prefix ends the
# prefix. A persistent server never ends on its own, so waiting for it
# (wineserver -w) would hang: from here on run_tool does not wait for the
# prefix to settle (E2E_BACKGROUND). Call it before starting programs that
# keep running, as it first waits for the prefix to settle.
install_sentrel_driver() {
    [ $# -gt 0 ] || set -- VTSentrelDev
    local first="$1" names="" name out="$WINEPREFIX/sentrel-install.txt"
    for name in "$@"; do names="${names:+$names\\0}$name"; done
    local sc=sc windows="$WINEPREFIX/drive_c/windows"
    [ -f "$SENTREL_SYS" ] || { echo "  no driver at $SENTREL_SYS"; return 1; }
    cp "$SENTREL_SYS" "$windows/system32/drivers/sentrel_test.sys" || return 1
    # A 32-bit driver in a prefix that also runs 64-bit programs: the 32-bit
    # sc.exe creates its service, so that Wine loads it in a 32-bit device
    # host, which sees system32 through syswow64 (through qemu-user where
    # the kernel refuses 32-bit programs).
    if [ "$(pe_machine "$SENTREL_SYS")" = 014c ] && [ -d "$windows/syswow64" ]; then
        sc='C:\windows\syswow64\sc.exe'
        mkdir -p "$windows/syswow64/drivers" &&
            cp "$SENTREL_SYS" "$windows/syswow64/drivers/sentrel_test.sys" || return 1
    fi
    # A service started while the prefix is still setting itself up fails
    # (1053, 1055); the server must have ended before it is made persistent.
    timeout 120 wineserver -w || return 1
    wineserver -p || return 1
    E2E_BACKGROUND=1
    (
        cd "$WINEPREFIX/drive_c" || exit 1
        wine "$sc" create "$SENTREL_SERVICE" type= kernel start= demand \
            binPath= 'C:\windows\system32\drivers\sentrel_test.sys' &&
            wine reg add "$SENTREL_SERVICE_KEY" /v Devices /t REG_MULTI_SZ /d "$names" /f &&
            wine "$sc" start "$SENTREL_SERVICE"
    ) >"$out" 2>&1 || { tr -d '\r' <"$out" | sed 's/^/  | /'; return 1; }
    local _
    for _ in $(seq 1 100); do
        sentrel_probe -d "$first" state >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    echo "  the device $first does not open:"
    sentrel_probe -d "$first" state | sed 's/^/  | /'
    return 1
}

# pe_machine FILE: the machine field of a Windows program or driver, in hex
# (014c for 32-bit x86, 8664 for x86-64).
pe_machine() {
    local at
    at=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
    od -An -tx2 -j $((at + 4)) -N 2 "$1" | tr -d ' '
}

# run_in_prefix PROGRAM ARGS...: runs a Windows program of the scenarios from
# C:\, its output without CRs, its exit code. Its standard error goes to
# SENTREL_STDERR when set. A program that failed without printing anything is
# named on standard error with its exit code, so that a run that never
# started is told apart from a wrong answer.
run_in_prefix() {
    local out rc
    out="$(cd "$WINEPREFIX/drive_c" && wine "$@" 2>>"${SENTREL_STDERR:-/dev/null}")"
    rc=$?
    out="${out//$'\r'/}"
    if [ -n "$out" ]; then
        printf '%s\n' "$out"
    elif [ "$rc" -ne 0 ]; then
        echo "  (${1##*/} ${*:2} printed nothing; exit code $rc)" >&2
    fi
    return "$rc"
}

# sentrel_probe ARGS...: e2e/programs/sentrel_probe.cpp in the prefix. The
# probe prints a line whenever it fails itself, so a run that failed without
# a word never started: Wine now and then fails to start a program right
# after another of the prefix ended. Every probe command can be given twice
# to the same effect, so such a run is made once more.
sentrel_probe() {
    local out rc
    out="$(run_in_prefix "$SENTREL_PROBE" "$@")"
    rc=$?
    if [ -z "$out" ] && [ "$rc" -ne 0 ]; then
        echo "  (sentrel_probe.exe $* did not start; run again)" >&2
        out="$(run_in_prefix "$SENTREL_PROBE" "$@")"
        rc=$?
    fi
    [ -z "$out" ] || printf '%s\n' "$out"
    return "$rc"
}

# sentrel_client ARGS...: e2e/programs/sentrel_client.cpp in the prefix.
sentrel_client() { run_in_prefix "$SENTREL_CLIENT" "$@"; }
