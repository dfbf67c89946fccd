#!/usr/bin/env bash
# The exit code tells the truth under Wine too. A read-only copy of the worm
# is refused by the delete and by the boot alike: the tool clears its
# read-only attribute first and it goes at once (exit code 1), on both
# families. A copy whose name is in Cyrillic letters, which the ANSI code
# page lacks, is reached by its wide name, deleted, and named in the log with
# the code points of those letters. A copy in a folder too deep for the ANSI
# calls (316 characters) is reached the same way and deleted (exit code 1).
# Two folder links that lead back up the tree (Unix links, which Wine lists
# as folders that are reparse points, without a tag) are not entered: the
# run ends at once, finds each copy once, and names each link as one. A link
# that a listing does not mark is known only by where it leads: the 32-bit
# program's win98 listing through qemu-user does not mark these, and the run
# names each as leading to a folder walked already (the host tests show a
# link to a folder not walked yet, entered once).
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

SAMPLE="$E2E_HOST_BIN/kurrel_sample"
for tool in "$KURRELFIX_EXE" "$SAMPLE"; do
    [ -e "$tool" ] || { echo "  FAIL missing $tool"; exit 1; }
done
log_has() { tr -d '\r' <"$(log_file)" | grep -xF -- "$1" >/dev/null; }

read_only_copy() {  # read_only_copy nt|win98
    if [ "$1" = win98 ]; then new_prefix win98; else new_prefix; fi
    local copy='C:\Archive\old setup.exe'
    mkdir -p "$(unix_path 'C:\Archive')"
    "$SAMPLE" make "$(unix_path "$copy")" 12000 F0BC4217 >/dev/null
    wine cmd /c attrib +r "$copy" >/dev/null 2>&1
    check "$1: the copy is read-only" \
        bash -c "wine cmd /c attrib '$copy' 2>/dev/null | tr -d '\\r' | grep -Eq '^[A-Z ]*R[A-Z ]* +C:'"
    check "$1: Wine refuses to delete it as it is" \
        bash -c "wine cmd /c del '$copy' >/dev/null 2>&1; [ -e '$(unix_path "$copy")' ]"
    run_tool /SILENT
    # Seen twice, each time while other Wine runs loaded the machine: show
    # what the run said, so that the next time tells why.
    [ "$TOOL_RC" -eq 1 ] || tr -d '\r' <"$(log_file)" | grep -vE '^(examinate|Folder) ' | sed 's/^/  | /'
    check "$1: exit code 1" [ "$TOOL_RC" -eq 1 ]
    check "$1: the copy is gone at once" [ ! -e "$(unix_path "$copy")" ]
    check "$1: the log says the attribute was cleared" \
        log_has "Cleared the read-only attribute of \"$copy\""
    check "$1: and the copy deleted" log_has "Deleting file \"$copy\", result=1"
}

read_only_copy nt
read_only_copy win98

echo "-- a copy named in letters outside the ANSI code page"
new_prefix
mkdir -p "$(unix_path 'C:\Docs')"
cyrillic_copy="$(unix_path 'C:\Docs')/$(printf '\xd0\xba\xd1\x83\xd1\x80\xd0\xb5\xd0\xbb\xd1\x8c').exe"
"$SAMPLE" make "$cyrillic_copy" 12000 F0BC4217 >/dev/null
run_tool /SILENT
check "exit code 1: the copy was found" [ "$TOOL_RC" -eq 1 ]
check "the copy is gone" [ ! -e "$cyrillic_copy" ]
check "the log names it with the code points of the letters the code page lacks" \
    log_has 'Deleting file "C:\Docs\<U+043A><U+0443><U+0440><U+0435><U+043B><U+044C>.exe", result=1'

