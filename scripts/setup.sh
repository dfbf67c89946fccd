#!/usr/bin/env bash
# Installs what building and testing Kurrelfix needs on a Debian machine:
# the host toolchain and GoogleTest, clang for the fuzzers, Google Benchmark,
# mingw-w64 for the Windows program, and Wine (with wine32) to run it; for
# the checks of the program's resources icoutils and libxml2-utils, for the
# boxes on a virtual display xvfb, xdotool, imagemagick and Wine's own fonts
# (without them the boxes' title bars draw their symbols as letters), zip
# for the release, and qemu-user-static, through which 64-bit Wine runs
# 32-bit Wine where the kernel refuses 32-bit programs (scripts/wine_bits.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
          libbenchmark-dev mingw-w64 wine wine32 wine64
          icoutils libxml2-utils xvfb xdotool imagemagick fonts-wine zip qemu-user-static)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    missing+=(wine32)
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    # A mirror in the middle of a sync serves one architecture's list short
    # now and then: what the lists there are allow is installed all the same.
    $sudo_cmd apt-get update -qq ||
        echo "setup: apt-get update failed; installing from the package lists there are"
    if ! DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null; then
        # wine32's libraries must match the 64-bit ones to the version: with
        # the i386 list short they cannot be had. Without wine32 the Wine
        # scenarios run the 64-bit build under 64-bit Wine, as on a machine
        # that cannot run 32-bit programs, and the scenario that only the
        # 32-bit program can show says SKIP (scripts/wine_bits.sh), unless
        # 32-bit Wine's files can be had another way (below).
        rest=()
        for p in "${missing[@]}"; do [ "$p" = wine32 ] || rest+=("$p"); done
        echo "setup: installing without wine32: ${rest[*]}"
        [ ${#rest[@]} -eq 0 ] || DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${rest[@]}" >/dev/null
    fi
fi

# Where wine32 cannot be installed (its libraries must match the 64-bit ones
# to the version, and the i386 lists here may lack them), the same version of
# its files is unpacked under build/wine32-root instead: 64-bit Wine then runs
# the 32-bit Kurrelfix.exe through them under qemu-user, which needs only the
# 32-bit C library (scripts/wine_qemu.sh). Nothing of it is installed in the
# system; "apt-get download" fetches the two packages as a user would.
unpack_wine32() {
    local version root=build/wine32-root debs
    version="$(dpkg-query -W -f='${Version}' libwine:amd64 2>/dev/null)" || return 1
    [ "$(cat "$root/version" 2>/dev/null)" = "$version" ] && return 0
    if ! dpkg-query -W -f='${Status}' libc6:i386 2>/dev/null | grep -q 'install ok installed'; then
        DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq libc6:i386 >/dev/null || return 1
    fi
    debs="$(mktemp -d /tmp/kurrelfix-wine32.XXXXXX)" || return 1
    if ! (cd "$debs" && apt-get download -qq "wine32:i386=$version" "libwine:i386=$version" 2>/dev/null); then
        rm -rf "$debs"
        return 1
    fi
    rm -rf "$root" && mkdir -p "$root" || return 1
    local deb
    for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$root" || { rm -rf "$debs" "$root"; return 1; }; done
    rm -rf "$debs"
    # What libwine's own set-up does once installed: its zlib1.dll, made from
    # libz-mingw-w64's, which the 64-bit libwine already made.
    cp /usr/lib/x86_64-linux-gnu/wine/i386-windows/zlib1.dll "$root/usr/lib/i386-linux-gnu/wine/i386-windows/" ||
        { rm -rf "$root"; return 1; }
    echo "$version" >"$root/version"
}
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
    unpack_wine32 && echo "setup: wine32 could not be installed; its files are unpacked under build/wine32-root" ||
        echo "setup: wine32 could neither be installed nor unpacked: the Wine scenarios run the 64-bit build"
fi
