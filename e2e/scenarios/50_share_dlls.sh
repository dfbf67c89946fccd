#!/usr/bin/env bash
# The test-only share libraries that later scenarios install in the system
# folder (e2e/lib_shares.sh): loaded from there by full path, as the tool
# must load them, they answer from
# the prefix's share store, not Wine's builtins; what one process deletes
# another sees gone; a share deleted and added back from its enumerated
# record is the same share, field for field; an existing share is refused
# with 2118; enumeration pages with 234; a deletion can be refused on purpose.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_shares.sh"

for file in "$SHARE_TOOL" "$E2E_BIN/netapi32.dll" "$E2E_BIN/svrapi.dll"; do
    [ -e "$file" ] || { echo "  FAIL missing $file"; exit 1; }
done

# same_output NAME EXPECTED ACTUAL: the two texts are the same, line for line.
same_output() {
    printf '%s\n' "$2" >"$WINEPREFIX/expected.txt"
    printf '%s\n' "$3" >"$WINEPREFIX/actual.txt"
    check "$1" diff -u "$WINEPREFIX/expected.txt" "$WINEPREFIX/actual.txt"
}
# lacks PATTERN TEXT: no line of TEXT matches PATTERN.
lacks() { ! grep -q -- "$1" <<<"$2"; }
log_lines() { wc -l <"$(share_log)" 2>/dev/null || echo 0; }

echo "NT family"
new_prefix
install_share_dlls nt
seed_shares nt
cp "$(share_store)" "$WINEPREFIX/seeded.txt"
# One share_tool.exe answers the calls below but those that name another
# process or other DLL overrides (share_tool_alone): through qemu-user each
# process start takes seconds.
share_serve_start
nt_list='name=IPC$ type=0x80000003 remark=Remote%20IPC permissions=0 max_uses=4294967295 current_uses=0 path= reserved=0
name=ADMIN$ type=0x80000000 remark=Remote%20Admin permissions=0 max_uses=4294967295 current_uses=0 path=C:\windows reserved=0
name=C$ type=0x80000000 remark=Default%20share permissions=0 max_uses=4294967295 current_uses=0 path=C:\ reserved=0
name=Public type=0x0 remark=Public%20files permissions=0 max_uses=10 current_uses=2 path=C:\Public reserved=0 sd='"$SHARE_SD_PUBLIC"'
name=Tools type=0x0 remark=Repair%20tools%20&%20logs permissions=0 max_uses=3 current_uses=0 path=C:\Tools passwd=s3cret reserved=0 sd='"$SHARE_SD_TOOLS"

out="$(share_tool nt list)"
check "list: exit code 0" [ $? -eq 0 ]
same_output "list at level 502: every field of the seeded shares, in order" "$nt_list" "$out"
check "the stand-in netapi32.dll in the system folder answered NetShareEnum" share_answered netapi32.dll NetShareEnum
check "one enumeration, one NetApiBufferFree" \
    [ "$(grep -c ' NetShareEnum .* read=[1-9]' "$(share_log)")" -eq "$(grep -c ' NetApiBufferFree buffer ' "$(share_log)")" ]

out="$(share_tool nt enum 0 4294967295)"
same_output "level 0: the names, in one call" 'call rc=0 read=5 total=5 resume=0
  IPC$
  ADMIN$
  C$
  Public
  Tools' "$out"
out="$(share_tool nt enum 2 4294967295 | sed -n 's/^  2: //p')"
same_output "level 2: the fields of level 502 but the descriptor" "$(sed 's/ sd=.*//' <<<"$nt_list")" "$out"
check "an unknown level: 124" [ "$(share_tool nt enum 7 4294967295)" = 'call rc=124 read=0 total=0 resume=0' ]

out="$(share_tool nt enum 502 1)"
same_output "a preferred length of 1 byte: one share a call, 234 until the last" 'call rc=234 read=1 total=5 resume=1
  IPC$
call rc=234 read=1 total=4 resume=2
  ADMIN$
call rc=234 read=1 total=3 resume=3
  C$
call rc=234 read=1 total=2 resume=4
  Public
call rc=0 read=1 total=1 resume=0
  Tools' "$out"
share_switch 'page 2'
out="$(share_tool nt enum 502 4294967295)"
same_output "the page switch: two shares a call whatever the preferred length" 'call rc=234 read=2 total=5 resume=2
  IPC$
  ADMIN$
call rc=234 read=2 total=3 resume=4
  C$
  Public
call rc=0 read=1 total=1 resume=0
  Tools' "$out"
same_output "paged, list still gathers every share" "$nt_list" "$(share_tool nt list)"
check "every paged buffer was freed" \
    [ "$(grep -c ' NetShareEnum .* read=[1-9]' "$(share_log)")" -eq "$(grep -c ' NetApiBufferFree buffer ' "$(share_log)")" ]
sed -i '/^switch /d' "$(share_store)"

