#!/usr/bin/env bash
# Takes the README's screenshots of the real dirshift.exe: the start-up warning (a
# message box of the program), the relocation face and the junction manager.
# Each runs in a Wine virtual desktop on a private Xvfb (Wine then draws frames and
# captions as Windows does), in a Wine prefix of its own that starts fresh, as a
# first-time user's machine would. The pictures are trimmed to the windows.
# Usage: tools/screenshots.sh [output folder]   (default: resources/screenshots)
# Settings: DIRSHIFT_SHOTS_XVFB (display number, default 79), DIRSHIFT_SHOT_DELAY
# (seconds a window gets to open and paint, default 5), DIRSHIFT_SHOT_SCALE (the
# display scale in percent: 100, the default, 125, 150 or 200; other than 100 it
# sets the prefix's LogPixels and adds "-<scale>" to the pictures' names).
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
scale="${DIRSHIFT_SHOT_SCALE:-100}"
case "$scale" in
  100) suffix=""; desktop=1024x768 ;;
  125 | 150 | 200) suffix="-$scale"; desktop=1280x1024 ;;
  *) echo "DIRSHIFT_SHOT_SCALE: 100, 125, 150 or 200, not $scale" >&2; exit 2 ;;
esac

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
# A desktop colour that no window uses, so trimming stops exactly at the windows.
wine reg add 'HKCU\Control Panel\Colors' /v Background /t REG_SZ /d '58 110 165' /f >/dev/null 2>&1
# The display scale, as Windows' display settings set it.
dpi=$((scale * 96 / 100))
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
  /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
wineserver -w

DIRSHIFT_XVFB="${DIRSHIFT_SHOTS_XVFB:-79}"
unset DISPLAY
dirshift_start_xvfb

# Presses keys on the display through the XTest extension (Xvfb has it), with the
# pointer over the Wine desktop so the keys reach it. Each argument is an X key
# name (Return, Tab) or text:<characters> to type.
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
x11.XkbKeycodeToKeysym.restype = ctypes.c_ulong
x11.XkbKeycodeToKeysym.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int, ctypes.c_int]
x11.XFlush.argtypes = [ctypes.c_void_p]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the display")
names = {":": "colon", "\\": "backslash", " ": "space", ".": "period", "-": "minus", "_": "underscore"}
shift = x11.XKeysymToKeycode(display, x11.XStringToKeysym(b"Shift_L"))

def key(name):
    keysym = x11.XStringToKeysym(name.encode())
    code = x11.XKeysymToKeycode(display, keysym)
    shifted = x11.XkbKeycodeToKeysym(display, code, 0, 0) != keysym
    if shifted:
        xtst.XTestFakeKeyEvent(display, shift, 1, 0)
    xtst.XTestFakeKeyEvent(display, code, 1, 0)
    xtst.XTestFakeKeyEvent(display, code, 0, 0)
    if shifted:
        xtst.XTestFakeKeyEvent(display, shift, 0, 0)
    x11.XFlush(display)
    time.sleep(0.05)

xtst.XTestFakeMotionEvent(display, -1, 1000, 740, 0)
for argument in sys.argv[1:]:
    if argument.startswith("text:"):
        for c in argument[5:]:
            key(names.get(c, c))
    else:
        key(argument)
    time.sleep(0.2)
PY
}

# The desktop's plain background is trimmed away; a small margin stays.
shoot() {
  local name="${1%.png}$suffix.png"
  import -display "$DISPLAY" -window root "$WINEPREFIX/shot.miff"
  convert "$WINEPREFIX/shot.miff[0]" -crop "$desktop+0+0" +repage -trim +repage \
          -bordercolor white -border 12 "$out/$name"
  echo "screenshot: $out/$name"
}

start() {
  wine explorer "/desktop=Dirshift,$desktop" "$exe" "$@" >/dev/null 2>&1 &
  program=$!
  sleep "$delay"
}

# Ends the program with everything of this prefix's Wine (never the tests' prefix).
stop() {
  wineserver -k >/dev/null 2>&1 || true
  wait "$program" 2>/dev/null || true
}

# The NTFS test volumes of tools/ntfs-volume.sh, mapped into this prefix alone
# (N: real NTFS through ntfs-3g, M: a second letter on the same volume), so the
# relocation really runs and the manager finds a real junction.
volumes_dir="$DIRSHIFT_BUILD_DIR/screenshot-volumes"
volume() { DIRSHIFT_BUILD_DIR="$volumes_dir" DIRSHIFT_WINEPREFIX="$WINEPREFIX" "$here/ntfs-volume.sh" "$1"; }
trap 'wineserver -k >/dev/null 2>&1 || true; volume down >/dev/null 2>&1 || true' EXIT
volume up >/dev/null
mkdir -p "$volumes_dir/test-volumes/ntfs/Games/Steam/steamapps" "$volumes_dir/test-volumes/ntfs/Games/Saves"
head -c 300000 /dev/zero > "$volumes_dir/test-volumes/ntfs/Games/Steam/steamapps/game.pak"

# 1. The start-up warning, a message box of the program's own.
start 'N:\Games\Steam' /create
shoot startup-warning.png
# 2. Enter answers Yes; the relocation face opens for the folder. The new place
#    is typed into its second box (two tabs away), as a user would.
press Return
sleep "$delay"
press Tab Tab 'text:M:\Steam'
sleep 1
shoot relocation-dialog.png
# 3. Enter relocates: the files move to M:\Steam and N:\Games\Steam becomes a junction.
press Return
sleep "$delay"
shoot relocation-done.png
press Return
stop

# 4. The junction manager on N:\Games, once its scan has run.
start 'N:\Games'
press Return
sleep "$delay"
shoot junction-manager.png
stop
