#!/usr/bin/env bash
# The Windows build links only what every Windows has at start: its import
# table names KERNEL32, ADVAPI32, USER32 and the C runtime, nothing of the
# toolchain, and none of the libraries that the tool binds at run time.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

if [ ! -e "$KURRELFIX_EXE32" ]; then
    echo "  FAIL missing $KURRELFIX_EXE32"
    exit 1
fi
imports="$(i686-w64-mingw32-objdump -p "$KURRELFIX_EXE32" | awk '/DLL Name:/ { print toupper($3) }' | sort -u)"
echo "  imports: $(echo $imports)"

check "it is a 32-bit program" \
    bash -c "i686-w64-mingw32-objdump -f '$KURRELFIX_EXE32' | grep -q 'file format pei-i386'"
for dll in KERNEL32.DLL ADVAPI32.DLL USER32.DLL MSVCRT.DLL; do
    check "imports $dll" grep -qx "$dll" <<<"$imports"
done
for dll in PSAPI.DLL VDMDBG.DLL NETAPI32.DLL SVRAPI.DLL; do
    check "does not import $dll (bound at run time)" bash -c "! grep -qx '$dll' <<<'$imports'"
done
# Windows before XP (before Vista, for the process image's name) lacks these;
# the tool finds them when it runs.
functions="$(i686-w64-mingw32-objdump -p "$KURRELFIX_EXE32" | awk '$1 ~ /^[0-9a-f]+$/ && NF >= 3 { print $3 }')"
for name in IsWow64Process Wow64DisableWow64FsRedirection Wow64RevertWow64FsRedirection CancelIo \
    QueryFullProcessImageNameW GetProcessImageFileNameW QueryDosDeviceW; do
    check "does not import $name (bound at run time)" bash -c "! grep -qx '$name' <<<'$functions'"
done
check "the import table's functions are read (it names GetVersionExA)" grep -qx GetVersionExA <<<"$functions"
check "no DLL of the toolchain (libstdc++, libgcc, libwinpthread)" \
    bash -c "! grep -qE '^LIB(STDC|GCC|WINPTHREAD)' <<<'$imports'"
check "nothing beyond KERNEL32, ADVAPI32, USER32 and MSVCRT" \
    bash -c "! grep -vqxE 'KERNEL32.DLL|ADVAPI32.DLL|USER32.DLL|MSVCRT.DLL' <<<'$imports'"
finish