out="$(share_tool nt cycle)"
check "cycle: every share deleted and added back" \
    [ "$(grep -c ' -> 0$' <<<"$out")" -eq 11 -a "$(grep -c '^del ' <<<"$out")" -eq 5 -a "$(grep -c '^add ' <<<"$out")" -eq 5 ]
check "after deleting and re-adding every share from its record the store is the seeded one, byte for byte" \
    cmp -s "$WINEPREFIX/seeded.txt" "$(share_store)"
check "the log shows the deletions before the additions" \
    bash -c "grep -oE ' NetShare(Del|Add) ' '$(share_log)' | tr -d ' ' | uniq -c | tr -s ' ' | tr '\n' '|' | grep -qx ' 5 NetShareDel| 5 NetShareAdd|'"

out="$(share_tool nt del Tools)"
check "del Tools: 0" [ "$out" = "NetShareDel Tools -> 0" ]
check "another process no longer sees Tools" lacks '^name=Tools ' "$(share_tool_alone nt list)"
check "deleting it again: 2310" [ "$(share_tool nt del Tools)" = "NetShareDel Tools -> 2310" ]
out="$(share_tool nt add Tools 'C:\Tools' 'Repair tools & logs' max_uses=3 passwd=s3cret sd="$SHARE_SD_TOOLS")"
check "add Tools with every field: 0" [ "$out" = "NetShareAdd Tools -> 0 parm_err=4294967295" ]
same_output "Tools is back as it was" "$nt_list" "$(share_tool nt list)"
check "the store is the seeded one again" cmp -s "$WINEPREFIX/seeded.txt" "$(share_store)"

out="$(share_tool nt cycle Public)"
same_output "cycle Public alone" 'NetShareEnum -> 0
del Public -> 0
add Public -> 0' "$out"
check "Public, re-added from its record, is the seeded line exactly (now last)" \
    [ "$(tail -n 1 "$(share_store)")" = "$(grep '^share name=Public ' "$WINEPREFIX/seeded.txt")" ]
check "the other shares are untouched" \
    diff <(grep -v '^share name=Public ' "$WINEPREFIX/seeded.txt") <(grep -v '^share name=Public ' "$(share_store)")

cp "$(share_store)" "$WINEPREFIX/before-add.txt"
check "adding an existing share: 2118, parm_err names the share's name" \
    [ "$(share_tool nt add Public 'C:\Other' other)" = "NetShareAdd Public -> 2118 parm_err=1" ]
check "the name is compared without letter case" \
    [ "$(share_tool nt add PUBLIC 'C:\Other' other)" = "NetShareAdd PUBLIC -> 2118 parm_err=1" ]
check "a descriptor that is not one: 87, parm_err 501" \
    [ "$(share_tool nt add Broken 'C:\Other' other sd=00000000)" = "NetShareAdd Broken -> 87 parm_err=501" ]
share_switch 'refuse-add Extra 5'
cp "$(share_store)" "$WINEPREFIX/before-add.txt"
check "the refuse-add switch: 5 for Extra" \
    [ "$(share_tool nt add Extra 'C:\Extra' extra)" = "NetShareAdd Extra -> 5 parm_err=4294967295" ]
check "refused additions leave the store as it was" cmp -s "$WINEPREFIX/before-add.txt" "$(share_store)"
share_switch 'fail-enum 53'
check "the fail-enum switch: enumeration answers 53" [ "$(share_tool nt list)" = "NetShareEnum -> 53" ]

cp "$WINEPREFIX/seeded.txt" "$(share_store)"
share_switch 'refuse-delete Public 5'
out="$(share_tool nt cycle)"
rc=$?
same_output "a refused deletion: 5 for Public, the others go and come back" 'NetShareEnum -> 0
del IPC$ -> 0
del ADMIN$ -> 0
del C$ -> 0
del Public -> 5
del Tools -> 0
add IPC$ -> 0
add ADMIN$ -> 0
add C$ -> 0
add Tools -> 0' "$out"
check "share_tool counts the refusal: exit code 1" [ "$rc" -eq 1 ]
check "the switch stays in the store" grep -qx 'switch refuse-delete Public 5' "$(share_store)"
check "every share is still there, each line as seeded" \
    diff <(sort "$WINEPREFIX/seeded.txt") <(grep '^share ' "$(share_store)" | sort)

lines="$(log_lines)"
out="$(WINEDLLOVERRIDES='mscoree,mshtml=' share_tool_alone nt list)"
check "without netapi32=n,b Wine's builtin answers: not supported (50)" [ "$out" = "NetShareEnum -> 50" ]
check "and the stand-in wrote nothing" [ "$(log_lines)" -eq "$lines" ]
check "although GetModuleFileNameW names the file in the system folder" \
    grep -qixE 'C:\\windows\\(system32|syswow64)\\netapi32\.dll' <<<"$(WINEDLLOVERRIDES='mscoree,mshtml=' share_tool_alone nt which)"

