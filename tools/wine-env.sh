# Sourced by the project's scripts: where the build, the Wine prefix and the test
# display live, and how Wine runs. Each can be moved with an environment variable,
# so that several checkouts or developers can test side by side.
dirshift_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export DIRSHIFT_BUILD_DIR="${DIRSHIFT_BUILD_DIR:-$dirshift_root/build}"
export WINEPREFIX="${DIRSHIFT_WINEPREFIX:-$DIRSHIFT_BUILD_DIR/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs on a fresh prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64

# True while a wineserver runs for this prefix: its socket lies in a folder named
# after the prefix's device and inode (under /tmp/.wine-<uid>, or /tmp/wine-* on Debian).
dirshift_wineserver_running() {
  [ -d "$WINEPREFIX" ] || return 1
  local server_dir socket
  server_dir="server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"
  for socket in /tmp/.wine-"$(id -u)"/"$server_dir"/socket /tmp/wine-*/"$server_dir"/socket; do
    [ -S "$socket" ] && [ -O "$socket" ] && return 0
  done
  return 1
}
