#!/usr/bin/env bash
# Installs what building and testing Kurrelfix needs on a Debian machine:
# the host toolchain and GoogleTest, clang for the fuzzers, Google Benchmark,
# mingw-w64 for the Windows program, and Wine (with wine32) to run it; for
# the checks of the program's resources icoutils and libxml2-utils, for the
# boxes on a virtual display xvfb, xdotool, imagemagick and Wine's own fonts
# (without them the boxes' title bars draw their symbols as letters), and
# zip for the release.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
          libbenchmark-dev mingw-w64 wine wine32 wine64
          icoutils libxml2-utils xvfb xdotool imagemagick fonts-wine zip)

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
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
