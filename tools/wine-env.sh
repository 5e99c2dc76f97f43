# Sourced by the project's scripts: where the build, the Wine prefix and the test
# display live, and how Wine runs. Each can be moved with an environment variable,
# so that several checkouts or developers can test side by side.
dirshift_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export DIRSHIFT_BUILD_DIR="${DIRSHIFT_BUILD_DIR:-$dirshift_root/build}"
export WINEPREFIX="${DIRSHIFT_WINEPREFIX:-$DIRSHIFT_BUILD_DIR/wine}"
# Wine's own errors stay on: a process that Wine fails to start then says why
# (its traces and "not implemented" notes stay off; they are noise).
export WINEDEBUG="${WINEDEBUG:--all,err+all}"
# Wine 8 maps the page that every Windows process shares with the system at a
# fixed address (0x7ffe0000). Debian's wine64 has no preloader to keep that address
# free, and Linux puts a program's heap anywhere in the gigabyte above wine64 (at
# 0x7d000000): now and then the heap lies there, and the new process dies before
# its first line ("failed to map the shared user data: c0000018"; a test program
# then ends with status 1 and no output, or its CreateProcess fails). Without
# address randomization the heap starts right after wine64, far below. Where the
# system refuses that (some containers), Wine runs as it is. Processes started by a
# Wine program inherit the setting.
if setarch "$(uname -m)" -R true 2>/dev/null; then
  dirshift_wine_launcher=(setarch "$(uname -m)" -R)
else
  dirshift_wine_launcher=()
fi
wine() {
  if [ "${#dirshift_wine_launcher[@]}" -gt 0 ]; then "${dirshift_wine_launcher[@]}" wine "$@"; else command wine "$@"; fi
}

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
#
# Wine starts the desktop from the first program that needs it, and explorer.exe
# inherits that program's standard error. Were that a test program, explorer.exe
# would hold CTest's output pipe of the test open for as long as the keeper holds the
# desktop, and CTest, which waits for the pipe to close, would report the test only
# at its timeout. So the keeper, started with no pipes, brings the desktop up, and
# no test program starts before it has.
dirshift_keeper_pid_file() { echo "$WINEPREFIX/desktop-keeper.pid"; }
dirshift_keeper_ready_file() { echo "$WINEPREFIX/desktop-keeper.ready"; }

dirshift_keeper_running() {
  local pid
  pid=$(cat "$(dirshift_keeper_pid_file)" 2>/dev/null) || return 1
  [ -n "$pid" ] && tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -q desktop_keeper
}

# dirshift_keep_desktop [RUNNER...]: starts the keeper unless it runs, through
# RUNNER when given (a command that runs the rest of its arguments, for example as
# another user), and waits until it holds the desktop. Fails, with no keeper left
# behind, when it cannot: without a holder Wine ends the desktop a second after its
# last program, so a test then costs time but never waits out its timeout.
dirshift_keep_desktop() {
  local keeper="$DIRSHIFT_BUILD_DIR/tests/desktop_keeper.exe" ready pid
  [ -f "$keeper" ] || return 0
  dirshift_keeper_running && return 0
  ready=$(dirshift_keeper_ready_file)
  rm -f "$ready"
  # Wine's drive Z: is the Linux root.
  "$@" "${dirshift_wine_launcher[@]}" wine "$keeper" "Z:${ready//\//\\}" </dev/null >/dev/null 2>&1 8>&- 9>&- &
  pid=$!
  echo "$pid" >"$(dirshift_keeper_pid_file)"
  for _ in $(seq 600); do
    [ -e "$ready" ] && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "wine-run: the desktop keeper of $WINEPREFIX did not start (no display?)" >&2
  dirshift_release_desktop
  return 1
}

dirshift_release_desktop() {
  if dirshift_keeper_running; then kill "$(cat "$(dirshift_keeper_pid_file)")" 2>/dev/null || true; fi
  rm -f "$(dirshift_keeper_pid_file)" "$(dirshift_keeper_ready_file)"
}

# A wineserver that is ended while a program of its prefix starts takes that
# program with it before it has run a line: the starting program finds no server,
# starts one, and the ending reaches the new one too, so the program exits with
# status 1 and not a word. Every program run through the test emulators holds
# this lock shared for its whole run (on descriptor 8, which the program itself
# and Wine's background processes must not inherit), and whoever ends the server
# holds it exclusive: a restart waits for the running programs to end, and no
# program starts while a restart runs.
dirshift_use_prefix() {
  mkdir -p "$WINEPREFIX"
  exec 8>>"$WINEPREFIX/wine-use.lock"
  flock -s 8
}

# dirshift_own_prefix SECONDS: the same lock, exclusive; false when programs of
# the prefix still run after SECONDS (left over from a test that failed), which
# ending the server then ends too.
dirshift_own_prefix() {
  mkdir -p "$WINEPREFIX"
  exec 8>>"$WINEPREFIX/wine-use.lock"
  flock -x -w "$1" 8
}

dirshift_release_prefix() {
  flock -u 8
  exec 8>&-
}

# Test programs that start at the same time (ctest -j) must not each start a
# wineserver or a keeper: the one that starts Wine's background processes holds
# this lock (on descriptor 9, which those processes must not inherit) meanwhile.
dirshift_lock_prefix() {
  mkdir -p "$WINEPREFIX"
  exec 9>>"$WINEPREFIX/wine-start.lock"
  flock 9
}

dirshift_unlock_prefix() {
  flock -u 9
  exec 9>&-
}
