#!/usr/bin/env bash
# Takes the README's screenshots of the real dirshift.exe: the start-up warning (a
# message box of the program), the relocation face and the junction manager.
# Each runs in a Wine virtual desktop on a private Xvfb (Wine then draws frames and
# captions as Windows does), in a Wine prefix of its own that starts fresh, as a
# first-time user's machine would. The pictures are trimmed to the windows.
# Usage: tools/screenshots.sh [output folder]   (default: resources/screenshots)
# Each picture is taken once its window is on the screen and has had a moment to
# paint (tools/desktop.sh).
# Settings: DIRSHIFT_SHOTS_XVFB (display number, default 79), DIRSHIFT_SHOT_SETTLE
# (seconds a window gets to paint, default 1), DIRSHIFT_SHOT_SCALE (the display
# scale in percent: 100, the default, 125, 150 or 200; other than 100 it sets the
# prefix's LogPixels, widens the desktop and adds "-<scale>" to the names).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
out=$(mkdir -p "${1:-$root/resources/screenshots}" && cd "${1:-$root/resources/screenshots}" && pwd)

"$here/setup.sh" >&2
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
# shellcheck source=display.sh
. "$here/display.sh"
# shellcheck source=desktop.sh
. "$here/desktop.sh"
exe="$DIRSHIFT_BUILD_DIR/dirshift.exe"
scale="${DIRSHIFT_SHOT_SCALE:-100}"
case "$scale" in
  100) suffix="" ;;
  125 | 150 | 200) suffix="-$scale"; dirshift_desktop_size=1280x1024 ;;
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

shoot() {
  local name="${1%.png}$suffix.png"
  dirshift_shoot "$out/$name"
  echo "screenshot: $out/$name"
}

# Waits for a window by its caption, then for it to paint.
await() {
  dirshift_wait "${2:-60}" dirshift_window_shown "$1" || { echo "screenshots: no window \"$1\"" >&2; exit 1; }
  dirshift_settle
}

# The NTFS test volumes of tools/ntfs-volume.sh, mapped into this prefix alone
# (N: real NTFS through ntfs-3g, M: a second letter on the same volume), so the
# relocation really runs and the manager finds a real junction.
volumes_dir="$DIRSHIFT_BUILD_DIR/screenshot-volumes"
volume() { DIRSHIFT_BUILD_DIR="$volumes_dir" DIRSHIFT_WINEPREFIX="$WINEPREFIX" "$here/ntfs-volume.sh" "$1"; }
trap 'dirshift_desktop_stop 0; volume down >/dev/null 2>&1 || true; dirshift_stop_xvfb' EXIT
volume up >/dev/null
mkdir -p "$volumes_dir/test-volumes/ntfs/Games/Steam/steamapps" "$volumes_dir/test-volumes/ntfs/Games/Saves"
head -c 300000 /dev/zero > "$volumes_dir/test-volumes/ntfs/Games/Steam/steamapps/game.pak"

# 1. The start-up warning, a message box of the program's own.
dirshift_desktop_start "$exe" 'N:\Games\Steam' /create
await "$dirshift_caption_message"
shoot startup-warning.png
# 2. Enter answers Yes; the relocation face opens for the folder. The new place
#    is typed into its second box (two tabs away), as a user would.
dirshift_press Return
await "$dirshift_caption_relocation"
dirshift_press Tab Tab 'text:M:\Steam'
dirshift_settle
shoot relocation-dialog.png
# 3. Enter relocates: the files move to M:\Steam and N:\Games\Steam becomes a junction.
dirshift_press Return
await "$dirshift_caption_message"
shoot relocation-done.png
dirshift_press Return
dirshift_desktop_stop 15

# 4. The junction manager on N:\Games, once its scan has run.
dirshift_desktop_start "$exe" 'N:\Games'
await "$dirshift_caption_message"
dirshift_press Return
await "$dirshift_caption_manager" 20
sleep 2
shoot junction-manager.png
dirshift_desktop_stop 0
