#!/usr/bin/env bash
# Builds Kurrelfix.exe (32-bit) and packs the release for administrators:
# dist/Kurrelfix-<version>.zip with the program, README-admin.txt, the batch
# files for many workstations (the run and the fleet report) and SHA256SUMS.txt, and beside the zip its own
# checksum. The version comes from app/version.h. The program's resources
# and import table are checked before anything is packed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target Kurrelfix

# The one place that holds the version: major.minor.0.build, as the
# program's version resource says it.
number() { sed -n "s/^#define KURRELFIX_VERSION_$1 \\([0-9]*\\)\$/\\1/p" app/version.h; }
version="$(number MAJOR).$(number MINOR).0.$(number BUILD)"
[[ "$version" =~ ^[0-9]+\.[0-9]+\.0\.[0-9]+$ ]] || { echo "release: no version in app/version.h"; exit 1; }
# As the tool prints it: the minor number in two digits.
version_line="$(printf '%d.%02d.%d' "$(number MAJOR)" "$(number MINOR)" "$(number BUILD)")"

echo "== checking build/windows/Kurrelfix.exe"
# Only the checks that read the file; they need no Wine.
export KURRELFIX_EXE32="$PWD/build/windows/Kurrelfix.exe" KURRELFIX_EXE64=""
bash e2e/scenarios/00_imports.sh
bash e2e/scenarios/01_resources.sh

name="Kurrelfix-$version"
stage="build/release/$name"
rm -rf "$stage"
mkdir -p "$stage" dist
cp build/windows/Kurrelfix.exe deploy/kurrelfix-run.cmd deploy/kurrelfix-report.cmd "$stage/"
sed -e "s/@VERSION@/$version/g" -e "s/@VERSION_LINE@/$version_line/g" deploy/README-admin.txt \
    >"$stage/README-admin.txt"
if grep -q @ "$stage/README-admin.txt"; then
    echo "release: README-admin.txt has a placeholder left"
    exit 1
fi
# Both texts are read on Windows: every line ends in CR LF.
for text in README-admin.txt kurrelfix-run.cmd kurrelfix-report.cmd; do
    if LC_ALL=C grep -q $'[^\r]$\|^$' "$stage/$text"; then
        echo "release: $text has a line without CR LF"
        exit 1
    fi
done
(cd "$stage" && sha256sum Kurrelfix.exe README-admin.txt kurrelfix-run.cmd kurrelfix-report.cmd >SHA256SUMS.txt)

rm -f "dist/$name.zip" "dist/$name.zip.sha256"
# -X: no Unix owners or permissions in the archive; -j: the files at its top.
(cd "$stage" && zip -q -X -j "../../../dist/$name.zip" Kurrelfix.exe README-admin.txt kurrelfix-run.cmd \
    kurrelfix-report.cmd SHA256SUMS.txt)
(cd dist && sha256sum "$name.zip" >"$name.zip.sha256")

echo "== dist/$name.zip"
unzip -l "dist/$name.zip"
cat "$stage/SHA256SUMS.txt"
cat "dist/$name.zip.sha256"
