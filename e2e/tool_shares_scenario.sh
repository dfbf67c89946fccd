# The tool's share stages on a prefix of either family, with the test-only
# share libraries in its system folder (e2e/lib_shares.sh), shared by the scenarios 51
# (NT) and 52 (Windows 98); source it after lib.sh and lib_shares.sh and call
# tool_shares_scenario nt|9x.
#
# 1. An infected run: while the tool waits its 15 seconds before it looks at
#    the open command again, another program sees only IPC$, and the journal
#    of the removed shares lies in C:\windows; after the run every share is
#    back with every field as seeded, and the journal is gone.
# 2. A deletion that the library refuses: reported, and the share re-added
#    with a nonzero status (2118: it exists); every share is as seeded.
# 3. A run killed during its wait: the shares stay off the network and the
#    journal stays; a fresh run re-creates them from it first, then cleans as
#    usual, and every share is as seeded again.
# 4. (NT) A share of a removed share's name made by someone else during the
#    wait: not taken for the tool's, by that run or the next.

# plant_worm: one copy of the worm and its open command, so that the run
# finds the machine infected, repairs the command and waits 15 seconds to
# look at it again.
plant_worm() {
    mkdir -p "$(c_path 'Kurrel Test')"
    "$E2E_HOST_BIN/kurrel_sample" make "$(c_path 'Kurrel Test/setup.exe')" 9000 2E30D733 &&
        wine reg add 'HKCR\exefile\shell\open\command' /ve /d '"C:\Kurrel Test\setup.exe" "%1" %*' /f \
            >/dev/null 2>&1
}

# The shares' lines as the stand-in lists them (share_tool), one per share.
share_list() { share_tool "$1" list; }
journal() { find "$WINEPREFIX/drive_c/windows" -maxdepth 1 -iname 'kurrelfix-shares.jnl' -print -quit; }
# journal_sound N: the journal holds N share lines and ends with "end N CRC".
journal_sound() {
    local file
    file="$(journal)"
    [ -n "$file" ] && [ "$(grep -c '^share' "$file")" -eq "$1" ] &&
        tail -n 1 "$file" | tr -d '\r' | grep -Eqx "end $1 [0-9A-F]{8}"
}
# grep reads to the end: a grep -q that stops at the first match can leave tr
# writing into a closed pipe, and under pipefail that fails a found line.
console_has() { tr -d '\r' <"$TOOL_RAW" | grep -xF -- "$1" >/dev/null; }
tool_log_has() { tr -d '\r' <"$(log_file)" | grep -xF -- "$1" >/dev/null; }

# An infected run ended from outside during its 15-second wait, after the
# shares went and before they came back.
killed_during_the_wait() {
    plant_worm
    start_tool
    check "the tool reaches its 15-second wait" wait_for_the_wait
    kill -KILL "$TOOL_PID"
    wait "$TOOL_PID" 2>/dev/null
    timeout 60 wineserver -w
}

