#!/usr/bin/env bash
# Takes the README's screenshots of the real dirshift.exe: the start-up warning (a
# message box of the program), the relocation face and the junction manager; the
# check of every file while it runs and once cancelled; moving files back from the
# manager (the junction selected, the question, the result); "/restore" on a folder
# that is no junction; and the question at the start after a relocation that was
# cut short (made by the tests' build of the program, which stops itself dead).
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
games="$volumes_dir/test-volumes/ntfs/Games"
mkdir -p "$games/Steam/steamapps" "$games/Saves"
head -c 300000 /dev/zero > "$games/Steam/steamapps/game.pak"
for slot in 1 2 3; do echo "save $slot" > "$games/Saves/slot$slot.sav"; done
# A library large enough that checking every file takes seconds.
for shelf in $(seq -w 1 24); do
  mkdir -p "$games/Library/Shelf $shelf"
  (cd "$games/Library/Shelf $shelf" && for book in $(seq -w 1 500); do echo "$shelf $book" > "Book $book.txt"; done)
done

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
# 5. The junction's row selected (the list is two tab stops after OK, which has the
#    focus, and Home selects its first row), which enables "Move files back...".
dirshift_press Tab Tab Home
dirshift_settle
shoot move-back-selected.png
# 6. Its access key asks first, naming both folders and the size.
dirshift_press Alt_L+b
await "$dirshift_caption_message"
shoot move-back-question.png
# 7. Yes: the files come back, the junction and the emptied folder go.
dirshift_press Alt_L+y
sleep 2
await "$dirshift_caption_message"
shoot move-back-done.png
dirshift_press Return
sleep 1
dirshift_press Escape
dirshift_desktop_stop 15

# 8. The check of every file of N:\Games\Library while it runs, and once Esc has
#    cancelled it: nothing changed, the dialog stays for another try.
dirshift_desktop_start "$exe" 'N:\Games\Library' /create
await "$dirshift_caption_message"
dirshift_press Return
await "$dirshift_caption_relocation"
dirshift_press Tab Tab 'text:M:\Library' Return
sleep 0.7
shoot scan-running.png
dirshift_press Escape
dirshift_settle
if dirshift_window_shown "$dirshift_caption_message"; then
  echo "screenshots: the check of N:\Games\Library ended before Esc; no picture of a cancelled check" >&2
  exit 1
fi
shoot scan-cancelled.png
dirshift_press Escape
dirshift_desktop_stop 15

# 9. "/restore" on a folder that is no junction: told so, nothing changes.
dirshift_desktop_start "$exe" 'N:\Games\Saves' /restore
await "$dirshift_caption_message"
dirshift_press Return
sleep 1
await "$dirshift_caption_message"
shoot restore-not-junction.png
dirshift_press Return
dirshift_desktop_stop 15

# 10. A relocation of N:\Games\Saves stopped dead half-way by the tests' build of
#     the program (as a crash would); the next start offers to finish it or move
#     it back.
stopping_exe="$DIRSHIFT_BUILD_DIR/tests/relocate/stopping/dirshift.exe"
if [ -f "$stopping_exe" ]; then
  DIRSHIFT_TEST_STOP_AT=moving-partly dirshift_desktop_start "$stopping_exe" 'N:\Games\Saves' /create
  await "$dirshift_caption_message"
  dirshift_press Return
  await "$dirshift_caption_relocation"
  dirshift_press Tab Tab 'text:M:\Saves' Return
  dirshift_desktop_stop 15
  dirshift_desktop_start "$exe" 'N:\Games'
  await "$dirshift_caption_message"
  dirshift_press Return
  sleep 1
  await "$dirshift_caption_message"
  shoot recovery-question.png
  dirshift_desktop_stop 0
else
  echo "screenshots: $stopping_exe is not built; no picture of the question after a stop" >&2
fi
