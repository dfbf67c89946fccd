#!/usr/bin/env bash
# The test driver that stands in for the Sentrel scanner, checked without the
# tool, so that the scenarios of the tool can rely on it. On an NT-family
# prefix: installed as VTSentrelDev, the scanner starts on; the tool's
# sequence (two opens, the state with and without an OVERLAPPED, the
# read-back) switches it off and on and is recorded request by request; a
# read-back left pending is cancelled before its handle is closed, by
# CancelIo or by the close itself; a wrong or empty read-back is answered
# once when armed; the probe sees the state change while it waits. On a
# win98 prefix: installed as KVX and vtsl95, the 9x form of the requests.
#
# Builds: the client is the shipped build. Where 32-bit programs run through
# qemu-user, the driver and the probe are the 64-bit ones (e2e/lib_sentrel.sh):
# a 64-bit Windows runs only 64-bit drivers, and the probe's bitness does not
# matter to what it reads.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_sentrel.sh"

for tool in "$SENTREL_SYS" "$SENTREL_PROBE" "$SENTREL_CLIENT"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done

quiet() { "$@" >/dev/null; }
fails() { ! "$@" >/dev/null; }

# The record of the tool's NT sequence with state CHAR ("0" or "1"), as the
# driver sees it: each open's number, the codes and input bytes, in order.
nt_record() {
    local hex="3${1}00" reply="0${1}00"
    printf '%s\n' \
        "open 1 device=VTSentrelDev share=3 options=0x00000040" \
        "control 1 req=1 code=0x0007e800 in=2 data=$hex out=0 completed status=0x00000000 info=0 reply=-" \
        "close 1" \
        "open 2 device=VTSentrelDev share=3 options=0x00000040" \
        "control 2 req=2 code=0x0007e800 in=2 data=$hex out=0 completed status=0x00000000 info=0 reply=-" \
        "control 2 req=3 code=0x0007f010 in=0 data=- out=2 completed status=0x00000000 info=2 reply=$reply" \
        "close 2"
}

new_prefix
check "the driver installs and its device opens" install_sentrel_driver
check "the scanner is on at start" same "$(sentrel_probe state)" "state on"
check "the probe's own opens are not recorded" same "$(sentrel_probe record)" ""

out="$(sentrel_client off)"
rc=$?
check "off: the client succeeds" [ "$rc" -eq 0 ]
check "off: every request completes within its call" same "$out" \
    "open 1: ok" "set 0: ok bytes=0" "open 2: ok" "overlapped set 0: ok bytes=0" \
    "read-back: ok bytes=2" "read-back value: 0" "closed"
check "off: the scanner is off" same "$(sentrel_probe state)" "state off"
mapfile -t expected < <(nt_record 0)
check "off: the record" same "$(sentrel_probe record)" "${expected[@]}"

sentrel_probe reset
check "reset empties the record" same "$(sentrel_probe record)" ""
out="$(sentrel_client on)"
rc=$?
check "on: the client succeeds" [ "$rc" -eq 0 ]
check "on: the read-back is 1" grep -qxF "read-back value: 1" <<<"$out"
check "on: the scanner is on" same "$(sentrel_probe state)" "state on"
mapfile -t expected < <(nt_record 1)
check "on: the record, numbered from 1 again" same "$(sentrel_probe record)" "${expected[@]}"

# The probe sees the state change while it waits, and gives up in time.
out="$(sentrel_probe wait-state off 1)"
rc=$?
check "wait-state gives up while the scanner stays on" \
    bash -c '[ "$1" -eq 1 ] && grep -qE "^state still on after [0-9]+ ms$" <<<"$2"' _ "$rc" "$out"
waited="$WINEPREFIX/wait-state.txt"
(sentrel_probe wait-state off 30 >"$waited"; echo "rc=$?" >>"$waited") &
waiter=$!
sleep 2
sentrel_client off >/dev/null
wait "$waiter"
check "wait-state sees the scanner go off" grep -qxF "rc=0" "$waited"
check "wait-state says when" grep -qE '^state off after [0-9]{3,} ms$' "$waited"

