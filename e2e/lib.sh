# Shared by the end-to-end scenarios: a fresh Wine prefix per scenario, with
# its Z: drive removed so that the sweep never walks this machine's files.
# Source it; every function works on $WINEPREFIX.

E2E_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# The program that is shipped, for the checks that only read the file.
KURRELFIX_EXE32="${KURRELFIX_EXE32:-$E2E_ROOT/build/windows/Kurrelfix.exe}"
# How this machine runs 32-bit Wine (scripts/wine_bits.sh):
#   32    natively: everything runs the shipped 32-bit build;
#   qemu  the kernel refuses 32-bit programs, so 64-bit Wine starts its 32-bit
#         processes under qemu-user, through a folder of our own under build/
#         (scripts/wine_qemu.sh): the scenarios run the shipped 32-bit build in
#         a 64-bit (WoW64) prefix whose own processes stay native;
#   64    not at all: the 64-bit build of the same sources under 64-bit Wine.
# In the last two "wine" and the tools that start it (wineboot) are pointed at
# the 64-bit loader through a folder of our own at the front of PATH, so that
# every scenario runs unchanged.
E2E_WINE_KIND="${E2E_WINE_KIND:-$(bash "$E2E_ROOT/scripts/wine_bits.sh")}"
case "$E2E_WINE_KIND" in
    qemu)
        E2E_BUILD="$E2E_ROOT/build/windows"
        E2E_WINE_BITS=32
        # What qemu cannot show (another process reading a qemu-run process's
        # memory: the process sweep reading a running worm's modules, a
        # helper that must act on such a process) runs on the build whose
        # processes run natively here; use_build says where.
        E2E_NATIVE_BUILD="$E2E_ROOT/build/windows64"
        E2E_NATIVE_BITS=64
        E2E_WINE_PATH="$(bash "$E2E_ROOT/scripts/wine_qemu.sh")" ||
            { echo "  FAIL no folder to run 32-bit Wine through qemu (scripts/wine_qemu.sh)"; exit 1; }
        E2E_WINE_PATH="${E2E_WINE_PATH%/lib/wine}/path"
        ;;
    64)
        E2E_BUILD="$E2E_ROOT/build/windows64"
        E2E_WINE_BITS=64
        E2E_WINE_PATH="$E2E_ROOT/build/wine64-path"
        mkdir -p "$E2E_WINE_PATH"
        for name in wine wine-stable; do
            printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' \
                >"$E2E_WINE_PATH/$name"
            chmod +x "$E2E_WINE_PATH/$name"
        done
        ;;
    *)
        E2E_WINE_KIND=32
        E2E_BUILD="$E2E_ROOT/build/windows"
        E2E_WINE_BITS=32
        E2E_WINE_PATH=""
        ;;
esac
E2E_NATIVE_BUILD="${E2E_NATIVE_BUILD:-$E2E_BUILD}"
E2E_NATIVE_BITS="${E2E_NATIVE_BITS:-$E2E_WINE_BITS}"
E2E_BUILD_BITS="$E2E_WINE_BITS"
if [ -n "$E2E_WINE_PATH" ]; then
    case ":$PATH:" in *":$E2E_WINE_PATH:"*) ;; *) export PATH="$E2E_WINE_PATH:$PATH" ;; esac
fi
# A pre-set KURRELFIX_EXE / E2E_BIN / E2E_HOST_BIN point the scenarios at another build.
KURRELFIX_EXE="${KURRELFIX_EXE:-$E2E_BUILD/Kurrelfix.exe}"
E2E_BIN="${E2E_BIN:-$E2E_BUILD/e2e}"
E2E_HOST_BIN="${E2E_HOST_BIN:-$E2E_ROOT/build/host/e2e}"
# The version line the tool prints first, made from app/version.h, for the
# checks of something else that read past it.
export E2E_VERSION_LINE="$(sed -n 's/^#define KURRELFIX_VERSION_\(MAJOR\|MINOR\|BUILD\) \([0-9]*\)$/\2/p' \
    "$E2E_ROOT/app/version.h" | { read -r major; read -r minor; read -r build; printf 'Kurrelfix v%d.%02d.%d' "$major" "$minor" "$build"; })"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
