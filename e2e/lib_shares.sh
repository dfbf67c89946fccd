# Network shares for the Wine scenarios. Wine's own netapi32 answers "not
# supported" to share enumeration and its svrapi functions are stubs, so the
# scenarios install test-only stand-ins where Windows keeps its libraries, in
# the system folder of the program under test: netapi32.dll (NT family) and
# svrapi.dll (9x family), built from e2e/shares/ and never shipped. Both keep
# the prefix's shares in C:\windows\kurrel-shares.txt and append each call
# they answer to C:\windows\kurrel-shares.log, a line that starts with the
# DLL's own Windows path: Wine's builtins never write there.
# Source it after e2e/lib.sh, once new_prefix has made the prefix.

SHARE_TOOL="$E2E_BIN/share_tool.exe"
# The two security descriptors of the standard set, self-relative, in hex:
# Everyone read and Administrators full, owned by Administrators, group
# SYSTEM (100 bytes); and Everyone full, without owner or group (48 bytes).
SHARE_SD_PUBLIC=0100048048000000580000000000000014000000020034000200000000001400a900120001010000000000010000000000001800ff011f000102000000000005200000002002000001020000000000052000000020020000010100000000000512000000
SHARE_SD_TOOLS=010004800000000000000000000000001400000002001c000100000000001400ff011f00010100000000000100000000

share_store() { echo "$WINEPREFIX/drive_c/windows/kurrel-shares.txt"; }
share_log() { echo "$WINEPREFIX/drive_c/windows/kurrel-shares.log"; }

# install_share_dlls nt|9x [FOLDER]: puts the family's stand-in (of the
# bitness the scenarios run) into the system folder (system_folder), in
# place of the file Wine put there, which is unlinked first: it may be a
# hard link to Wine's own copy, which must stay as it is. Copies
# share_tool.exe into FOLDER of drive C: (Tools, where run_tool puts
# Kurrelfix.exe), and sets WINEDLLOVERRIDES so that Wine takes the native
# file. Without netapi32=n,b Wine quietly keeps its builtin netapi32 (and
# GetModuleFileNameW still names the file in the system folder), so only the
# call log proves which one answered. svrapi=n replaces the svrapi=d that
# new_prefix sets for a win98 prefix: with svrapi=d Wine refuses even the
# native file (error 1157), and with n it is the stand-in or nothing, never
# Wine's stubs.
install_share_dlls() {
    local family="$1" folder="$WINEPREFIX/drive_c/${2:-Tools}" system dll
    system="$(system_folder)"
    mkdir -p "$folder"
    cp "$SHARE_TOOL" "$folder/share_tool.exe" || return 1
    case "$family" in
        nt)
            dll=netapi32.dll
            export WINEDLLOVERRIDES="mscoree,mshtml=;netapi32=n,b"
            ;;
        9x)
            dll=svrapi.dll
            export WINEDLLOVERRIDES="mscoree,mshtml=;svrapi=n"
            ;;
        *)
            echo "install_share_dlls: nt or 9x, not '$family'" >&2
            return 1
            ;;
    esac
    rm -f "$system/$dll" && cp "$E2E_BIN/$dll" "$system/$dll"
}

# share_tool ARGS...: runs the installed share_tool.exe from C:\Tools, which
# loads the stand-in from the system folder; prints its output with CR
# removed and returns its exit code. While share_serve_start's process runs,
# the command goes to it instead (the same output and code); share_tool_alone
# always starts a process of its own: for what another process must see, and
# for a run under other WINEDLLOVERRIDES.
share_tool() {
    [ -n "${SHARE_SERVER_PID:-}" ] || { share_tool_alone "$@"; return; }
    printf '%s\n' "$@" "" >&"$SHARE_SERVER_IN"
    local line
    # A server that stopped answering fails the check rather than hanging it.
    while IFS= read -r -t 300 line <&"$SHARE_SERVER_OUT"; do
        line="${line%$'\r'}"
        case "$line" in
            $'\001'rc=*) return "${line#$'\001'rc=}" ;;
        esac
        printf '%s\n' "$line"
    done
    echo "share_tool: the serving share_tool.exe ended or stopped answering" >&2
    return 125
}
share_tool_alone() {
    (cd "$WINEPREFIX/drive_c" && wine 'C:\Tools\share_tool.exe' "$@" 2>/dev/null) | tr -d '\r'
    return "${PIPESTATUS[0]}"
}

