#!/usr/bin/env bash
# Runs the display-scale test program (its path is the first argument) at 96, 120,
# 144 and 192 DPI, in a Wine prefix of its own whose LogPixels it sets before each
# run, 96 first: that run writes the message boxes that the others compare with.
# The build's shared prefix, where every other test expects 96 DPI, is never
# changed; this prefix starts as a copy of it and is kept for later runs.
set -euo pipefail
exe=$1
shift
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../tools/wine-env.sh
. "$here/../../tools/wine-env.sh"
# shellcheck source=../../tools/display.sh
. "$here/../../tools/display.sh"
dirshift_have_display || dirshift_start_xvfb

shared=$WINEPREFIX
export WINEPREFIX="$DIRSHIFT_BUILD_DIR/wine-scales"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  rm -rf "$WINEPREFIX.new"
  cp -a "$shared" "$WINEPREFIX.new"
  rm -f "$WINEPREFIX.new/desktop-keeper.pid"
  mv "$WINEPREFIX.new" "$WINEPREFIX"
fi
# Ends this prefix's Wine only (its own wineserver), however the script ends.
trap 'wineserver -k >/dev/null 2>&1 || true; dirshift_stop_xvfb' EXIT

set_scale() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}

baseline="$DIRSHIFT_BUILD_DIR/screenshots/scale-boxes.txt"
mkdir -p "$(dirname "$baseline")"
rm -f "$baseline"
status=0
for dpi in 96 120 144 192; do
  echo "== $dpi DPI"
  set_scale "$dpi"
  DIRSHIFT_EXPECTED_DPI=$dpi DIRSHIFT_SCALE_BASELINE="Z:${baseline//\//\\}" \
    wine "$exe" --gtest_color=no "$@" </dev/null || status=1
  if [ "$dpi" = 96 ] && [ ! -s "$baseline" ]; then
    echo "the 96-DPI run wrote no message boxes to compare with" >&2
    status=1
  fi
done
set_scale 96
exit $status
