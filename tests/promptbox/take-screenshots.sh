#!/usr/bin/env bash
# Screenshots of the message box next to the system's MessageBoxW with the same
# text, taken inside a Wine virtual desktop so both get real frames and captions.
# Writes <build>/screenshots/*.png, each box cut out of the desktop, and one
# side-by-side picture per pair. Usage: tests/promptbox/take-screenshots.sh
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=../../tools/wine-env.sh
. "$root/tools/wine-env.sh"
# shellcheck source=../../tools/display.sh
. "$root/tools/display.sh"
dirshift_have_display || dirshift_start_xvfb

cmake --build "$DIRSHIFT_BUILD_DIR" --target promptbox_showcase
shots="$DIRSHIFT_BUILD_DIR/screenshots"
mkdir -p "$shots"
rm -f "$shots"/promptbox-*.bmp "$shots"/messagebox-*.bmp

wine explorer /desktop=promptbox,1024x768 "$DIRSHIFT_BUILD_DIR/tests/promptbox/promptbox_showcase.exe"
wineserver -w 2>/dev/null || true

for bmp in "$shots"/promptbox-*.bmp "$shots"/messagebox-*.bmp; do
  [ -f "$bmp" ] || continue
  # The desktop around the box is one colour: trimming it leaves the box.
  convert "$bmp" -bordercolor "$(convert "$bmp" -format '%[pixel:p{0,0}]' info:)" -border 1 \
          -fuzz 1% -trim +repage "${bmp%.bmp}.png"
done
for pair in yesnocancel ok; do
  if [ -f "$shots/promptbox-$pair.png" ] && [ -f "$shots/messagebox-$pair.png" ]; then
    convert "$shots/promptbox-$pair.png" "$shots/messagebox-$pair.png" -background white -splice 20x0 \
            -gravity north +append "$shots/side-by-side-$pair.png"
  fi
done
ls -1 "$shots"/*.png
