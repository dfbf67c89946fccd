#!/usr/bin/env bash
# Prints how this machine runs the 32-bit Kurrelfix.exe under Wine:
#   32    32-bit Wine runs natively;
#   qemu  the kernel (or sandbox) refuses 32-bit programs ("Exec format
#         error"), but qemu-i386-static runs 32-bit Wine's loader, through
#         the folder that scripts/wine_qemu.sh makes under build/;
#   64    neither: the Wine scenarios run the 64-bit build of the same
#         sources under 64-bit Wine.
cd "$(dirname "$0")/.."
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo 32
elif folder="$(bash scripts/wine_qemu.sh)" && "$folder/wine" --version >/dev/null 2>&1; then
    echo qemu
else
    echo 64
fi
