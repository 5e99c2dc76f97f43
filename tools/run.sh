#!/usr/bin/env bash
# Runs Dirshift under Wine, building it first when needed. Arguments go to the
# program unchanged (for example: tools/run.sh 'C:\Games' /create).
# With a working $DISPLAY the program opens there and this script returns its exit
# code. Without one it runs on a private Xvfb inside a Wine desktop, saves a
# screenshot of what the user would see, prints the screenshot's path, and stops it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)

# The program runs in a Wine prefix of its own: the tests' prefix holds the answers
# and settings that the tests store, and the user must see a first start as a
# first start.
build_dir="${DIRSHIFT_BUILD_DIR:-$root/build}"
export DIRSHIFT_WINEPREFIX="${DIRSHIFT_WINEPREFIX:-$build_dir/wine-app}"
"$here/setup.sh" >&2
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
# shellcheck source=display.sh
. "$here/display.sh"
exe="$DIRSHIFT_BUILD_DIR/dirshift.exe"

if dirshift_have_display; then
  set +e
  wine "$exe" "$@"
  code=$?
  set -e
  exit $code
fi

dirshift_start_xvfb
shots="$DIRSHIFT_BUILD_DIR/screenshots"
mkdir -p "$shots"
shot="$shots/run-$(date +%Y%m%d-%H%M%S).png"
# A Wine desktop draws window frames and captions, which a bare Xvfb lacks.
wine explorer /desktop=Dirshift,1024x768 "$exe" "$@" >/dev/null 2>&1 &
program=$!
# Give Wine time to start and the first window time to paint.
sleep "${DIRSHIFT_SHOT_DELAY:-6}"
import -display "$DISPLAY" -window root -crop 1024x768+0+0 +repage "$shot"
wineserver -k >/dev/null 2>&1 || true
wait "$program" 2>/dev/null || true
echo "No display: Dirshift ran under Xvfb. Screenshot: $shot"