# share_serve_start: one share_tool.exe that answers every later share_tool
# call until share_serve_stop, where each 32-bit process start takes seconds
# (through qemu-user). It reads and writes through two FIFOs in the prefix.
share_serve_start() {
    share_serve_stop
    rm -f "$WINEPREFIX/share-serve.in" "$WINEPREFIX/share-serve.out"
    mkfifo "$WINEPREFIX/share-serve.in" "$WINEPREFIX/share-serve.out" || return 1
    # Its input is held open here, read-write, so that the server's open of it
    # does not wait; it ends when share_serve_stop closes it.
    exec {SHARE_SERVER_IN}<>"$WINEPREFIX/share-serve.in"
    (exec {SHARE_SERVER_IN}>&- && cd "$WINEPREFIX/drive_c" &&
        exec wine 'C:\Tools\share_tool.exe' serve <"$WINEPREFIX/share-serve.in" >"$WINEPREFIX/share-serve.out" 2>/dev/null) &
    SHARE_SERVER_PID=$!
    # Read-only, so that the server's end closing is seen here as the end.
    exec {SHARE_SERVER_OUT}<"$WINEPREFIX/share-serve.out"
}
# share_serve_stop: ends the serving share_tool.exe (its input closes) and waits for it.
share_serve_stop() {
    [ -n "${SHARE_SERVER_PID:-}" ] || return 0
    exec {SHARE_SERVER_IN}>&- {SHARE_SERVER_OUT}<&-
    wait "$SHARE_SERVER_PID"
    SHARE_SERVER_PID=""
}

# seed_shares nt|9x: the standard set, written straight into the store in the
# form the stand-ins write it, so that a store rewritten after a deletion and
# a re-adding of every share is byte for byte the seeded one. NT: IPC$, the
# hidden admin shares ADMIN$ and C$, and two user shares with remarks, paths,
# limits, a password and security descriptors. 9x: IPC$, the hidden C$ and
# two user shares with access flags and passwords.
seed_shares() {
    local store
    store="$(share_store)"
    case "$1" in
        nt)
            cat >"$store" <<EOF
share name=IPC\$ type=0x80000003 remark=Remote%20IPC permissions=0 max_uses=4294967295 current_uses=0 path= reserved=0 flags=0
share name=ADMIN\$ type=0x80000000 remark=Remote%20Admin permissions=0 max_uses=4294967295 current_uses=0 path=C:\\windows reserved=0 flags=0
share name=C\$ type=0x80000000 remark=Default%20share permissions=0 max_uses=4294967295 current_uses=0 path=C:\\ reserved=0 flags=0
share name=Public type=0x0 remark=Public%20files permissions=0 max_uses=10 current_uses=2 path=C:\\Public reserved=0 sd=$SHARE_SD_PUBLIC flags=0
share name=Tools type=0x0 remark=Repair%20tools%20&%20logs permissions=0 max_uses=3 current_uses=0 path=C:\\Tools passwd=s3cret reserved=0 sd=$SHARE_SD_TOOLS flags=0
EOF
            ;;
        9x)
            cat >"$store" <<EOF
share name=IPC\$ type=0x3 remark=Remote%20IPC permissions=0 max_uses=4294967295 current_uses=0 path= reserved=0 flags=0 rw_password= ro_password=
share name=C\$ type=0x0 remark= permissions=0 max_uses=4294967295 current_uses=0 path=C:\\ reserved=0 flags=514 rw_password=ADMIN ro_password=
share name=PUBLIC type=0x0 remark=Public%20files permissions=0 max_uses=4294967295 current_uses=0 path=C:\\PUBLIC reserved=0 flags=257 rw_password= ro_password=READ
share name=TOOLS type=0x0 remark=Repair%20tools%20&%20logs permissions=0 max_uses=4294967295 current_uses=0 path=C:\\TOOLS reserved=0 flags=259 rw_password=FULLPASS ro_password=READPASS
EOF
            ;;
        *)
            echo "seed_shares: nt or 9x, not '$1'" >&2
            return 1
            ;;
    esac
    mkdir -p "$WINEPREFIX/drive_c/Public" "$WINEPREFIX/drive_c/Tools"
}

# share_switch LINE...: adds test switches to the store (e2e/shares/share_store.h):
#   share_switch 'refuse-delete Public 5' 'page 2'
share_switch() {
    local line
    for line in "$@"; do echo "switch $line" >>"$(share_store)"; done
}

# share_answered DLL FUNCTION: the call log holds a call of FUNCTION answered
# by the stand-in DLL in the system folder (DLL is netapi32.dll or svrapi.dll).
# Wine may name the 32-bit system folder of a 64-bit prefix either way.
share_answered() {
    grep -qiE "^C:\\\\windows\\\\(system32|syswow64)\\\\$1 $2 " "$(share_log)" 2>/dev/null
}