tool_shares_scenario() {
    local family="$1" deleted ignored refused refused_word user_shares ipc_line name file
    for file in "$KURRELFIX_EXE" "$SHARE_TOOL" "$E2E_HOST_BIN/kurrel_sample"; do
        [ -e "$file" ] || { echo "  FAIL missing $file"; exit 1; }
    done
    if [ "$family" = 9x ]; then
        new_prefix win98
        deleted=deleted ignored=ignored refused=PUBLIC refused_word='not deleted, error'
        user_shares='C$ PUBLIC TOOLS'
    else
        new_prefix
        deleted=Deleted ignored=ingored refused=Public refused_word='Not deleted, error'
        user_shares='ADMIN$ C$ Public Tools'
    fi
    install_share_dlls "$family"
    seed_shares "$family"
    cp "$(share_store)" "$WINEPREFIX/seeded.txt"
    share_list "$family" >"$WINEPREFIX/seeded-list.txt"
    ipc_line="$(grep '^name=IPC\$ ' "$WINEPREFIX/seeded-list.txt")"

    echo "an infected run"
    plant_worm
    start_tool
    check "the tool reaches its 15-second wait" wait_for_the_wait
    check "during the wait another program sees only IPC\$" [ "$(share_list "$family")" = "$ipc_line" ]
    check "during the wait the journal lies in C:\\windows" [ -n "$(journal)" ]
    check "the journal names every removed share and ends with its count and checksum" \
        journal_sound "$(wc -w <<<"$user_shares")"
    if [ "$family" = nt ]; then
        # Only Administrators and SYSTEM may read it, nor the log beside it;
        # Wine keeps no DACL on this file system, but maps this one to Unix
        # permission bits that give other users nothing.
        wine_differs "Wine keeps a file's DACL only as its Unix permission bits here" \
            check "the journal and the log are not readable by other users" \
            [ "$(( $(stat -c '0%a' "$(journal)") & 07 ))" -eq 0 -a "$(( $(stat -c '0%a' "$(log_file)") & 07 ))" -eq 0 ]
    fi
    wait "$TOOL_PID"
    TOOL_RC=$?
    timeout 60 wineserver -w
    check "exit code 1" [ "$TOOL_RC" -eq 1 ]
    check "console: Removing shares" console_has "Removing shares"
    check "console: share IPC\$ $ignored" console_has "share IPC\$ $ignored"
    for name in $user_shares; do
        check "console: share $name $deleted" console_has "share $name $deleted"
        check "console: Share $name created 0" console_has "Share $name created 0"
    done
    check "console: Restore shares" console_has "Restore shares"
    check "log: Removed all network shares, success=1" tool_log_has "Removed all network shares, success=1"
    check "log: Restore shares, success=1" tool_log_has "Restore shares, success=1"
    check "after the run every share is back with every field, in its order" \
        diff "$WINEPREFIX/seeded-list.txt" <(share_list "$family")
    check "the store is the seeded one, byte for byte" cmp -s "$WINEPREFIX/seeded.txt" "$(share_store)"
    check "the journal is gone" [ -z "$(journal)" ]
    if [ "$family" = nt ]; then
        check "the stand-in netapi32.dll answered the tool" share_answered netapi32.dll NetShareEnum
        check "every enumeration buffer was freed" \
            [ "$(grep -c ' NetShareEnum .* read=[1-9]' "$(share_log)")" -eq "$(grep -c ' NetApiBufferFree buffer ' "$(share_log)")" ]
    else
        check "the stand-in svrapi.dll answered the tool" share_answered svrapi.dll NetShareEnum
    fi

    echo "a refused deletion"
    share_switch "refuse-delete $refused 5"
    run_tool /SILENT
    TOOL_RAW="$WINEPREFIX/console.txt"
    check "exit code 0" [ "$TOOL_RC" -eq 0 ]
    check "console: share $refused $refused_word" console_has "share $refused $refused_word"
    check "console: Share $refused created 2118" console_has "Share $refused created 2118"
    check "every share is still there, each as seeded" \
        diff <(sort "$WINEPREFIX/seeded.txt") <(grep '^share ' "$(share_store)" | sort)
    check "the journal is gone: the refused share never left" [ -z "$(journal)" ]
    cp "$WINEPREFIX/seeded.txt" "$(share_store)"

    echo "a run killed during its wait"
    killed_during_the_wait
    check "the tool is gone" process_gone "$TOOL_PID"
    check "no share came back by itself" [ "$(share_list "$family")" = "$ipc_line" ]
    check "the journal stayed" [ -n "$(journal)" ]
    run_tool /SILENT
    check "the fresh run: exit code 0 (the worm's copy went in the killed run)" [ "$TOOL_RC" -eq 0 ]
    check "the fresh run found the journal" \
        console_has "Share journal C:\\windows\\Kurrelfix-shares.jnl found: re-creating $(wc -w <<<"$user_shares") shares"
    for name in $user_shares; do
        check "console: Journal share $name created 0" console_has "Journal share $name created 0"
    done
    check "console: the journal is done" console_has "Share journal C:\\windows\\Kurrelfix-shares.jnl done, every share is back"
    check "then the run removed and restored them as usual" console_has "Share ${user_shares##* } created 0"
    check "every share is back with every field, in its order" \
        diff "$WINEPREFIX/seeded-list.txt" <(share_list "$family")
    check "the store is the seeded one, byte for byte" cmp -s "$WINEPREFIX/seeded.txt" "$(share_store)"
    check "the journal is gone" [ -z "$(journal)" ]
    if [ "$family" = nt ]; then
        a_share_made_meanwhile
        cp "$WINEPREFIX/seeded.txt" "$(share_store)"
        journal_others_may_change && journal_kept_by_a_link
    fi
}

