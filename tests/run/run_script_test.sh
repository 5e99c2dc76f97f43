#!/usr/bin/env bash
# Tests of tools/run.sh, the README's first command, as a new user meets it: from a
# fresh build folder of its own (its own Wine prefix, NTFS volume and display, so
# the tests' volume is never touched), without a display unless a step gives one.
# Every result is read from Linux: the junction's bytes, every file's checksum.
#
# Usage: run_script_test.sh first-run|second-run|with-display|reset|unmount
# The steps run in that order on one build folder (CTest orders them): first-run
# starts from nothing, unmount leaves nothing mounted.
# Settings: DIRSHIFT_RUN_TEST_DIR (the folder to work in, required), DIRSHIFT_XVFB
# (the run uses display number +100, the "user's display" of with-display +101).
# shellcheck disable=SC2317 # the checks are functions called through check()
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
run="$root/tools/run.sh"

top=${DIRSHIFT_RUN_TEST_DIR:?DIRSHIFT_RUN_TEST_DIR names the folder to work in}
export DIRSHIFT_BUILD_DIR="$top/build"
unset DIRSHIFT_WINEPREFIX WINEPREFIX DISPLAY
base=${DIRSHIFT_XVFB:-77}
export DIRSHIFT_RUN_XVFB=$((base + 100))
user_display=$((base + 101))

mount_dir="$DIRSHIFT_BUILD_DIR/run-volume/mnt"
manifest="$DIRSHIFT_BUILD_DIR/run-volume/sample.sha256"
folders="$DIRSHIFT_BUILD_DIR/run-volume/sample.folders"
prefix="$DIRSHIFT_BUILD_DIR/wine-app"
sample="$mount_dir/Games/Sample"
moved="$mount_dir/Drive E/Sample"
logs="$top/logs"

failures=0
pass() { echo "ok: $1"; }
flunk() { echo "FAIL: $1"; failures=$((failures + 1)); }
# check DESCRIPTION COMMAND...: one expectation; the step goes on after a failure.
check() {
  local description=$1
  shift
  if "$@"; then pass "$description"; else flunk "$description"; fi
}
finish() {
  if [ "$failures" -eq 0 ]; then echo "all checks passed"; exit 0; fi
  echo "$failures check(s) failed"
  exit 1
}

# run_script NAME ARGUMENTS...: runs tools/run.sh, its output kept in $logs/NAME.*;
# leaves its exit code in `status`.
run_script() {
  local name=$1
  shift
  mkdir -p "$logs"
  set +e
  "$run" "$@" >"$logs/$name.out" 2>"$logs/$name.err" </dev/null
  status=$?
  set -e
  echo "--- tools/run.sh $* (exit $status):"
  cat "$logs/$name.out"
  if [ "$status" -ne 0 ]; then
    echo "--- its errors (last lines):"
    tail -20 "$logs/$name.err"
  fi
}

output_says() { grep -qF -- "$2" "$logs/$1.out"; }

