#!/usr/bin/env bash
# The tool's own ReplaceFile keeps its name in the Windows build: the Windows
# headers define ReplaceFile as ReplaceFileA, which would silently rename it
# in some files and not in others. Reads the library; needs no Wine.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

library="$(dirname "$KURRELFIX_EXE32")/libkurrelfix_core.a"
if [ ! -e "$library" ]; then
    echo "  FAIL missing $library"
    exit 1
fi
symbols="$(i686-w64-mingw32-nm -C "$library")"
check "ReplaceFile(char const*, char const*, char const*) is defined" \
    grep -qE ' T ReplaceFile\(char const\*, char const\*, char const\*\)$' <<<"$symbols"
check "no file defines or calls a ReplaceFileA of ours" \
    bash -c '! grep -qE "ReplaceFileA\(char const\*" <<<"$1"' _ "$symbols"
check "nothing asks the system for ReplaceFileA" \
    bash -c '! grep -qE " U _?ReplaceFileA(@|$)" <<<"$1"' _ "$symbols"
finish
