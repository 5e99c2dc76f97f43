#!/usr/bin/env bash
# Takes the README's screenshots of the real dirshift.exe: the start-up warning (a
# message box of the program), the relocation face and the junction manager.
# Each runs in a Wine virtual desktop on a private Xvfb (Wine then draws frames and
# captions as Windows does), in a Wine prefix of its own that starts fresh, as a
# first-time user's machine would. The pictures are trimmed to the windows.
# Usage: tools/screenshots.sh [output folder]   (default: resources/screenshots)
# Settings: DIRSHIFT_SHOTS_XVFB (display number, default 79), DIRSHIFT_SHOT_DELAY
# (seconds a window gets to open and paint, default 5).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
out=$(mkdir -p "${1:-$root/resources/screenshots}" && cd "${1:-$root/resources/screenshots}" && pwd)

"$here/setup.sh" >&2
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
# shellcheck source=display.sh
. "$here/display.sh"
exe="$DIRSHIFT_BUILD_DIR/dirshift.exe"
delay="${DIRSHIFT_SHOT_DELAY:-5}"

# A prefix of its own: no remembered answers, so the warning shows as it does the
# first time; and the tests' prefix and its wineserver are never touched.
export WINEPREFIX="$DIRSHIFT_BUILD_DIR/wine-screenshots"
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
wineserver -w
# Caption buttons are drawn with Marlett, which Wine 8 only finds in the prefix.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true

DIRSHIFT_XVFB="${DIRSHIFT_SHOTS_XVFB:-79}"
unset DISPLAY
dirshift_start_xvfb

# Presses keys on the display through the XTest extension (Xvfb has it), with the
# pointer over the Wine desktop so the keys reach it. Names are X key names.
press() {
  python3 - "$@" <<'PY'
import ctypes, sys, time
x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
xtst = ctypes.cdll.LoadLibrary("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.restype = ctypes.c_ubyte
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XFlush.argtypes = [ctypes.c_void_p]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the display")
xtst.XTestFakeMotionEvent(display, -1, 1000, 740, 0)
for name in sys.argv[1:]:
    code = x11.XKeysymToKeycode(display, x11.XStringToKeysym(name.encode()))
    xtst.XTestFakeKeyEvent(display, code, 1, 0)
    xtst.XTestFakeKeyEvent(display, code, 0, 0)
    x11.XFlush(display)
    time.sleep(0.2)
PY
}

# The desktop's plain background is trimmed away; a small margin stays.
shoot() {
  import -display "$DISPLAY" -window root -crop 1024x768+0+0 +repage \
         -trim +repage -bordercolor white -border 12 "$out/$1"
  echo "screenshot: $out/$1"
}

start() {
  wine explorer /desktop=Dirshift,1024x768 "$exe" "$@" >/dev/null 2>&1 &
  sleep "$delay"
}

stop() {
  wineserver -k >/dev/null 2>&1 || true
  wait 2>/dev/null || true
}

# A folder with two junctions for the manager to find. Wine shows a Unix symbolic
# link to a folder as a junction (a directory with a reparse point).
demo="$WINEPREFIX/drive_c/users/Public/Games"
mkdir -p "$demo/Library" "$WINEPREFIX/drive_c/Archive/Steam" "$WINEPREFIX/drive_c/Archive/Saved Games"
ln -sfn "$WINEPREFIX/drive_c/Archive/Steam" "$demo/Steam"
ln -sfn "$WINEPREFIX/drive_c/Archive/Saved Games" "$demo/Saved Games"

# 1. The start-up warning, then (Enter answers Yes) the relocation face.
start 'C:\users\Public\Documents' /create
shoot startup-warning.png
press Return
sleep "$delay"
shoot relocation-dialog.png
stop

# 2. The junction manager on the demo folder, once its scan has run.
start 'C:\users\Public\Games'
press Return
sleep "$delay"
shoot junction-manager.png
stop