E2E_FAILURES=0

# new_prefix [win98]: a fresh prefix of its own in a temporary folder, copied
# from a ready prefix of that kind (prefix_template), with its drives other
# than C: removed and its user-folder links made empty, checked each time.
# The prefix is ours alone (E2E_PREFIX); a WINEPREFIX set beforehand is never touched.
new_prefix() {
    end_prefix
    local kind=nt template
    [ "${1:-}" = win98 ] && kind=win98
    template="$(prefix_template "$kind")" || { echo "  FAIL no ready $kind prefix to copy"; exit 1; }
    E2E_PREFIX="$(mktemp -d /tmp/kurrelfix-wine.XXXXXX)" || { echo "  FAIL mktemp"; exit 1; }
    WINEPREFIX="$E2E_PREFIX"
    export WINEPREFIX
    trap end_prefix EXIT
    # A whole copy: its files share no inode with the ready prefix (nor with
    # Wine's own libraries, which wineboot may have linked into it), so that
    # what a scenario changes or replaces stays in its own prefix.
    if ! cp -a "$template/." "$WINEPREFIX/" || [ ! -d "$WINEPREFIX/drive_c/windows" ]; then
        echo "  FAIL could not copy the ready prefix $template to $WINEPREFIX"
        exit 1
    fi
    confine_prefix || exit 1
    if [ "$kind" = win98 ]; then
        # svrapi.dll's functions are bare stubs in Wine; a 9x machine without it is closer.
        export WINEDLLOVERRIDES="mscoree,mshtml=;svrapi=d"
    else
        export WINEDLLOVERRIDES="mscoree,mshtml="
    fi
}

