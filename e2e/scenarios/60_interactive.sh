#!/usr/bin/env bash
# The run an administrator sees: Kurrelfix.exe without switches, under Wine on
# a virtual display. The confirmation box is found by its caption, captured
# and answered with a key: Escape (Cancel) ends the tool with 0 before
# anything is logged; Return (OK) lets the run go on to the closing box,
# which is captured and answered with Return too, and the tool exits with 0
# on this clean prefix. The screenshots go to a folder of the scenario's own,
# or to $KURRELFIX_SCREENSHOTS when that is set (docs/screenshots holds the
# ones the README shows).
#
# The third box, the one asking for administrator rights, cannot be shown
# here: Wine's process token is always an administrator's. The host tests
# show it on the simulated workstation.
#
# Builds: the shipped build, except where 32-bit Wine runs through qemu-user
# without the 32-bit X libraries that its display driver needs (the files that
# scripts/setup.sh unpacks bring none): there no 32-bit program can draw a
# box, and the boxes are the 64-bit build's.
set -uo pipefail
source "$(dirname "$0")/../lib.sh"

if [ "$E2E_WINE_KIND" = qemu ] && [ ! -e /usr/lib/i386-linux-gnu/libX11.so.6 ]; then
    use_build native "no 32-bit X library here for the boxes of a 32-bit program"
fi

CAPTION='Veltrane Kurrel Worm Removal Tool'
for tool in Xvfb xdotool import identify; do
    command -v "$tool" >/dev/null || { echo "  FAIL missing $tool (scripts/setup.sh installs it)"; exit 1; }
done
[ -e "$KURRELFIX_EXE" ] || { echo "  FAIL missing $KURRELFIX_EXE"; exit 1; }

work="$(mktemp -d)"
shots="${KURRELFIX_SCREENSHOTS:-$work/screenshots}"
mkdir -p "$shots"
xvfb_pid=""
stop_all() {
    end_prefix
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}

# A virtual display of our own; Xvfb picks a free number and tells it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
trap stop_all EXIT
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
if [ ! -s "$work/display" ]; then
    echo "  FAIL Xvfb did not start"
    stop_all
    exit 1
fi
export DISPLAY=":$(head -n 1 "$work/display")"

new_prefix
trap stop_all EXIT
# No window manager runs on the virtual display. Unmanaged, Wine draws each
# window's caption and frame itself, as Windows does, so the screenshots
# show the caption the administrator reads.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -w
mkdir -p "$(c_path Tools)"
cp "$KURRELFIX_EXE" "$(c_path Tools/Kurrelfix.exe)"

# The X windows that carry the caption, exactly.
caption_windows() { xdotool search --name "^${CAPTION}\$" 2>/dev/null; }

# wait_box OLD: waits (up to 120 s) for a window with the caption other than
# OLD, while the tool still runs; prints its id.
wait_box() {
    local id
    for _ in $(seq 1 600); do
        id="$(caption_windows | grep -vx "${1:-none}" | head -n 1)"
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        kill -0 "$tool_pid" 2>/dev/null || return 1
        sleep 0.2
    done
    return 1
}

# capture ID NAME: a screenshot of the box, once Wine has drawn it.
capture() {
    sleep 1
    import -window "$1" "$shots/$2.png" 2>/dev/null
}

# A picture of a box: a PNG at least the size of a small box, with more
# than a handful of colours (an undrawn or black window has one or two).
is_box_picture() {
    local info
    info="$(identify -format '%m %w %h %k' "$1" 2>/dev/null)" || return 1
    read -r format width height colours <<<"$info"
    [ "$format" = PNG ] && [ "$width" -ge 200 ] && [ "$height" -ge 80 ] && [ "$colours" -ge 8 ]
}

# answer ID KEY: gives the box the keyboard and presses the key.
answer() {
    xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool key --clearmodifiers "$2"
}

# wait_tool: the tool's exit code, or 124 when it has not ended within 120 s.
wait_tool() {
    for _ in $(seq 1 600); do
        kill -0 "$tool_pid" 2>/dev/null || { wait "$tool_pid"; return; }
        sleep 0.2
    done
    return 124
}

start_tool() {
    (cd "$WINEPREFIX/drive_c" && exec wine 'C:\Tools\Kurrelfix.exe' >"$work/console.txt" 2>/dev/null) &
    tool_pid=$!
}

echo "  -- Cancel"
start_tool
box="$(wait_box)"
check "the confirmation box appears, captioned \"$CAPTION\"" [ -n "$box" ]
check "the tool waits while the box is up" kill -0 "$tool_pid"
capture "$box" confirmation-cancelled
check "the screenshot shows a box" is_box_picture "$shots/confirmation-cancelled.png"
answer "$box" Escape
wait_tool
rc=$?
check "Cancel: exit code 0" [ "$rc" -eq 0 ]
check "Cancel: no Kurrelfix.log" [ ! -e "$(log_file)" ]
check "Cancel: nothing on the console" [ ! -s "$work/console.txt" ]
check "Cancel: no box is left" [ -z "$(caption_windows)" ]

echo "  -- OK"
start_tool
box="$(wait_box)"
check "the confirmation box appears again" [ -n "$box" ]
capture "$box" confirmation
check "the screenshot shows a box" is_box_picture "$shots/confirmation.png"
answer "$box" Return
closing="$(wait_box "$box")"
check "after OK the closing box appears, captioned \"$CAPTION\"" [ -n "$closing" ]
check "the tool waits while the closing box is up" kill -0 "$tool_pid"
check "the confirmation box is gone" bash -c "! xdotool search --name '^${CAPTION}\$' 2>/dev/null | grep -qx '$box'"
capture "$closing" closing-not-found
check "the screenshot shows a box" is_box_picture "$shots/closing-not-found.png"
check "the two screenshots differ" \
    [ "$(identify -format '%#' "$shots/confirmation.png")" != "$(identify -format '%#' "$shots/closing-not-found.png")" ]
answer "$closing" Return
wait_tool
rc=$?
log="$(log_file)"
console="$(tr -d '\r' <"$work/console.txt")"
check "OK: exit code 0 on a clean prefix" [ "$rc" -eq 0 ]
check "OK: the console starts with the version line" [ "$(head -n 1 <<<"$console")" = "$E2E_VERSION_LINE" ]
check "OK: the console ends with the exit code line" [ "$(tail -n 1 <<<"$console")" = "Kurrelfix tool exit code: 0" ]
check "OK: the log starts with the version line" [ "$(head -n 1 "$log" 2>/dev/null)" = "$E2E_VERSION_LINE"$'\r' ]
check "OK: the log ends with the exit code line" [ "$(tail -n 1 "$log" 2>/dev/null)" = $'Kurrelfix tool exit code: 0\r' ]
check "OK: no box is left" [ -z "$(caption_windows)" ]
echo "  screenshots: $(cd "$shots" && ls *.png | tr '\n' ' ')"
finish