# NT: someone else makes a share of a removed share's name during the wait.
# It is not taken for the tool's: the run names it at level 1, keeps the
# journal and exits with 3; the next run meets it again, takes it neither,
# and removes no share; once it is gone, the journal brings C$ back.
a_share_made_meanwhile() {
    local line="Share C\$ not back on the network: the share of that name is not the one removed (another path), the share journal keeps it"
    local journal_line="Share journal C:\\windows\\Kurrelfix-shares.jnl"
    echo "a share of a removed share's name made by someone else during the wait"
    plant_worm
    # Started first, it makes its share the moment the tool has deleted C$.
    share_tool nt take 'C$' 'C:\Public' 'not ours' type=0x80000000 >"$WINEPREFIX/take.txt" &
    local taker=$!
    start_tool
    check "the tool reaches its 15-second wait" wait_for_the_wait
    wait "$TOOL_PID"
    TOOL_RC=$?
    wait "$taker"
    check "someone else made a share C\$ of another path while the tool swept" \
        grep -qx 'NetShareAdd C\$ -> 0 parm_err=.*' "$WINEPREFIX/take.txt"
    timeout 60 wineserver -w
    check "exit code 3" [ "$TOOL_RC" -eq 3 ]
    check "console: Share C\$ created 2118" console_has "Share C\$ created 2118"
    check "log: the line that names it" tool_log_has "$line"
    check "console: the journal is kept" console_has "$journal_line kept: 1 shares did not come back"
    check "the journal names C\$ still" grep -q "^share502 x00430024 " "$(journal)"
    check "their C\$ is left as they made it" grep -q '^share name=C\$ .* remark=not%20ours .* path=C:\\Public ' "$(share_store)"

    run_tool /SILENT
    check "the next run: exit code 3" [ "$TOOL_RC" -eq 3 ]
    check "console: Journal share C\$ created 2118" console_has "Journal share C\$ created 2118"
    check "console: the journal is kept, no share is removed" \
        console_has "$journal_line kept: 1 shares did not come back; no share is removed"
    check "log: the line again" [ "$(tr -d '\r' <"$(log_file)" | grep -cxF -- "$line")" -eq 2 ]
    check "their C\$ is still as they made it" grep -q '^share name=C\$ .* remark=not%20ours .* path=C:\\Public ' "$(share_store)"
    check "no share was removed" [ "$(grep -c '^share ' "$(share_store)")" -eq 5 ]
    check "the journal stayed" [ -n "$(journal)" ]

    share_tool nt del 'C$' >/dev/null
    run_tool /SILENT
    check "once theirs is gone: exit code 0" [ "$TOOL_RC" -eq 0 ]
    check "console: Journal share C\$ created 0" console_has "Journal share C\$ created 0"
    check "console: the journal is done" console_has "$journal_line done, every share is back"
    check "every share is as seeded again" \
        diff <(sort "$WINEPREFIX/seeded.txt") <(grep '^share ' "$(share_store)" | sort)
    check "the journal is gone" [ -z "$(journal)" ]
}