# A read-back left pending: the client cancels it, then closes the handle.
sentrel_probe reset
sentrel_probe pend 7f010
out="$(sentrel_client on)"
rc=$?
check "pending: the client reports the failure" [ "$rc" -eq 1 ]
check "pending: the read-back was cancelled" same "$out" \
    "open 1: ok" "set 1: ok bytes=0" "open 2: ok" "overlapped set 1: ok bytes=0" \
    "read-back: pending" "read-back: CancelIo ok" "read-back: finished with error 995" "closed"
mapfile -t expected < <(nt_record 1 | head -n 5)
expected+=("control 2 req=3 code=0x0007f010 in=0 data=- out=2 pending"
    "cancel 2 req=3 by=cancel-routine" "close 2")
check "pending: the record shows the cancel before the close" same "$(sentrel_probe record)" "${expected[@]}"
check "pending: the state requests still went through" same "$(sentrel_probe state)" "state on"
check "pending: only the next read-back was held" quiet sentrel_client off

# A read-back left pending and the handle closed without CancelIo.
sentrel_probe reset
sentrel_probe pend 7f010
out="$(sentrel_client on --no-cancel)"
check "closed while pending: the request ends as cancelled" \
    grep -qxF "pending request finished after the close: status 0xc0000120" <<<"$out"
mapfile -t expected < <(nt_record 1 | head -n 5)
expected+=("control 2 req=3 code=0x0007f010 in=0 data=- out=2 pending"
    "cancel 2 req=3 by=close" "close 2")
check "closed while pending: the record shows the cancel before the close" \
    same "$(sentrel_probe record)" "${expected[@]}"

# Armed answers to the read-back, each for one request only.
sentrel_probe reset
sentrel_probe wrong-readback
out="$(sentrel_client off)"
rc=$?
check "wrong read-back: the client sees 7" bash -c '[ "$1" -eq 1 ] && grep -qxF "read-back value: 7" <<<"$2"' _ "$rc" "$out"
check "wrong read-back: the record shows the reply" \
    grep -qxF "control 2 req=3 code=0x0007f010 in=0 data=- out=2 completed status=0x00000000 info=2 reply=0700" \
    <<<"$(sentrel_probe record)"
check "wrong read-back: the state is still right" same "$(sentrel_probe state)" "state off"
check "wrong read-back: once only" quiet sentrel_client off
sentrel_probe reset
sentrel_probe silent-readback
out="$(sentrel_client on)"
rc=$?
check "empty read-back: nothing written" bash -c \
    '[ "$1" -eq 1 ] && grep -qxF "read-back: ok bytes=0" <<<"$2" && grep -qxF "read-back value: 48879 (not written)" <<<"$2"' \
    _ "$rc" "$out"
check "empty read-back: the record shows no reply" \
    grep -qxF "control 2 req=3 code=0x0007f010 in=0 data=- out=2 completed status=0x00000000 info=0 reply=-" \
    <<<"$(sentrel_probe record)"
check "empty read-back: once only" quiet sentrel_client on

# The 9x family: the scanner's two devices, and the 9x form of the requests.
new_prefix win98
check "win98: the driver installs as KVX and vtsl95" install_sentrel_driver KVX vtsl95
check "win98: KVX opens" same "$(sentrel_probe -d KVX state)" "state on"
check "win98: vtsl95 opens" same "$(sentrel_probe -d vtsl95 state)" "state on"
check "win98: there is no VTSentrelDev" fails sentrel_probe -d VTSentrelDev state
out="$(sentrel_client --9x KVX vtsl95 off)"
# Wine refuses a request whose code demands read and write access on a
# handle opened with access 0, as the 9x form opens it: 0x7C450 never
# reaches the driver. 0x200 demands no access and does.
check "win98: the 9x form switches the scanner off" same "$out" \
    "open KVX: ok" "set 0: ok bytes=0" "open vtsl95: ok" "register: error 5" "closed"
check "win98: both devices share one state" same "$(sentrel_probe -d vtsl95 state)" "state off"
check "win98: the record" same "$(sentrel_probe -d KVX record)" \
    "open 1 device=KVX share=0 options=0x00001060" \
    "control 1 req=1 code=0x00000200 in=2 data=3000 out=0 completed status=0x00000000 info=0 reply=-" \
    "close 1" \
    "open 2 device=vtsl95 share=0 options=0x00000040" \
    "close 2"
sentrel_client --9x KVX vtsl95 on >/dev/null
check "win98: the 9x form switches it on again" same "$(sentrel_probe -d KVX state)" "state on"
finish
