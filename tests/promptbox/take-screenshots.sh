#!/usr/bin/env bash
# Screenshots of the message box next to the system's MessageBoxW with the same
# text, taken inside a Wine virtual desktop so both get real frames and captions.
# Our boxes are taken twice: as the program looks on Windows 7 and later (Wine's
# default version: the modern look) and on Windows XP (the classic look). Writes
# <build>/screenshots/*.png, each box cut out of the desktop, and side-by-side
# pictures. Usage: tests/promptbox/take-screenshots.sh
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=../../tools/wine-env.sh
. "$root/tools/wine-env.sh"
# shellcheck source=../../tools/display.sh
. "$root/tools/display.sh"
dirshift_have_display || dirshift_start_xvfb

cmake --build "$DIRSHIFT_BUILD_DIR" --target promptbox_showcase
exe="$DIRSHIFT_BUILD_DIR/tests/promptbox/promptbox_showcase.exe"
shots="$DIRSHIFT_BUILD_DIR/screenshots"
mkdir -p "$shots"
rm -f "$shots"/promptbox-*.bmp "$shots"/messagebox-*.bmp

# The explorer of a virtual desktop returns once the program in it has ended.
wine explorer /desktop=promptbox,1024x768 "$exe"
appkey='HKCU\Software\Wine\AppDefaults\promptbox_showcase.exe'
wine reg add "$appkey" /v Version /d winxp /f >/dev/null 2>&1
wine explorer /desktop=promptbox,1024x768 "$exe" classic
wine reg delete "$appkey" /f >/dev/null 2>&1

for bmp in "$shots"/promptbox-*.bmp "$shots"/messagebox-*.bmp; do
  [ -f "$bmp" ] || continue
  # The desktop around the box is one colour: trimming it leaves the box.
  convert "$bmp" -bordercolor "$(convert "$bmp" -format '%[pixel:p{0,0}]' info:)" -border 1 \
          -fuzz 1% -trim +repage "${bmp%.bmp}.png"
done
side_by_side() {  # output, pictures...
  local out=$1; shift
  for f in "$@"; do [ -f "$f" ] || return 0; done
  convert "$@" -background white -splice 20x0 -gravity north +append "$out"
}
for pair in yesnocancel ok; do
  side_by_side "$shots/side-by-side-$pair.png" "$shots/promptbox-$pair.png" \
               "$shots/promptbox-$pair-classic.png" "$shots/messagebox-$pair.png"
done
ls -1 "$shots"/*.png
