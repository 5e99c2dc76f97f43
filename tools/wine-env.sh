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

# Wine ends a prefix's desktop (explorer.exe) a second after the last program with
# windows ends, and the next program waits about a second for a new one. Between
# test programs that second would be paid every time, so a hidden window of
# tests/desktop_keeper.exe holds the desktop open. It is started again when the
# prefix's wineserver was ended (the test volumes do that).
dirshift_keeper_pid_file() { echo "$WINEPREFIX/desktop-keeper.pid"; }

dirshift_keeper_running() {
  local pid
  pid=$(cat "$(dirshift_keeper_pid_file)" 2>/dev/null) || return 1
  [ -n "$pid" ] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q desktop_keeper
}

dirshift_keep_desktop() {
  local keeper="$DIRSHIFT_BUILD_DIR/tests/desktop_keeper.exe"
  [ -f "$keeper" ] || return 0
  dirshift_keeper_running && return 0
  wine "$keeper" </dev/null >/dev/null 2>&1 &
  echo $! >"$(dirshift_keeper_pid_file)"
}

dirshift_release_desktop() {
  if dirshift_keeper_running; then kill "$(cat "$(dirshift_keeper_pid_file)")" 2>/dev/null || true; fi
  rm -f "$(dirshift_keeper_pid_file)"
}