# confine_prefix: removes $WINEPREFIX's drives other than C: and empties the
# links that lead out of it, then checks both; says what failed and returns 1.
confine_prefix() {
    # Only C: stays: Wine maps the Linux root as Z:, and any other drive
    # letter would be a fixed disk outside the prefix for the sweep to walk.
    local drive
    for drive in "$WINEPREFIX"/dosdevices/?:; do
        [ -L "$drive" ] || continue
        [ "${drive##*/}" = c: ] || rm -f "$drive"
    done
    if [ -e "$WINEPREFIX/dosdevices/z:" ] || [ -L "$WINEPREFIX/dosdevices/z:" ]; then
        echo "  FAIL the Z: drive is still there"
        return 1
    fi
    # Wine links the user's folders (Desktop, Documents, ...) to this
    # machine's home folder; the sweep would walk it through C:. Each link
    # that leads out of the prefix becomes an empty folder of its own.
    local link
    while IFS= read -r -d '' link; do
        case "$(readlink -f "$link")" in
            "$WINEPREFIX"/*) ;;
            *) rm -f "$link" && mkdir -p "$link" ;;
        esac
    done < <(find "$WINEPREFIX/drive_c" -type l -print0)
    # grep reads to the end, so that find never meets a closed pipe, which
    # under pipefail would read as "no link out of the prefix".
    if find "$WINEPREFIX/drive_c" -type l -exec readlink -f {} + | grep -v "^$WINEPREFIX/" >/dev/null; then
        echo "  FAIL drive C: still links out of the prefix"
        return 1
    fi
}

# make_prefix_template KIND FOLDER: boots a new prefix of KIND (nt, win98) in
# FOLDER, the slow part that every scenario used to do itself.
make_prefix_template() {
    local WINEPREFIX="$2" WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEPREFIX WINEDLLOVERRIDES
    wineboot -i >/dev/null 2>&1
    wineserver -w
    [ -d "$WINEPREFIX/drive_c/windows" ] || { echo "  FAIL wineboot made no prefix in $WINEPREFIX"; return 1; }
    # The 32-bit half of the prefix is made by 32-bit processes: where they
    # run through qemu, a prefix without it would only fail later, unclearly.
    if [ "$E2E_WINE_KIND" = qemu ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
        echo "  FAIL wineboot made no 32-bit system folder (syswow64) in $WINEPREFIX: 32-bit Wine did not run through qemu"
        return 1
    fi
    if [ "$1" = win98 ]; then
        wine reg add 'HKCU\Software\Wine' /v Version /d win98 /f >/dev/null 2>&1
        wineserver -w
    fi
    # The copies are confined again and checked; confining the ready prefix
    # too keeps its own links from ever leading a copy out.
    confine_prefix
}

# prefix_template nt|win98: prints the folder of a ready prefix of that kind,
# made once per machine in the build folder and made again when Wine's
# version, the bitness it runs or the steps above change. Scenarios running
# at the same time each may make one; the first to finish is kept.
prefix_template() {
    local kind="$1" version key root ready made
    version="$(wine --version 2>/dev/null)" || { echo "  FAIL wine --version" >&2; return 1; }
    key="$(printf '%s\n' "$version" "$E2E_WINE_KIND" "$(declare -f make_prefix_template confine_prefix)" |
        md5sum | cut -c1-12)"
    root="$E2E_ROOT/build/wine-prefixes"
    ready="$root/$key/$kind"
    if [ ! -d "$ready/drive_c/windows" ]; then
        mkdir -p "$root/$key" || return 1
        # Ready prefixes of another Wine or of older steps are of no more use.
        find "$root" -mindepth 1 -maxdepth 1 -type d ! -name "$key" -exec rm -rf {} + 2>/dev/null
        made="$(mktemp -d "$root/$key/making-$kind.XXXXXX")" || return 1
        if ! make_prefix_template "$kind" "$made" >&2; then
            WINEPREFIX="$made" wineserver -k >/dev/null 2>&1
            rm -rf "$made"
            return 1
        fi
        # Renamed into place whole, so that a half-made prefix is never copied;
        # when another run got there first, its prefix is as good.
        mv -T "$made" "$ready" 2>/dev/null || rm -rf "$made"
    fi
    echo "$ready"
}

# E2E_SKIPPED: the exit status of a scenario that this machine cannot run;
# e2e/run.sh counts it as skipped, never as passed.
E2E_SKIPPED=77

# skip_scenario WHY: says that the scenario cannot run here, and why, and
# ends it as skipped.
skip_scenario() {
    echo "  SKIP $1"
    exit "$E2E_SKIPPED"
}

# end_prefix: ends the processes of the prefix that new_prefix made, and
# removes it; nothing else.
end_prefix() {
    if [ -n "${E2E_PREFIX:-}" ] && [ -d "$E2E_PREFIX" ]; then
        WINEPREFIX="$E2E_PREFIX" wineserver -k >/dev/null 2>&1 || true
        WINEPREFIX="$E2E_PREFIX" wineserver -w >/dev/null 2>&1 || true
        rm -rf "$E2E_PREFIX"
    fi
    E2E_PREFIX=""
}

# Windows path of a file in drive C: of the prefix.
c_path() { echo "$WINEPREFIX/drive_c/$1"; }

# unix_path 'C:\a\b': the Unix path of a Windows path on drive C: of the prefix.
unix_path() {
    local rest="${1#[Cc]:\\}"
    echo "$WINEPREFIX/drive_c/${rest//\\//}"
}

# system_folder: the Unix path of the folder that the program under test gets
# from GetSystemDirectory, where Windows keeps its libraries: system32 for
# the 64-bit build; for the 32-bit one syswow64 in a 64-bit prefix (the
# folder Windows shows a 32-bit program as its system32), else system32.
system_folder() {
    local windows="$WINEPREFIX/drive_c/windows"
    if [ "$E2E_WINE_BITS" != 64 ] && [ -d "$windows/syswow64" ]; then
        echo "$windows/syswow64"
    else
        echo "$windows/system32"
    fi
}

# use_build shipped|native [WHY]: the build that the scenario's next steps
# run (KURRELFIX_EXE, E2E_BIN, and E2E_WINE_BITS, which system_folder
# follows), and says so. "native" is the build whose processes run natively
# on this machine: the 64-bit one where 32-bit Wine runs through qemu, for
# what qemu cannot show (a running worm's modules, which the process sweep
# reads from its memory); elsewhere it is the one the scenarios run anyway.
# Each scenario that calls it says what it runs on which build in one
# paragraph of its header, starting with "# Builds:".
use_build() {
    if [ "$1" = native ]; then
        KURRELFIX_EXE="$E2E_NATIVE_BUILD/Kurrelfix.exe"
        E2E_BIN="$E2E_NATIVE_BUILD/e2e"
        E2E_WINE_BITS="$E2E_NATIVE_BITS"
    else
        KURRELFIX_EXE="$E2E_BUILD/Kurrelfix.exe"
        E2E_BIN="$E2E_BUILD/e2e"
        E2E_WINE_BITS="$E2E_BUILD_BITS"
    fi
    echo "  (on ${KURRELFIX_EXE#"$E2E_ROOT"/}, $E2E_WINE_BITS-bit${2:+: $2})"
}

# shipped_runs_natively: the shipped build's processes run natively here, so
# that other processes see their memory as it is (not where 32-bit Wine runs
# through qemu-user).
shipped_runs_natively() { [ "$E2E_NATIVE_BUILD" = "$E2E_BUILD" ]; }

# process_gone PID: the process has ended (a zombie not yet reaped counts as ended).
process_gone() { [ ! -e "/proc/$1" ] || grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat"; }
process_running() { ! process_gone "$1"; }

# hold_file 'C:\path': starts the helper that holds the file open for reading
# without delete sharing, as a program using it would, and waits until it
# has the file. HOLDER_PID is its process; it runs until the prefix's
# processes are ended. Fails when the helper never took the file.
hold_file() {
    local marker="$1.held-marker"
    rm -f "$(unix_path "$marker")"
    # Holding a file is the same for a program of either bitness: the helper
    # is the build that runs natively here (a 32-bit one through qemu-user
    # only takes longer to start).
    (cd "$WINEPREFIX/drive_c" && exec wine "$E2E_NATIVE_BUILD/e2e/hold_file.exe" "$1" "$marker" >/dev/null 2>&1) &
    HOLDER_PID=$!
    local _
    for _ in $(seq 1 300); do
        [ -e "$(unix_path "$marker")" ] && { rm -f "$(unix_path "$marker")"; return 0; }
        sleep 0.2
    done
    return 1
}

# reg_value KEY NAME: the data of a registry value as `wine reg query` shows
# it (NAME empty: the default value); nothing when the value is missing.
reg_value() {
    local line
    if [ -z "$2" ]; then
        line="$(wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | grep -E '^ +\(Default\) ')"
    else
        line="$(wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | grep -iE "^ +$2 ")"
    fi
    [ -n "$line" ] || return 1
    sed -E 's/^ +[^ ]+( [^ ]+)* +REG_[A-Z_]+ *//' <<<"$line"
}

