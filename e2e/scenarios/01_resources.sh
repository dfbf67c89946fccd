#!/usr/bin/env bash
# What Windows and an administrator read from the file before it runs: the
# manifest (Vista and later ask an administrator to elevate, and do not
# virtualize the tool's writes), and the version in the file's properties.
# Reads the shipped 32-bit program; the 64-bit build must carry the same.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

if [ ! -e "$KURRELFIX_EXE32" ]; then
    echo "  FAIL missing $KURRELFIX_EXE32"
    exit 1
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

resources="$(wrestool -l "$KURRELFIX_EXE32")"
echo "$resources" | sed 's/^/  | /'
# The loader reads an exe's manifest only under ID 1 (an ID 2 is for DLLs).
check "one manifest, ID 1" \
    [ "$(grep -c -- '--type=24 ' <<<"$resources")" -eq 1 -a "$(grep -c -- '--type=24 --name=1 ' <<<"$resources")" -eq 1 ]
check "one version resource" [ "$(grep -c -- '--type=16 ' <<<"$resources")" -eq 1 ]

manifest="$work/manifest.xml"
wrestool -x --raw -t 24 -n 1 "$KURRELFIX_EXE32" >"$manifest"
check "the manifest is well-formed XML" xmllint --noout "$manifest"
xpath() { xmllint --xpath "$1" "$manifest" 2>/dev/null; }
level='//*[local-name()="trustInfo"]/*[local-name()="security"]/*[local-name()="requestedPrivileges"]/*[local-name()="requestedExecutionLevel"]'
echo "  execution level: $(xpath "string($level/@level)"), uiAccess: $(xpath "string($level/@uiAccess)")"
check "one requested execution level" [ "$(xpath "count($level)")" = 1 ]
check "it is highestAvailable" [ "$(xpath "string($level/@level)")" = highestAvailable ]
check "uiAccess is false" [ "$(xpath "string($level/@uiAccess)")" = false ]
check "trustInfo is in a namespace Windows reads" \
    grep -qxE 'urn:schemas-microsoft-com:asm\.v[23]' <<<"$(xpath 'namespace-uri(//*[local-name()="trustInfo"])')"
check "the assembly is in the asm.v1 namespace" \
    [ "$(xpath 'namespace-uri(/*[local-name()="assembly"])')" = urn:schemas-microsoft-com:asm.v1 ]
check "no asInvoker or requireAdministrator anywhere" bash -c "! grep -qiE 'asInvoker|requireAdministrator' '$manifest'"
# Visual styles would need comctl32 6 at start; the boxes stay as they were.
check "no dependency on other assemblies" [ "$(xpath 'count(//*[local-name()="dependency"])')" = 0 ]

version="$(i686-w64-mingw32-windres -i "$KURRELFIX_EXE32" -O rc 2>/dev/null | tr -d '\r')"
value() { sed -n "s/^ *VALUE \"$1\", \"\\(.*\\)\"\$/\\1/p" <<<"$version"; }
echo "  version: $(grep -E '^ *(FILE|PRODUCT)VERSION' <<<"$version" | tr -s ' ' | tr '\n' ';')"
check "file version 1.0.0.5 (the numbers Explorer shows)" grep -qx ' FILEVERSION 1, 0, 0, 5' <<<"$version"
check "product version 1.0.0.5" grep -qx ' PRODUCTVERSION 1, 0, 0, 5' <<<"$version"
check "FileVersion text 1.0.0.5" [ "$(value FileVersion)" = 1.0.0.5 ]
check "ProductVersion text 1.0.0.5" [ "$(value ProductVersion)" = 1.0.0.5 ]
check "it is an application" grep -qx ' FILETYPE 0x1' <<<"$version"
check "company Ombrel Works" [ "$(value CompanyName)" = "Ombrel Works" ]
check "product name" [ "$(value ProductName)" = "Veltrane Kurrel Worm Removal Tool" ]
check "file description" [ "$(value FileDescription)" = "Veltrane Kurrel Worm Removal Tool" ]
check "original file name Kurrelfix.exe" [ "$(value OriginalFilename)" = Kurrelfix.exe ]
check "U.S. English, Unicode" grep -qE '^ *VALUE "Translation", 0x409, 1200$' <<<"$version"

# The 64-bit build of the same sources, where this machine has one (the
# release, which ships only the 32-bit program, sets KURRELFIX_EXE64 empty).
exe64="${KURRELFIX_EXE64-$E2E_ROOT/build/windows64/Kurrelfix.exe}"
if [ -n "$exe64" ] && [ -e "$exe64" ]; then
    for type in 16 24; do
        check "the 64-bit build carries the same resource of type $type" \
            cmp -s <(wrestool -x --raw -t "$type" -n 1 "$KURRELFIX_EXE32") <(wrestool -x --raw -t "$type" -n 1 "$exe64")
    done
fi
finish
