#!/usr/bin/env bash
# A program run through a test emulator (tools/wine-run, tools/wine-run-user) leaves
# nothing behind that holds its output open. CTest waits for a test's output pipe
# to close, not for the program: a Wine background process that inherited the pipe,
# such as the desktop's explorer.exe that Wine starts from the first program that
# needs a desktop, would make a passed test wait out its timeout.
#
# Each round starts with no desktop in the prefix (its keeper ended and the desktop
# gone with it, as at the start of a run), runs a program that opens a window, with
# its output on a pipe, and then looks for any process that still holds that pipe.
#
# Usage: wine_run_test.sh EMULATOR PROGRAM [PREFIX]
# PREFIX is the emulator's Wine prefix, by default the tests' (tools/wine-env.sh).
# Needs a display (tools/test.sh gives one) and DIRSHIFT_BUILD_DIR.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../tools/wine-env.sh
. "$here/../../tools/wine-env.sh"
emulator=$1
program=$2
export WINEPREFIX="${3:-$WINEPREFIX}"
rounds=3
[ -n "${DISPLAY:-}" ] || { echo "FAIL: no display (run through tools/test.sh)"; exit 1; }

work=$(mktemp -d)
reader=
cleanup() {
  # A failed round leaves the pipe held by the desktop: ending the keeper ends it.
  [ -z "$reader" ] || { dirshift_release_desktop; wait "$reader" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

# The process ids of this prefix's desktop (explorer.exe /desktop).
desktop_pids() {
  local file pid
  for file in $(grep -lsF 'explorer.exe' /proc/[0-9]*/cmdline); do
    pid=${file#/proc/}
    pid=${pid%/cmdline}
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
  return 0
}

# The processes, other than $1, that have the file $2 open, one a line: id and command.
holders() {
  local fd pid
  for fd in $(find /proc/[0-9]*/fd -lname "$2" 2>/dev/null); do
    pid=${fd#/proc/}
    pid=${pid%%/*}
    [ "$pid" != "$1" ] || continue
    echo "$pid $(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline")"
  done | sort -u
}

failures=0
for round in $(seq "$rounds"); do
  dirshift_release_desktop
  for _ in $(seq 100); do
    [ -z "$(desktop_pids)" ] && break
    sleep 0.1
  done
  if [ -n "$(desktop_pids)" ]; then
    echo "FAIL: round $round: the desktop of $WINEPREFIX did not end without its keeper"
    exit 1
  fi

  pipe="$work/output-$round"
  mkfifo "$pipe"
  cat "$pipe" >"$work/output-$round.txt" &
  reader=$!
  status=0
  "$emulator" "$program" >"$pipe" 2>&1 </dev/null || status=$?
  held=$(holders "$reader" "$pipe")
  if [ -n "$held" ]; then
    echo "FAIL: round $round: the program has ended, and its output is still held open by:"
    echo "$held"
    dirshift_release_desktop
  fi
  wait "$reader" || true
  reader=
  if [ -n "$held" ]; then
    failures=$((failures + 1))
    continue
  fi
  if [ "$status" -ne 0 ] || ! grep -q 'a window opened and closed' "$work/output-$round.txt"; then
    echo "FAIL: round $round: the program ended with $status:"
    cat "$work/output-$round.txt"
    failures=$((failures + 1))
    continue
  fi
  if ! dirshift_keeper_running; then
    echo "FAIL: round $round: no keeper holds the desktop after the program, whose output was:"
    cat "$work/output-$round.txt"
    failures=$((failures + 1))
    continue
  fi
  echo "ok: round $round: started with no desktop; once the program ended, nothing held its output"
done
exit $((failures > 0))
