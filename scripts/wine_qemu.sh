#!/usr/bin/env bash
# Makes the folder through which 64-bit Wine starts its 32-bit processes under
# qemu-user, on a machine whose kernel refuses 32-bit programs, and prints its
# path (build/wine-qemu/lib/wine). Fails, saying nothing, when qemu-i386-static
# or 32-bit Wine's files are not on this machine. No kernel setting
# (binfmt_misc or any other) is read or changed: qemu is started by name.
#
# Wine's ntdll starts a 32-bit process by running "wine" in the folder of the
# running loader, as /proc/self/exe names it: so that folder holds real copies
# of the loaders, never links, and its "wine" is a script that runs the
# 32-bit loader under qemu. The loaders find their libraries and data from
# their own folder (../i386-linux-gnu, ../x86_64-linux-gnu, ../../share/wine),
# so those are links to the system's folders beside it.
#
# Why -R 0x81000000: qemu 7.2 ignores MAP_FIXED_NOREPLACE, and its default
# guest space ends at 0xfffff000, not on a 64 KB boundary, so Wine's
# reservation slips and its fixed mapping of the shared user data at
# 0x7ffe0000 fails (c0000018); 0x80000000 fails the same way, and larger
# spaces work but make each process start more slowly (0xc0000000: 43 s).
set -uo pipefail
self="$(cksum <"$0")"
cd "$(dirname "$0")/.."

qemu="$(command -v qemu-i386-static)" || exit 1
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || exit 1
# 32-bit Wine's files: the system's (the wine32 package) or, where that
# package cannot be installed, the same version unpacked by scripts/setup.sh.
wine32="" lib32=""
for root in "" "$PWD/build/wine32-root"; do
    if [ -f "$root/usr/lib/wine/wine" ] && [ -f "$root/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll" ]; then
        wine32="$root/usr/lib/wine/wine"
        lib32="$root/usr/lib/i386-linux-gnu"
        break
    fi
done
[ -n "$wine32" ] || exit 1

top="$PWD/build/wine-qemu"
folder="$top/lib/wine"
# What the folder is made of; it is made again when any of it changed.
want="$(printf '%s\n' "$self" "$qemu" "$wine32" "$lib32" "$(cksum <"$wine32")" "$(cksum <"$wine64")")"
if [ "$(cat "$top/made-from" 2>/dev/null)" != "$want" ]; then
    mkdir -p build || exit 1
    new="$(mktemp -d "$PWD/build/wine-qemu.XXXXXX")" || exit 1
    chmod 755 "$new" && mkdir -p "$new/lib/wine" "$new/share" "$new/path" || exit 1
    # Copies, not links: /proc/self/exe names the file a link leads to, and
    # Wine would look for its 32-bit loader beside that one.
    cp "$wine32" "$new/lib/wine/wine.elf" && cp "$wine64" "$new/lib/wine/wine64" || exit 1
    ln -s /usr/lib/wine/wineserver "$new/lib/wine/wineserver"
    ln -s "$lib32" "$new/lib/i386-linux-gnu"
    ln -s /usr/lib/x86_64-linux-gnu "$new/lib/x86_64-linux-gnu"
    ln -s /usr/share/wine "$new/share/wine"
    # The script is written for the folder's final place.
    printf '#!/bin/sh\nexec %q -R 0x81000000 -0 %q %q "$@"\n' \
        "$qemu" "$folder/wine" "$folder/wine.elf" >"$new/lib/wine/wine"
    # What the scenarios put first in PATH as "wine" and "wine-stable" (the
    # tools such as wineboot run the latter): the 64-bit loader of this
    # folder, which starts 32-bit programs through the script above. Given a
    # program by its Unix path, the 64-bit loader hands a 32-bit one on in a
    # form the 32-bit side cannot open, so it gets the Windows path that
    # reaches any Unix file (\\?\unix\...), as the 32-bit loader would
    # make of it itself.
    for name in wine wine-stable; do
        {
            printf '#!/bin/sh\nexport WINELOADER=%q\n' "$folder/wine64"
            printf '%s\n' 'case "$1" in' \
                '    /*) if [ -f "$1" ]; then' \
                '            program="\\\\?\\unix$(printf %s "$1" | tr / '"'\\\\'"')"' \
                '            shift' \
                '            set -- "$program" "$@"' \
                '        fi ;;' \
                'esac'
            printf 'exec %q "$@"\n' "$folder/wine64"
        } >"$new/path/$name"
    done
    chmod +x "$new/lib/wine/wine" "$new/path/wine" "$new/path/wine-stable"
    printf '%s\n' "$want" >"$new/made-from"
    rm -rf "$top"
    mv -T "$new" "$top" 2>/dev/null || rm -rf "$new"
fi
[ -x "$folder/wine" ] || exit 1
echo "$folder"
