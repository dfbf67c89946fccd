# Shared by the end-to-end scenarios: a fresh Wine prefix per scenario, with
# its Z: drive removed so that the sweep never walks this machine's files.
# Source it; every function works on $WINEPREFIX.

E2E_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# A pre-set KURRELFIX_EXE / E2E_BIN / E2E_HOST_BIN point the scenarios at another build.
KURRELFIX_EXE="${KURRELFIX_EXE:-$E2E_ROOT/build/windows/Kurrelfix.exe}"
E2E_BIN="${E2E_BIN:-$E2E_ROOT/build/windows/e2e}"
E2E_HOST_BIN="${E2E_HOST_BIN:-$E2E_ROOT/build/host/e2e}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
E2E_FAILURES=0

# new_prefix [win98]: makes and boots a fresh prefix in a temporary folder.
new_prefix() {
    WINEPREFIX="$(mktemp -d /tmp/kurrelfix-wine.XXXXXX)"
    export WINEPREFIX
    wineboot -i >/dev/null 2>&1
    wineserver -w
    rm -f "$WINEPREFIX/dosdevices/z:"
    if [ "${1:-}" = win98 ]; then
        wine reg add 'HKCU\Software\Wine' /v Version /d win98 /f >/dev/null 2>&1
        # svrapi.dll's functions are bare stubs in Wine; a 9x machine without it is closer.
        export WINEDLLOVERRIDES="mscoree,mshtml=;svrapi=d"
        wineserver -w
    else
        export WINEDLLOVERRIDES="mscoree,mshtml="
    fi
    trap end_prefix EXIT
}

# end_prefix: ends this prefix's processes and removes it.
end_prefix() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
}

# Windows path of a file in drive C: of the prefix.
c_path() { echo "$WINEPREFIX/drive_c/$1"; }

# run_tool ARGS...: runs Kurrelfix.exe; sets TOOL_RC and TOOL_OUT (console, CR removed).
run_tool() {
    TOOL_OUT="$(wine "$KURRELFIX_EXE" "$@" 2>/dev/null | tr -d '\r')"
    TOOL_RC=${PIPESTATUS[0]}
    wineserver -w
}

# check NAME COMMAND...: runs a check and counts it.
check() {
    local name="$1"
    shift
    if "$@"; then
        echo "  ok   $name"
    else
        echo "  FAIL $name"
        E2E_FAILURES=$((E2E_FAILURES + 1))
    fi
}

# finish: the scenario's exit code.
finish() { [ "$E2E_FAILURES" -eq 0 ]; }