# wine_differs WHY COMMAND...: runs an expectation that holds only because
# Wine differs from Windows here, saying so; `grep -rn wine_differs e2e`
# lists every such place.
wine_differs() {
    local why="$1"
    shift
    echo "  (Wine differs from Windows: $why)"
    "$@"
}

# run_tool ARGS...: runs Kurrelfix.exe as a user would, from C:\Tools with C:\
# as the current folder. Sets TOOL_RC, TOOL_OUT (console, CR removed) and
# TOOL_RAW (a file with the console's bytes, outside drive C:). With
# E2E_TOOL_TIMEOUT set, a run that has not ended after so many seconds is
# ended with the prefix's other processes, and TOOL_RC is 124.
run_tool() {
    TOOL_RAW="$WINEPREFIX/console.txt"
    : >"$TOOL_RAW"
    TOOL_OUT=""
    mkdir -p "$WINEPREFIX/drive_c/Tools"
    cp "$KURRELFIX_EXE" "$WINEPREFIX/drive_c/Tools/Kurrelfix.exe" || { TOOL_RC=255; return; }
    # The exit code is taken straight from wine, not through a pipe, so that
    # it holds whether or not the scenario set pipefail.
    (cd "$WINEPREFIX/drive_c" &&
        timeout "${E2E_TOOL_TIMEOUT:-0}" wine 'C:\Tools\Kurrelfix.exe' "$@" >"$TOOL_RAW" 2>/dev/null)
    TOOL_RC=$?
    [ "$TOOL_RC" -ne 124 ] || [ -z "${E2E_TOOL_TIMEOUT:-}" ] || wineserver -k
    TOOL_OUT="$(tr -d '\r' <"$TOOL_RAW")"
    # A program that the scenario keeps running (a file holder, a worm the
    # tool did not end) keeps the prefix from settling, so the wait is
    # bounded; a scenario that starts such programs sets E2E_BACKGROUND and
    # does not wait at all.
    [ -n "${E2E_BACKGROUND:-}" ] || timeout 60 wineserver -w
}

