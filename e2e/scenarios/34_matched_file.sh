#!/usr/bin/env bash
# What the tool deletes or leaves for the boot is the file that matched, not
# whatever a path leads to later. A plain user may replace a folder of their
# own with a link between two of the tool's calls, or after the run and
# before the restart, and so make the path of a worm copy lead to a file of
# the same name that is not the worm (here one in the system folder):
#
# - a copy held open in a folder that anyone may change is not left for the
#   boot at all (exit code 3, the log says why); the folder replaced by a
#   link before the restart, the link's target is untouched after it;
# - the running worm's folder replaced by a link in the second between its
#   end and the deletion of its image: the file the link leads to stays, and
#   the log says the file at that path is not the one that matched.
#
# Wine keeps Unix links: a folder replaced by a symbolic link is what Windows
# shows as a junction, and Wine follows it in every path the same way. Wine
# lists such a link as a reparse point without a tag, and reads a folder's access list
# from its Unix mode (0777 lets Everyone delete and change it, as a user's
# own folder lets that user); a file's identity is its device and inode.
#
# Builds: the shipped build runs the held copy's part. The running worm's part
# runs on the 64-bit build where 32-bit programs run through qemu-user: no
# other process reads a qemu-run process's memory as it is, and the process
# sweep reads a process's modules from there, so it would not see a running
# 32-bit worm.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

SAMPLE="$E2E_HOST_BIN/kurrel_sample"
WORM="$E2E_BIN/kurrel_worm.exe"
HOLD="$E2E_BIN/hold_file.exe"
for tool in "$KURRELFIX_EXE" "$SAMPLE" "$WORM" "$HOLD"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done
log_has() { tr -d '\r' <"$(log_file)" | grep -xF -- "$1" >/dev/null; }
VICTIM_BYTES='MZ a program of the system, not the worm'

# plant_victim: a file named as the worm's copies, in the system folder, that
# is not the worm and that no plain user could delete.
plant_victim() {
    VICTIM="$WINEPREFIX/drive_c/windows/system32/kurrel.exe"
    printf '%s' "$VICTIM_BYTES" >"$VICTIM"
}
victim_intact() { [ -f "$VICTIM" ] && [ "$(cat "$VICTIM")" = "$VICTIM_BYTES" ]; }

echo "-- a held copy in a folder anyone may change, its folder replaced by a link before the restart"
new_prefix
plant_victim
apps='C:\Users\Ann\Apps'
mkdir -p "$(unix_path "$apps")"
chmod 0777 "$(unix_path "$apps")"
"$SAMPLE" make "$(unix_path "$apps\\kurrel.exe")" 12000 F0BC4217 >/dev/null || exit 1
E2E_BACKGROUND=1
check "the helper holds the copy" hold_file "$apps\\kurrel.exe"
run_tool /SILENT
unset E2E_BACKGROUND
check "exit code 3: the copy could not be removed" [ "$TOOL_RC" -eq 3 ]
check "the log says why it is not left for the boot" \
    log_has "File $apps\\kurrel.exe is not left for the next boot: folder $apps others may change it, error=0"
check "and the deletion's result" log_has "Deleting file \"$apps\\kurrel.exe\", result=4"
check "nothing is on the boot's list" \
    bash -c "! wine reg query 'HKLM\\System\\CurrentControlSet\\Control\\Session Manager' /v PendingFileRenameOperations >/dev/null 2>&1"
wineserver -k
wineserver -w
# The user, after the run: the folder renamed away, a link in its place.
mv "$(unix_path "$apps")" "$(unix_path "$apps").away"
ln -s ../../windows/system32 "$(unix_path "$apps")"
check "the link leads to the victim" [ "$(cat "$(unix_path "$apps\\kurrel.exe")")" = "$VICTIM_BYTES" ]
timeout 120 wineboot -r >/dev/null 2>&1
timeout 60 wineserver -w
check "after the restart the link's target is untouched" victim_intact
check "the copy itself is still there, for the next run" [ -f "$(unix_path "$apps").away/kurrel.exe" ]
rm -f "$(unix_path "$apps")"
mv "$(unix_path "$apps").away" "$(unix_path "$apps")"
run_tool /SILENT
check "after the restart nothing holds the copy: the next run removes it (exit code 1)" [ "$TOOL_RC" -eq 1 ]
check "and it is gone" [ ! -e "$(unix_path "$apps\\kurrel.exe")" ]
check "the victim still stands" victim_intact

echo "-- the running worm's folder replaced by a link before its image is deleted"
shipped_runs_natively || use_build native "the running worm, which qemu-user would hide from the process sweep"
WORM="$E2E_BIN/kurrel_worm.exe"
new_prefix
plant_victim
run_dir='C:\Users\Ann\Run'
worm="$run_dir\\kurrel.exe"
mkdir -p "$(unix_path "$run_dir")"
chmod 0777 "$(unix_path "$run_dir")"
cp "$WORM" "$(unix_path "$worm")" && "$SAMPLE" patch "$(unix_path "$worm")" 91729FD1
E2E_BACKGROUND=1
(cd "$WINEPREFIX/drive_c" && exec wine "$worm" >/dev/null 2>&1) &
worm_pid=$!
sleep 1
check "the worm runs" process_running "$worm_pid"
start_tool
# The tool ends the worm, logs it, and deletes its image a second later:
# in that second the user swaps the folder.
swapped=""
for _ in $(seq 1 600); do
    if [ -f "$(log_file)" ] && tr -d '\r' <"$(log_file)" | grep -q "^Process $(printf '%s' "$worm" | sed 's/\\/\\\\/g') terminated with status 1$"; then
        mv "$(unix_path "$run_dir")" "$(unix_path "$run_dir").away"
        ln -s ../../windows/system32 "$(unix_path "$run_dir")"
        swapped=1
        break
    fi
    process_running "$TOOL_PID" || break
    sleep 0.05
done
check "the folder was swapped within the second" [ -n "$swapped" ]
wait "$TOOL_PID"
TOOL_RC=$?
unset E2E_BACKGROUND
timeout 60 wineserver -w
tr -d '\r' <"$(log_file)" | grep -E '^(Process|Deleting|File|There)' | sed 's/^/  | /'
check "the file the link leads to is untouched" victim_intact
check "the log says the file at that path is not the one that matched" \
    log_has "File $worm is not the file that matched (another file is at its path now): it is left alone"
check "and the deletion's result" log_has "Deleting file \"$worm\", result=4"
# The image, under the folder's new name, is a copy like any other: the disk
# sweep finds it there and deletes it as itself.
check "the disk sweep deleted the image under its new name" \
    log_has "Deleting file \"$run_dir.away\\kurrel.exe\", result=1"
check "it is gone" [ ! -e "$(unix_path "$run_dir").away/kurrel.exe" ]
check "exit code 3: the deletion at the old path failed" [ "$TOOL_RC" -eq 3 ]
finish
