#!/usr/bin/env bash
# Captures every box that Wine can make Kurrelfix.exe show, for the README:
# the confirmation box and the closing box for each exit code, 0 (a clean
# prefix), 3 (a worm copy held open in a folder anyone may change, which is
# therefore not left for the boot), 1 (an
# infected prefix) and 2 (something writes the worm's open command back
# while the tool waits). The box asking for administrator rights cannot be
# raised: Wine's process token is always an administrator's.
#
#   bash e2e/capture_boxes.sh [FOLDER]     (default: docs/screenshots)
#
# Not part of the test command: e2e/scenarios/60_interactive.sh checks the
# boxes; this only takes the pictures. Wine's own fonts (fonts-wine) must be
# installed: without Marlett the title bar's close button draws as a letter.
set -uo pipefail
source "$(dirname "$0")/lib.sh"

CAPTION='Veltrane Kurrel Worm Removal Tool'
SHELL_KEY='HKCR\exefile\shell\open\command'
WORM_COMMAND='"C:\windows\kurrel.exe" "%1" %*'
SAMPLE="$E2E_HOST_BIN/kurrel_sample"
for tool in Xvfb xdotool import identify; do
    command -v "$tool" >/dev/null || { echo "missing $tool (scripts/setup.sh installs it)"; exit 1; }
done
for file in "$KURRELFIX_EXE" "$SAMPLE"; do [ -e "$file" ] || { echo "missing $file"; exit 1; }; done
dpkg-query -W -f='${Status}' fonts-wine 2>/dev/null | grep -q 'install ok installed' ||
    { echo "fonts-wine is not installed (scripts/setup.sh installs it)"; exit 1; }

shots="$(realpath -m "${1:-$E2E_ROOT/docs/screenshots}")"
mkdir -p "$shots"
work="$(mktemp -d)"
xvfb_pid=""
writer=""
stop_all() {
    [ -n "$writer" ] && touch "$work/stop-writer" && wait "$writer" 2>/dev/null
    end_prefix
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
trap stop_all EXIT
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

new_prefix
trap stop_all EXIT
# Unmanaged, Wine draws each window's caption and frame itself, as Windows does.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -w
mkdir -p "$(c_path Tools)"
cp "$KURRELFIX_EXE" "$(c_path Tools/Kurrelfix.exe)"
# Debian's 64-bit Wine looks for its own fonts beside /usr/share/wine, not
# in it, and would draw the title bar's close button as a letter; the
# prefix's own font folder is searched first, so they are put there.
mkdir -p "$(c_path windows/Fonts)"
cp /usr/share/wine/fonts/* "$(c_path windows/Fonts)/"

caption_windows() { xdotool search --name "^${CAPTION}\$" 2>/dev/null; }
# wait_box OLD: a window with the caption other than OLD, while the tool runs.
wait_box() {
    local id
    for _ in $(seq 1 600); do
        id="$(caption_windows | grep -vx "${1:-none}" | head -n 1)"
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$tool_pid" 2>/dev/null || return 1
        sleep 0.2
    done
    return 1
}
capture() {
    sleep 1
    import -window "$1" "$shots/$2.png" 2>/dev/null
    echo "  $shots/$2.png"
}
answer() {
    xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool key --clearmodifiers "$2"
}

# run_boxes CODE NAME [confirmation]: an interactive run that is answered OK
# twice; its closing box is captured as NAME, and the confirmation box too
# when asked. Fails unless the tool ends with CODE.
run_boxes() {
    (cd "$WINEPREFIX/drive_c" && exec wine 'C:\Tools\Kurrelfix.exe' >/dev/null 2>&1) &
    tool_pid=$!
    local box closing
    box="$(wait_box)" || { echo "no confirmation box"; return 1; }
    [ -n "${3:-}" ] && capture "$box" confirmation
    answer "$box" Return
    closing="$(wait_box "$box")" || { echo "no closing box"; return 1; }
    capture "$closing" "$2"
    answer "$closing" Return
    wait "$tool_pid"
    local rc=$?
    [ "$rc" -eq "$1" ] || { echo "exit code $rc, not $1"; return 1; }
}

run_boxes 0 closing-not-found confirmation || exit 1

mkdir -p "$(c_path Shared)"
chmod 0777 "$(c_path Shared)"
"$SAMPLE" make "$(c_path 'Shared/worm copy.exe')" 12000 F0BC4217 >/dev/null || exit 1
hold_file 'C:\Shared\worm copy.exe' || { echo "the copy could not be held"; exit 1; }
run_boxes 3 closing-errors || exit 1
kill "$HOLDER_PID" 2>/dev/null
wait "$HOLDER_PID" 2>/dev/null
rm -rf "$(c_path Shared)"

"$SAMPLE" make "$(c_path windows/temp/kurrelsv.exe)" 24576 2E30D733 >/dev/null || exit 1
wine reg add "$SHELL_KEY" /ve /d "$WORM_COMMAND" /f >/dev/null 2>&1
run_boxes 1 closing-removed || exit 1

"$SAMPLE" make "$(c_path windows/temp/kurrelsv.exe)" 24576 2E30D733 >/dev/null || exit 1
( while [ ! -e "$work/stop-writer" ]; do
      wine reg add "$SHELL_KEY" /ve /d "$WORM_COMMAND" /f >/dev/null 2>&1
      sleep 1
  done ) &
writer=$!
run_boxes 2 closing-infected || exit 1