# start_tool: Kurrelfix.exe /SILENT in the background, as run_tool runs it;
# TOOL_PID is its Wine process, its console goes to TOOL_RAW.
start_tool() {
    TOOL_RAW="$WINEPREFIX/console.txt"
    : >"$TOOL_RAW"
    mkdir -p "$WINEPREFIX/drive_c/Tools"
    cp "$KURRELFIX_EXE" "$WINEPREFIX/drive_c/Tools/Kurrelfix.exe"
    (cd "$WINEPREFIX/drive_c" && exec wine 'C:\Tools\Kurrelfix.exe' /SILENT >"$TOOL_RAW" 2>/dev/null) &
    TOOL_PID=$!
}

# wait_for_the_wait: the tool has printed the line it prints before its
# 15-second wait (flushed at once).
wait_for_the_wait() {
    local _
    for _ in $(seq 1 600); do
        grep -q 'Wait 15 sec and re-check shell key' "$TOOL_RAW" 2>/dev/null && return 0
        process_running "$TOOL_PID" || return 1
        sleep 0.1
    done
    return 1
}

# same TEXT LINE...: TEXT is exactly the LINEs; shows the difference if not.
same() {
    local text="$1"
    shift
    diff -u <(printf '%s\n' "$@") <(printf '%s\n' "$text") | sed 's/^/  | /'
    [ "${PIPESTATUS[0]}" -eq 0 ]
}

# prefix_computer_name: the computer name Wine gives the prefix, asked until
# Wine gives it: now and then it starts a process without COMPUTERNAME in its
# environment (seen once in some hundred runs), which Windows never does.
# Empty when it never did.
prefix_computer_name() {
    local name="" _
    for _ in 1 2 3; do
        [ -n "$name" ] && break
        name="$(wine cmd /c echo %COMPUTERNAME% 2>/dev/null | tr -d '\r')"
        case "$name" in *%*) name="" ;; esac  # cmd echoes an unset name as it is
    done
    echo "$name"
}

# The tool's log on the Unix side: Kurrelfix.log in C:\windows, whatever its letter case.
log_file() {
    local found
    found="$(find "$WINEPREFIX/drive_c/windows" -maxdepth 1 -iname kurrelfix.log -print -quit)"
    echo "${found:-$WINEPREFIX/drive_c/windows/Kurrelfix.log}"
}

# crlf_only FILE: every line of FILE ends in CR LF, the last one included.
crlf_only() {
    [ -s "$1" ] && [ "$(tail -c 2 "$1" | od -An -c | tr -d ' ')" = '\r\n' ] &&
        ! LC_ALL=C grep -q $'[^\r]$' "$1" && ! LC_ALL=C grep -q $'^$' "$1"
}

# check_clean_runs: two silent runs on a prefix without the worm. Each exits
# 0; the log in C:\windows holds the version line, the stage sequence's line
# and the exit code line, in CR LF; the second run appends to the first.
check_clean_runs() {
    local log first="$WINEPREFIX/first-run.log"
    run_tool /SILENT
    log="$(log_file)"
    check "exit code 0" [ "$TOOL_RC" -eq 0 ]
    check "console starts with the version line" [ "$(head -n 1 <<<"$TOOL_OUT")" = "$E2E_VERSION_LINE" ]
    check "console ends with the exit code line" [ "$(tail -n 1 <<<"$TOOL_OUT")" = "Kurrelfix tool exit code: 0" ]
    check "the log is C:\windows\Kurrelfix.log" [ -f "$log" -a "${log##*/}" = Kurrelfix.log ]
    check "the log starts with the version line" [ "$(head -n 1 "$log")" = "$E2E_VERSION_LINE"$'\r' ]
    check "the log holds the stage sequence's line" grep -qx $'\\[VTSU - Disinfect_Kurrel\\]\r' "$log"
    check "the log ends with the exit code line" [ "$(tail -n 1 "$log")" = $'Kurrelfix tool exit code: 0\r' ]
    check "every log line ends in CR LF" crlf_only "$log"
    cp "$log" "$first" 2>/dev/null || : >"$first"

    run_tool /silent
    check "second run: exit code 0" [ "$TOOL_RC" -eq 0 ]
    # What Wine handed back, for whoever reads a failure here.
    [ "$TOOL_RC" -eq 0 ] ||
        { echo "  | exit status $TOOL_RC; the console's last lines:"; tail -n 5 <<<"$TOOL_OUT" | sed 's/^/  | /'; }
    check "second run appends: the first run's lines come first" \
        cmp -s "$first" <(head -c "$(stat -c %s "$first")" "$log")
    check "second run appends: two version lines" [ "$(grep -c "^$E2E_VERSION_LINE" "$log")" -eq 2 ]
    check "second run appends: two exit code lines" \
        [ "$(grep -c '^Kurrelfix tool exit code: 0' "$log")" -eq 2 ]
    check "every log line still ends in CR LF" crlf_only "$log"
}