# A plain user who links the journal to a name of theirs during the wait
# keeps the file when the run deletes its journal, with the tool's own owner
# and access list. Put back after an administrator took a share off the
# network on purpose, it is set aside as not written by the run that kept it,
# and the share stays off.
journal_kept_by_a_link() {
    local kept="$WINEPREFIX/drive_c/users/kept.jnl" aside_line names
    echo "a journal kept by a hard link during a clean run, put back later"
    rm -f "$WINEPREFIX/drive_c/windows/Kurrelfix-shares.untrusted"
    cp "$WINEPREFIX/seeded.txt" "$(share_store)"
    plant_worm
    start_tool
    check "the tool reaches its 15-second wait" wait_for_the_wait
    check "a second name of the journal is made" ln "$(journal)" "$kept"
    wait "$TOOL_PID"
    TOOL_RC=$?
    timeout 60 wineserver -w
    check "the run: exit code 1" [ "$TOOL_RC" -eq 1 ]
    check "the run deleted its journal" [ -z "$(journal)" ]
    check "the second name keeps the file" [ -s "$kept" ]
    grep -v '^share name=Tools ' "$(share_store)" >"$WINEPREFIX/store.txt" && cp "$WINEPREFIX/store.txt" "$(share_store)"
    check "the administrator took Tools off the network" bash -c '! grep -q "^name=Tools " <<<"$1"' _ "$(share_list nt)"
    mv "$kept" "$WINEPREFIX/drive_c/windows/Kurrelfix-shares.jnl"
    cp "$(journal)" "$WINEPREFIX/kept-journal.txt"
    run_tool /SILENT
    names=" ADMIN\$ C\$ Public Tools"
    aside_line="Share journal C:\\windows\\Kurrelfix-shares.jnl is not trusted (its identifier is not the one this machine keeps for it: not written by the run that kept it), set aside as C:\\windows\\Kurrelfix-shares.untrusted; its shares are not re-created:$names; no share is removed"
    check "console: the copy is not trusted, set aside" console_has "$aside_line"
    check "log: the same line" tool_log_has "$aside_line"
    check "Tools stays off the network" bash -c '! grep -q "^name=Tools " <<<"$1"' _ "$(share_list nt)"
    check "the copy lies aside as it was" cmp -s "$WINEPREFIX/kept-journal.txt" "$WINEPREFIX/drive_c/windows/Kurrelfix-shares.untrusted"
    check "and is no journal any more" [ -z "$(journal)" ]
}

# A journal left by a killed run that anyone may then write to is not
# replayed: it is set aside, nothing of it is created, and the run removes no
# share. Wine keeps a file's access list as its Unix mode here, and reports
# every file as owned by its one user (an administrator, the account the tool
# runs as); so the Everyone entry goes in both through SetFileSecurity and as
# the mode's bits for others.
journal_others_may_change() {
    local aside_line names
    echo "a killed run's journal that others may change"
    killed_during_the_wait
    check "the journal stayed" [ -n "$(journal)" ]
    echo "  the journal as Wine reports it: $(wine "$E2E_BIN/file_acl.exe" show 'C:\windows\Kurrelfix-shares.jnl' | tr -d '\r' | tr '\n' ';')"
    check "Everyone may write it now" wine "$E2E_BIN/file_acl.exe" grant-everyone 'C:\windows\Kurrelfix-shares.jnl'
    chmod o+w "$(journal)"
    echo "  and then: $(wine "$E2E_BIN/file_acl.exe" show 'C:\windows\Kurrelfix-shares.jnl' | tr -d '\r' | tr '\n' ';')"
    cp "$(journal)" "$WINEPREFIX/untrusted-journal.txt"
    run_tool /SILENT
    names=" ADMIN\$ C\$ Public Tools"
    aside_line="Share journal C:\\windows\\Kurrelfix-shares.jnl is not trusted (others may change it), set aside as C:\\windows\\Kurrelfix-shares.untrusted; its shares are not re-created:$names; no share is removed"
    check "console: the journal is not trusted, set aside, its shares named" console_has "$aside_line"
    check "log: the same line" tool_log_has "$aside_line"
    check "log: Removed all network shares, success=0" tool_log_has "Removed all network shares, success=0"
    check "no share was created from it" [ "$(share_list nt)" = "$ipc_line" ]
    check "it lies aside as it was" cmp -s "$WINEPREFIX/untrusted-journal.txt" "$WINEPREFIX/drive_c/windows/Kurrelfix-shares.untrusted"
    check "and is no journal any more" [ -z "$(journal)" ]
}
