#!/usr/bin/env bash
# Builds Dirshift and its tests and runs every test under Wine, on a private Xvfb.
# Extra arguments go to ctest (for example: tools/test.sh -R Junction).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)

"$here/setup.sh"
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
# shellcheck source=display.sh
. "$here/display.sh"

# Tests always get their own display, so they never pop up on a developer's desktop.
unset DISPLAY
dirshift_start_xvfb
# A resident wineserver makes each test process start in a fraction of a second;
# Wine's background processes start here, detached from CTest's output pipes.
wineserver -p </dev/null >/dev/null 2>&1 || true
wine wineboot </dev/null >/dev/null 2>&1 || true
# Xvfb has no window manager: Wine then waits two seconds for every managed window
# to be withdrawn when it closes. Unmanaged windows close at once.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true

# tools/wine-run and tools/wine-run-user start a holder of Wine's desktop in their
# prefixes for the tests; both end with the run.
release_desktops() {
  dirshift_release_desktop
  WINEPREFIX="$DIRSHIFT_BUILD_DIR/wine-user" dirshift_release_desktop
}
trap release_desktops EXIT

cd "$DIRSHIFT_BUILD_DIR"
ctest --output-on-failure --timeout 300 "$@"