# The reparse data that a junction to `target` must carry on disk: a mount point
# (0xA0000003) with the substitute name "\??\<target>" and an empty print name.
expected_junction_hex() {
  local name length
  name=$(printf '%s' "\\??\\$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -d ' \n')
  length=$((${#name} / 2))
  printf '030000a0%s0000' "$(le16 $((length + 12)))"
  printf '0000%s%s0000' "$(le16 "$length")" "$(le16 $((length + 2)))"
  printf '%s00000000' "$name"
}
le16() { printf '%02x%02x' $(($1 & 255)) $(($1 >> 8)); }

junction_hex() {
  getfattr -h --only-values -n system.ntfs_reparse_data "$1" 2>/dev/null | od -An -v -tx1 | tr -d ' \n'
}

# A tree's files and their SHA-256, in the manifest's form.
checksums_of() {
  (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum)
}
folders_of() {
  (cd "$1" && find . -mindepth 1 -type d | LC_ALL=C sort)
}

same_text() { [ "$1" = "$2" ]; }
is_junction_to() { [ -L "$1" ] && [ "$(junction_hex "$1")" = "$(expected_junction_hex "$2")" ]; }
is_plain_folder() { [ -d "$1" ] && [ ! -L "$1" ] && [ -z "$(junction_hex "$1")" ]; }

# The sample that the script made is what its README promises: nested folders, a
# few hundred files, a few megabytes, names with spaces and letters beyond ASCII.
sample_as_promised() {
  local files bytes
  files=$(wc -l <"$manifest")
  bytes=$(cd "$1" && find . -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  [ "$files" -ge 200 ] && [ "$files" -le 1000 ] && [ "$bytes" -ge 2000000 ] && [ "$bytes" -le 20000000 ] &&
    grep -q ' \./[^ ]* ' "$manifest" && LC_ALL=C grep -q $'[\x80-\xff]' "$manifest" &&
    awk -F/ 'NF >= 5 { found = 1 } END { exit !found }' "$manifest"
}

# Everything of the sample is in `folder`, read from Linux: the same files with
# the same checksums as when it was made, nothing more, and every folder.
holds_whole_sample() {
  [ -d "$1" ] && same_text "$(checksums_of "$1")" "$(cat "$manifest")" && same_text "$(folders_of "$1")" "$(cat "$folders")"
}

# The screenshots whose paths the run printed: there, pictures, not blank.
screenshots_of() { grep -oE '/[^ ]+\.png$' "$logs/$1.out" || true; }
not_blank() {
  local colours size
  colours=$(convert "$1" -format '%k' info: 2>/dev/null) || return 1
  size=$(identify -format '%w %h' "$1" 2>/dev/null) || return 1
  [ "$colours" -ge 16 ] && [ "${size% *}" -ge 200 ] && [ "${size#* }" -ge 100 ]
}
check_screenshots() {
  local name=$1 shots shot
  shots=$(screenshots_of "$name")
  check "the run printed screenshots of the start-up warning, the dialog, the typed place and the message" \
    same_text "$(xargs -d '\n' -r -n1 basename <<<"$shots" | sed 's/^[0-9]*-//' | tr '\n' ' ')" \
    "start-up-warning.png relocation-dialog.png new-place-typed.png message-1.png "
  while IFS= read -r shot; do
    [ -n "$shot" ] || continue
    check "screenshot $(basename "$shot") is a picture that is not blank" not_blank "$shot"
  done <<<"$shots"
}

check_relocated() {
  check "D:\\Games\\Sample is a junction on disk to \\??\\E:\\Sample, byte for byte" is_junction_to "$sample" 'E:\Sample'
  check "E:\\Sample holds every file of the sample with its checksum, and every folder" holds_whole_sample "$moved"
  check "through the junction D:\\Games\\Sample every file is reached" \
    same_text "$(cd "$sample/" && find -L . -type f | LC_ALL=C sort)" "$(sed 's/^[0-9a-f]*  //' "$manifest")"
  check "nothing else is left in D:\\Games" same_text "$(ls -A "$mount_dir/Games")" Sample
}

mounted() { mountpoint -q "$mount_dir"; }
not_mounted() { ! grep -qF " $mount_dir " /proc/mounts; }
drive_mapped() { [ "$(readlink "$prefix/dosdevices/$1:")" = "$2" ]; }
drives_mapped() { drive_mapped d "$mount_dir" && drive_mapped e "$mount_dir/Drive E"; }
drives_unmapped() { [ ! -L "$prefix/dosdevices/d:" ] && [ ! -L "$prefix/dosdevices/e:" ]; }
fresh_sample() { is_plain_folder "$sample" && holds_whole_sample "$sample"; }
no_wine_desktop() { [[ $(xwininfo -root -tree) != *"Wine desktop"* ]]; }

first_run() {
  # A fresh build folder: whatever an earlier run left is unmounted first.
  if [ -d "$top" ]; then
    "$run" --unmount >/dev/null 2>&1 || true
    if grep -qF " $top/" /proc/mounts; then
      echo "something is still mounted in $top; not removing it" >&2
      exit 1
    fi
    rm -rf --one-file-system "$top"
  fi
  mkdir -p "$top"
  run_script first-run 'D:\Games\Sample' /create
  check "the README's first command ends with 0" [ "$status" -eq 0 ]
  check "it says that the relocation completed" output_says first-run "the relocation completed"
  check "it says that every file arrived" output_says first-run "Every file arrived: "
  check "the volume stays mounted" mounted
  check "D: is the volume and E: its folder in the run's own prefix" \
    drives_mapped
  check "the sample is what the README promises" sample_as_promised "$moved"
  check_relocated
  check_screenshots first-run
  finish
}

second_run() {
  local before shots_before
  before=$(junction_hex "$sample")
  shots_before=$(find "$DIRSHIFT_BUILD_DIR/screenshots" -name '*.png' | wc -l)
  run_script second-run 'D:\Games\Sample' /create
  check "a second run ends with 0" [ "$status" -eq 0 ]
  check "it says that the sample was moved already" output_says second-run "was moved by an earlier run"
  check "it shows that every file is there" output_says second-run "Every file arrived: "
  check "it runs no relocation (no new screenshots)" \
    same_text "$(find "$DIRSHIFT_BUILD_DIR/screenshots" -name '*.png' | wc -l)" "$shots_before"
  check "the junction is unchanged" same_text "$(junction_hex "$sample")" "$before"
  check_relocated
  finish
}

with_display() {
  local xvfb runner
  Xvfb ":$user_display" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=":$user_display"
  trap 'kill "$xvfb" 2>/dev/null || true' EXIT
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  # The run mounts the volume again when it is not mounted.
  "$run" --unmount >/dev/null 2>&1
  "$run" 'D:\Games' >"$logs/with-display.out" 2>"$logs/with-display.err" </dev/null &
  runner=$!
  # shellcheck source=../../tools/desktop.sh
  . "$root/tools/desktop.sh"
  check "the program opens on \$DISPLAY with its start-up warning" \
    dirshift_wait 180 dirshift_window_shown "$dirshift_caption_message"
  check "on the display itself, not in a Wine desktop" no_wine_desktop
  check "the volume is mounted" mounted
  check "D: and E: are mapped" drives_mapped
  # No window manager on this display to give the window the keyboard: the test
  # ends the program with the rest of this prefix's Wine.
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  local ended=
  for _ in $(seq 300); do
    kill -0 "$runner" 2>/dev/null || { ended=1; break; }
    sleep 0.1
  done
  check "the script ends with the program" [ -n "$ended" ]
  wait "$runner" 2>/dev/null || true
  check "the sample is still relocated" is_junction_to "$sample" 'E:\Sample'
  finish
}

reset() {
  run_script reset --reset
  check "--reset ends with 0" [ "$status" -eq 0 ]
  check "it says that it made a new volume" output_says reset "made a new NTFS volume"
  check "the fresh volume is mounted" mounted
  check "D:\\Games\\Sample is a plain folder again, with the whole sample" \
    fresh_sample
  check "E: is empty" same_text "$(ls -A "$mount_dir/Drive E")" ""
  check "no drive mapping of an old junction is left" [ ! -e "$mount_dir/.NTFS-3G" ]
  run_script after-reset 'D:\Games\Sample' /create
  check "the README's first command relocates the fresh sample" [ "$status" -eq 0 ]
  check "it says that the relocation completed" output_says after-reset "the relocation completed"
  check_relocated
  finish
}

unmount() {
  run_script unmount --unmount
  check "--unmount ends with 0" [ "$status" -eq 0 ]
  check "the volume is unmounted" not_mounted
  check "D: and E: are gone from the prefix" drives_unmapped
  check "the image stays for the next run" [ -f "$DIRSHIFT_BUILD_DIR/run-volume/ntfs.img" ]
  finish
}

case "${1:-}" in
  first-run) first_run ;;
  second-run) second_run ;;
  with-display) with_display ;;
  reset) reset ;;
  unmount) unmount ;;
  *) echo "usage: $0 first-run|second-run|with-display|reset|unmount" >&2; exit 2 ;;
esac
