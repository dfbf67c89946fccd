#!/usr/bin/env bash
# The worm test on the real platform: matcher_check.exe under Wine and its
# host twin over the simulated workstation give the same answer for every
# sample, and a patched copy of the running-worm program still runs.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

SAMPLE="$E2E_HOST_BIN/kurrel_sample"
TWIN="$E2E_HOST_BIN/matcher_check"
CHECK="$E2E_BIN/matcher_check.exe"
WORM="$E2E_BIN/kurrel_worm.exe"
for tool in "$SAMPLE" "$TWIN" "$CHECK" "$WORM"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done

# Bytes 4096 to 8191 of the worm program are header padding only when its
# first section starts at file offset 0x2000.
first_section="$(x86_64-w64-mingw32-objdump -h "$WORM" | awk '$1 == "0" { print $6 }')"
check "the worm program's first section starts at file offset 0x2000" [ "$first_section" = 00002000 ]

new_prefix
dir="$(c_path samples)"
mkdir -p "$dir/folder"
paths=()

# One sample for every table row, each at its own size from 8192 up.
crcs=(2E30D733 641F3EFA FC237CA0 F0BC4217 DD3D1EB3 1E101EF9 91729FD1 379EDC9B A1874D47 6355FE58
      82C4EF01 A1874D47 4225EF06 98FE29AA 96745E16 01587851 77CFF4E3 98FE29AA B575938E)
for i in "${!crcs[@]}"; do
    "$SAMPLE" make "$dir/row$i.exe" $((8192 + i * 1000)) "${crcs[$i]}" || exit 1
    paths+=("C:\\samples\\row$i.exe")
done
# One byte short of the region: never a match.
"$SAMPLE" make "$dir/short.exe" 8192 2E30D733 && truncate -s 8191 "$dir/short.exe"
# A near miss inside the region, and a flip just outside it that changes nothing.
"$SAMPLE" make "$dir/near.exe" 8192 641F3EFA && "$SAMPLE" flip "$dir/near.exe" $((4096 * 8 + 100))
"$SAMPLE" make "$dir/outside.exe" 9000 641F3EFA && "$SAMPLE" flip "$dir/outside.exe" $((8192 * 8))
printf 'just a text file\r\n' >"$dir/notes.txt"
# The running worm: a copy of the program forced to row 6, holding a sample open.
cp "$WORM" "$dir/kurrel_worm.exe" && "$SAMPLE" patch "$dir/kurrel_worm.exe" 91729FD1
"$SAMPLE" make "$dir/held.exe" 8192 B575938E
paths+=("C:\\samples\\short.exe" "C:\\samples\\near.exe" "C:\\samples\\outside.exe"
        "C:\\samples\\notes.txt" "C:\\samples\\folder" "C:\\samples\\missing.exe"
        "C:\\samples\\kurrel_worm.exe" "C:\\samples\\held.exe")

wine "$dir/kurrel_worm.exe" 'C:\samples\held.exe' >/dev/null 2>&1 &
worm_pid=$!
# Wait until the worm holds its file (the test then cannot open it).
held=no
for _ in $(seq 1 30); do
    if wine "$CHECK" 'C:\samples\held.exe' 2>/dev/null | tr -d '\r' | grep -q 'opened=0'; then
        held=yes
        break
    fi
    sleep 1
done
check "the patched worm program starts and holds its file" [ "$held" = yes ]

wine_out="$(wine "$CHECK" "${paths[@]}" 2>/dev/null | tr -d '\r')"
sleep 2
check "the patched worm program is still running" kill -0 "$worm_pid"
twin_out="$("$TWIN" "$WINEPREFIX/drive_c" --held 'C:\samples\held.exe' "${paths[@]}")"

echo "$wine_out" >"$WINEPREFIX/wine.txt"
echo "$twin_out" >"$WINEPREFIX/twin.txt"
check "Wine and the simulation agree on every sample" diff -u "$WINEPREFIX/twin.txt" "$WINEPREFIX/wine.txt"
check "one answer per sample" [ "$(echo "$wine_out" | wc -l)" -eq "${#paths[@]}" ]

expect() {  # expect PATH ANSWER: the line that Wine printed for PATH
    grep -qxF "$1 $2" <<<"$wine_out" && return 0
    # What Wine and the simulation said instead, for whoever reads the failure.
    echo "$wine_out" | grep -F "$1 " | sed 's/^/  | Wine:       /'
    echo "$twin_out" | grep -F "$1 " | sed 's/^/  | simulation: /'
    return 1
}
for i in "${!crcs[@]}"; do
    index=$i
    [ "$i" -eq 11 ] && index=8
    [ "$i" -eq 17 ] && index=13
    check "row $i is found at entry $index" expect "C:\\samples\\row$i.exe" "opened=1 index=$index infected=1"
done
check "8191 bytes never match" expect 'C:\samples\short.exe' 'opened=1 index=-1 infected=0'
check "a near miss does not match" expect 'C:\samples\near.exe' 'opened=1 index=-1 infected=0'
check "a flip outside the region still matches" expect 'C:\samples\outside.exe' 'opened=1 index=1 infected=1'
check "a text file is clean" expect 'C:\samples\notes.txt' 'opened=1 index=-1 infected=0'
check "a folder cannot be opened" expect 'C:\samples\folder' 'opened=0 index=-1 infected=0'
check "a missing file cannot be opened" expect 'C:\samples\missing.exe' 'opened=0 index=-1 infected=0'
check "the running worm's program matches" expect 'C:\samples\kurrel_worm.exe' 'opened=1 index=6 infected=1'
check "a file held without sharing counts as clean" expect 'C:\samples\held.exe' 'opened=0 index=-1 infected=0'

kill "$worm_pid" 2>/dev/null
wineserver -k >/dev/null 2>&1
wait "$worm_pid" 2>/dev/null
finish
