#!/usr/bin/env bash
# 64-bit Windows, as a 64-bit prefix plays it: the 32-bit Kurrelfix.exe is
# shown syswow64 wherever it names system32, unless it turns that off. A copy
# of the worm in the real system folder (the Unix folder
# drive_c/windows/system32, where a copy written over the network lands) and
# one in syswow64, each beside a clean program of the other's name that must
# stay; the worm's open command in both registry views (Wine keeps the two
# apart). Both copies go, nothing else does, both views are repaired, and the
# run exits with 1.
#
# Only a 32-bit program is redirected. Where this machine cannot run 32-bit
# Wine at all (not even through qemu-user) the scenarios run the 64-bit
# build, which Windows never redirects: this scenario is then skipped, and
# says so.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

[ "$E2E_WINE_BITS" = 32 ] ||
    skip_scenario "this machine cannot run 32-bit programs, not even through qemu-user, and the 64-bit build is never redirected"
SAMPLE="$E2E_HOST_BIN/kurrel_sample"
for tool in "$KURRELFIX_EXE32" "$SAMPLE"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done
SHELL_KEY='HKCR\exefile\shell\open\command'
log_has() { tr -d '\r' <"$(log_file)" | grep -ixF -- "$1" >/dev/null; }

WINEARCH=win64 new_prefix
check "the prefix is 64-bit: it has syswow64" [ -d "$(c_path windows/syswow64)" ]
real_copy="$(c_path windows/system32/kurrelsv.exe)"
wow_copy="$(c_path windows/syswow64/kurrelup.exe)"
real_clean="$(c_path windows/system32/kurrelup.exe)"
wow_clean="$(c_path windows/syswow64/kurrelsv.exe)"
"$SAMPLE" make "$real_copy" 9000 2E30D733 || exit 1
"$SAMPLE" make "$wow_copy" 8192 A1874D47 || exit 1
printf 'MZ a 64-bit program that is no worm' >"$real_clean"
printf 'MZ a 32-bit program that is no worm' >"$wow_clean"
cp "$real_clean" "$WINEPREFIX/real_clean.before"
cp "$wow_clean" "$WINEPREFIX/wow_clean.before"
command='C:\windows\system32\kurrelsv.exe "%1" %*'
wine reg add "$SHELL_KEY" /ve /d "$command" /f /reg:64 >/dev/null 2>&1
wine reg add "$SHELL_KEY" /ve /d "$command" /f /reg:32 >/dev/null 2>&1

KURRELFIX_EXE="$KURRELFIX_EXE32" run_tool /SILENT
tr -d '\r' <"$(log_file)" | grep -v '^\[VTSU - FileExist' | sed 's/^/  | /'

check "exit code 1" [ "$TOOL_RC" -eq 1 ]
check "the copy in the real system32 is gone" [ ! -e "$real_copy" ]
check "the copy in syswow64 is gone" [ ! -e "$wow_copy" ]
check "the clean program in system32 stays as it was" cmp -s "$WINEPREFIX/real_clean.before" "$real_clean"
check "the clean program in syswow64 stays as it was" cmp -s "$WINEPREFIX/wow_clean.before" "$wow_clean"
check "log: the real system32's copy by its real name" log_has 'Found infection "C:\windows\system32\kurrelsv.exe"'
check "log: syswow64's copy by its own name" log_has 'Found infection "C:\windows\syswow64\kurrelup.exe"'
check "log: syswow64 is walked by its own name, not reached twice" \
    bash -c "! tr -d '\\r' <'$(log_file)' | grep -i 'syswow64\\\\ leads to one walked already' >/dev/null"
for view in 64 32; do
    check "the open command is repaired in the $view-bit view" \
        bash -c "wine reg query '$SHELL_KEY' /ve /reg:$view 2>/dev/null | tr -d '\\r' | grep -qE '^ +\\(Default\\) +REG_SZ +\"%1\" %\\*\$'"
done
finish