echo "-- a copy deeper than the ANSI calls reach"
new_prefix
deep='C:\Deep'
for _ in 1 2 3 4 5 6; do deep="$deep\\$(printf 'level%045d' 0)"; done
mkdir -p "$(unix_path "$deep")"
"$SAMPLE" make "$(unix_path "$deep\\worm copy.exe")" 12000 F0BC4217 >/dev/null
check "the copy's path is longer than 259 characters" [ "${#deep}" -gt 259 ]
run_tool /SILENT
check "exit code 1: the copy was found and removed" [ "$TOOL_RC" -eq 1 ]
check "the copy is gone" [ ! -e "$(unix_path "$deep\\worm copy.exe")" ]
check "the log names it, at its whole depth" log_has "Deleting file \"$deep\\worm copy.exe\", result=1"

links_not_entered() {
    check "$1: the first link is not entered" \
        log_has 'Folder C:\Loops\A\Up is a link, not entered: what it leads to is walked where it is'
    check "$1: nor the second" \
        log_has 'Folder C:\Loops\B\Deeper\Back is a link, not entered: what it leads to is walked where it is'
}

# A link that the listing does not mark: known by the folder it leads to,
# which the walk has met already.
links_known_by_target() {
    check "$1: the first link leads to a folder walked already" \
        log_has 'Folder C:\Loops\A\Up\ leads to one walked already, not entered again'
    check "$1: so does the second" \
        log_has 'Folder C:\Loops\B\Deeper\Back\ leads to one walked already, not entered again'
}

folder_loops() {  # folder_loops nt|win98
    echo "-- two folder links back up the tree ($1)"
    if [ "$1" = win98 ]; then new_prefix win98; else new_prefix; fi
    local loops
    loops="$(unix_path 'C:\Loops')"
    mkdir -p "$loops/A" "$loops/B/Deeper"
    "$SAMPLE" make "$loops/A/worm copy.exe" 12000 F0BC4217 >/dev/null
    "$SAMPLE" make "$loops/B/Deeper/kurrel.exe" 12000 F0BC4217 >/dev/null
    ln -s ../.. "$loops/A/Up"             # C:\Loops\A\Up is C:\
    ln -s ../.. "$loops/B/Deeper/Back"    # C:\Loops\B\Deeper\Back is C:\Loops
    check "$1: Wine shows the links as folders" \
        bash -c "wine cmd /c dir /b /ad 'C:\Loops\A' 2>/dev/null | tr -d '\r' | grep -qx Up"
    # A walk that follows the links round does not end (more than fifteen
    # minutes under Wine), hence the bound.
    E2E_TOOL_TIMEOUT=300 run_tool /SILENT
    check "$1: the run ended by itself" [ "$TOOL_RC" -ne 124 ]
    check "$1: exit code 1" [ "$TOOL_RC" -eq 1 ]
    check "$1: both copies are gone" \
        bash -c "[ ! -e '$loops/A/worm copy.exe' ] && [ ! -e '$loops/B/Deeper/kurrel.exe' ]"
    check "$1: each copy was found once" \
        bash -c "[ \"\$(tr -d '\r' <'$(log_file)' | grep -c '^Found infection ')\" -eq 2 ]"
    if [ "$1" = nt ]; then
        links_not_entered nt
    elif [ "$E2E_WINE_KIND" = qemu ]; then
        # Seen here: the 32-bit program's listing in a win98 prefix, through
        # qemu-user, does not mark the links; the 64-bit build's does.
        wine_differs "the win98 listing the 32-bit program gets here (32-bit Wine through qemu-user) does not mark its links as reparse points, so each is known by where it leads; Windows 9x has no links" \
            links_known_by_target win98
    else
        wine_differs "Wine lists its links as reparse points in its win98 mode too; Windows 9x has no links" \
            links_not_entered win98
    fi
    check "$1: the links themselves are still there" \
        bash -c "[ -L '$loops/A/Up' ] && [ -L '$loops/B/Deeper/Back' ]"
}

folder_loops nt
folder_loops win98
finish
