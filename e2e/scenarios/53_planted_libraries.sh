#!/usr/bin/env bash
# Libraries planted beside Kurrelfix.exe under the names of the system
# libraries it binds at run time (netapi32.dll, psapi.dll, vdmdbg.dll,
# svrapi.dll), as anyone who may write to the folder or share it is run from
# could plant them; each leaves a marker file the moment a process loads it
# (e2e/planted/). The overrides make Wine search the program's own folder
# first, as Windows does for a library that is not one of its known ones.
# A program beside them that loads them by bare name takes every one of
# them; Wine's own files in the system folder, loaded by full path, are
# Wine's libraries; and the tool, on an infected NT prefix with shares (the
# test-only netapi32.dll in the system folder, e2e/lib_shares.sh), loads
# none of the planted ones and cleans as usual: exit code 1, the worm's
# copies gone, every share back.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_shares.sh"

SAMPLE="$E2E_HOST_BIN/kurrel_sample"
PLANTED=(netapi32 psapi vdmdbg svrapi)
for file in "$KURRELFIX_EXE" "$SAMPLE" "$SHARE_TOOL" "$E2E_BIN/load_library.exe" \
    "$E2E_BIN"/planted/{netapi32,psapi,vdmdbg,svrapi}.dll; do
    [ -e "$file" ] || { echo "  FAIL missing $file"; exit 1; }
done

marker() { c_path "planted-$1.marker"; }
# no_marker NAME: the planted NAME.dll left no marker; else shows who loaded it.
no_marker() {
    [ -e "$(marker "$1")" ] || return 0
    tr -d '\r' <"$(marker "$1")" | sed "s/^/  | $1.dll was loaded by /"
    return 1
}
# load_library ARGS...: e2e/programs/load_library.cpp run from C:\Tools, beside the planted files.
load_library() {
    (cd "$WINEPREFIX/drive_c" && wine 'C:\Tools\load_library.exe' "$@" 2>/dev/null) | tr -d '\r'
}

new_prefix
install_share_dlls nt
seed_shares nt
cp "$(share_store)" "$WINEPREFIX/seeded.txt"
for name in "${PLANTED[@]}"; do
    cp "$E2E_BIN/planted/$name.dll" "$(c_path "Tools/$name.dll")" || exit 1
done
cp "$E2E_BIN/load_library.exe" "$(c_path Tools/load_library.exe)" || exit 1
export WINEDLLOVERRIDES="mscoree,mshtml=;netapi32,psapi,vdmdbg,svrapi=n,b"

echo "a program beside them that loads them by bare name"
out="$(load_library "${PLANTED[@]/%/.dll}")"
sed 's/^/  | /' <<<"$out"
for name in "${PLANTED[@]}"; do
    check "$name.dll: the planted file is taken, and leaves its marker" \
        [ "$(grep -ci "^$name\.dll loaded from C:\\\\Tools\\\\$name\.dll\$" <<<"$out")" -eq 1 -a -e "$(marker "$name")" ]
    rm -f "$(marker "$name")"
done

echo "Wine's own files in the system folder, by full path"
out="$(load_library 'C:\windows\system32\psapi.dll:EnumProcesses' 'C:\windows\system32\vdmdbg.dll:VDMEnumTaskWOWEx')"
sed 's/^/  | /' <<<"$out"
# A 32-bit program may be told either name of its system folder.
for entry in psapi:EnumProcesses vdmdbg:VDMEnumTaskWOWEx; do
    check "${entry%:*}.dll: Wine's, with its functions" grep -qixE \
        "C:\\\\windows\\\\system32\\\\${entry%:*}\\.dll loaded from C:\\\\windows\\\\(system32|syswow64)\\\\${entry%:*}\\.dll, ${entry#*:} found" <<<"$out"
done
for name in psapi vdmdbg; do check "$name.dll: no marker" no_marker "$name"; done
rm -f "$(c_path Tools/load_library.exe)" "${PLANTED[@]/#/$WINEPREFIX/drive_c/planted-}"

echo "the tool beside them, on an infected workstation"
copies=('C:\windows\temp\kurrelsv.exe' 'C:\Public\holiday pictures.exe')
"$SAMPLE" make "$(unix_path "${copies[0]}")" 24576 2E30D733 || exit 1
"$SAMPLE" make "$(unix_path "${copies[1]}")" 9000 2E30D733 || exit 1
run_tool /SILENT
for name in "${PLANTED[@]}"; do
    check "the tool did not load the planted $name.dll" no_marker "$name"
done
check "exit code 1" [ "$TOOL_RC" -eq 1 ]
check "the worm's copies are gone" [ ! -e "$(unix_path "${copies[0]}")" -a ! -e "$(unix_path "${copies[1]}")" ]
check "the stand-in netapi32.dll in the system folder answered the tool" share_answered netapi32.dll NetShareEnum
check "console: Share Public created 0" grep -qxF "Share Public created 0" <<<"$TOOL_OUT"
check "every share is back, the store as seeded, byte for byte" cmp -s "$WINEPREFIX/seeded.txt" "$(share_store)"
finish