# check_cleaning_console [no-process]: the console of a run that cleaned the
# worm holds each stage's line, in the order the stages run; with
# "no-process", of a run that found its copies but no worm running.
check_cleaning_console() {
    local tasks="found Kurrel tasks in memory "
    [ "${1:-}" = no-process ] && tasks="no Kurrel tasks in memory "
    local expected=(
        "Removing shares"
        "find and kill all Kurrel tasks in memory ... "
        "$tasks"
        "scan all hard disks and delete all Kurrel files, it will take a while ..."
        "clean up Win.ini"
        "Restore shares"
        "Kurrelfix tool exit code: 1"
    )
    local at=0 line found out
    # The share stage's "%s %ld" lines (a share library that is missing or
    # cannot enumerate, as Wine's own) end without a line end, so the next
    # console line follows the number on the same line.
    out="$(sed -E 's/^(cannot enumerated shares|cannot load [a-z0-9]+\.dll library|there is no [A-Za-z0-9]+) -?[0-9]+//' <<<"$TOOL_OUT")"
    for line in "${expected[@]}"; do
        found=$(tail -n +"$((at + 1))" <<<"$out" | grep -nxF -- "$line" | head -1 | cut -d: -f1)
        check "console, in order: $line" [ -n "$found" ]
        at=$((at + ${found:-0}))
    done
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

# copy_prefix DIR: a copy of the prefix that new_prefix made, as a second
# machine of the same kind for the price of a file copy instead of a boot.
# Its processes are ended and it is removed by end_prefix_copies.
E2E_PREFIX_COPIES=()
copy_prefix() {
    WINEPREFIX="$E2E_PREFIX" wineserver -w
    cp -a "$E2E_PREFIX" "$1" || { echo "  FAIL cannot copy the prefix to $1"; exit 1; }
    E2E_PREFIX_COPIES+=("$1")
}

# end_prefix_copies: ends the processes of every copy_prefix copy, removes it.
end_prefix_copies() {
    local copy
    for copy in "${E2E_PREFIX_COPIES[@]}"; do
        [ -d "$copy" ] || continue
        WINEPREFIX="$copy" wineserver -k >/dev/null 2>&1 || true
        WINEPREFIX="$copy" wineserver -w >/dev/null 2>&1 || true
        rm -rf "$copy"
    done
    E2E_PREFIX_COPIES=()
}

# as_computer NAME COMMAND...: runs the command with NAME as this machine's
# host name, in a UTS namespace of its own. Wine takes the computer name
# from the host name, not from the environment's COMPUTERNAME.
as_computer() {
    local name="$1"
    shift
    unshare --uts sh -c 'hostname "$0" && exec "$@"' "$name" "$@"
}

# start_as_computer NAME: starts the prefix's Wine session as computer NAME
# and keeps it running until the prefix is ended. The first Wine program of
# a session fixes the computer name for every later one, wherever it starts,
# so that program runs under NAME and the session does not end in between.
start_as_computer() {
    wineserver -w
    wineserver -p
    as_computer "$1" wine cmd /c exit 0 >/dev/null 2>&1
}