share_serve_stop

echo "9x family"
new_prefix win98
check "the prefix plays Windows 98" \
    bash -c "wine '$E2E_BIN/report_platform.exe' 2>/dev/null | tr -d '\\r' | grep -qx 'platform 1 family 1 nt 0'"
install_share_dlls 9x
seed_shares 9x
cp "$(share_store)" "$WINEPREFIX/seeded.txt"
share_serve_start
nine_list='name=IPC$ type=3 flags=0 remark=Remote%20IPC path= rw_password= ro_password=
name=C$ type=0 flags=514 remark= path=C:\ rw_password=ADMIN ro_password=
name=PUBLIC type=0 flags=257 remark=Public%20files path=C:\PUBLIC rw_password= ro_password=READ
name=TOOLS type=0 flags=259 remark=Repair%20tools%20&%20logs path=C:\TOOLS rw_password=FULLPASS ro_password=READPASS'
out="$(share_tool 9x list)"
check "list: exit code 0" [ $? -eq 0 ]
same_output "list at level 50: every field of the seeded shares, in order" "$nine_list" "$out"
check "the stand-in svrapi.dll in the system folder answered NetShareEnum" share_answered svrapi.dll NetShareEnum
check "with new_prefix's svrapi=d even the stand-in in the system folder does not load" \
    [ "$(WINEDLLOVERRIDES='mscoree,mshtml=;svrapi=d' share_tool_alone 9x list; echo "rc=$?")" = "rc=3" ]

# The records come first, then their texts: 69 bytes of texts for the four
# shares, after 42-byte records (50 bytes in the 64-bit build).
record=42
[ "$E2E_WINE_BITS" = 64 ] && record=50
all=$((4 * record + 69))
out="$(share_tool 9x enum "$all")"
same_output "a buffer of exactly $all bytes holds all four" "call rc=0 read=4 total=4
$nine_list" "$out"
out="$(share_tool 9x enum $((all - 1)))"
same_output "one byte less: three, and 234" "call rc=234 read=3 total=4
$(head -n 3 <<<"$nine_list")" "$out"
check "an empty buffer: 234 and none" [ "$(share_tool 9x enum 0)" = "call rc=234 read=0 total=4" ]

out="$(share_tool 9x cycle)"
check "cycle: every share deleted and added back" \
    [ "$(grep -c ' -> 0$' <<<"$out")" -eq 9 -a "$(grep -c '^del ' <<<"$out")" -eq 4 -a "$(grep -c '^add ' <<<"$out")" -eq 4 ]
check "after deleting and re-adding every share from its record the store is the seeded one, byte for byte" \
    cmp -s "$WINEPREFIX/seeded.txt" "$(share_store)"
check "the re-adding passed the record's own size" \
    grep -qF "NetShareAdd server=(null) level=50 size=$record name=TOOLS -> 0" "$(share_log)"

check "del TOOLS: 0" [ "$(share_tool 9x del TOOLS)" = "NetShareDel TOOLS -> 0" ]
check "another process no longer sees TOOLS" lacks '^name=TOOLS ' "$(share_tool_alone 9x list)"
out="$(share_tool 9x add TOOLS 'C:\TOOLS' 'Repair tools & logs' flags=259 rw_password=FULLPASS ro_password=READPASS)"
check "add TOOLS with every field: 0" [ "$out" = "NetShareAdd TOOLS -> 0" ]
same_output "TOOLS is back as it was" "$nine_list" "$(share_tool 9x list)"
check "the store is the seeded one again" cmp -s "$WINEPREFIX/seeded.txt" "$(share_store)"
check "adding an existing share: 2118" [ "$(share_tool 9x add public 'C:\OTHER' other)" = "NetShareAdd public -> 2118" ]
check "a record cut short: 87" [ "$(share_tool 9x add NEW 'C:\NEW' new size=20)" = "NetShareAdd NEW -> 87" ]
check "refused additions leave the store as it was" cmp -s "$WINEPREFIX/seeded.txt" "$(share_store)"

share_switch 'fail-enum 53'
check "the fail-enum switch: enumeration answers 53" [ "$(share_tool 9x list)" = "NetShareEnum -> 53" ]
cp "$WINEPREFIX/seeded.txt" "$(share_store)"
share_switch 'refuse-delete PUBLIC 5'
out="$(share_tool 9x cycle)"
same_output "a refused deletion: 5 for PUBLIC, the others go and come back" 'NetShareEnum -> 0
del IPC$ -> 0
del C$ -> 0
del PUBLIC -> 5
del TOOLS -> 0
add IPC$ -> 0
add C$ -> 0
add TOOLS -> 0' "$out"
check "every share is still there, each line as seeded" \
    diff <(sort "$WINEPREFIX/seeded.txt") <(grep '^share ' "$(share_store)" | sort)
share_serve_stop
finish
