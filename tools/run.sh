#!/usr/bin/env bash
# Runs Dirshift under Wine, building it first when needed, in a Wine prefix of its
# own whose D: is a real NTFS volume (an image in the build folder, mounted with
# ntfs-3g and left mounted) and whose E: is a folder of that same volume. A new
# volume holds a sample folder to relocate, D:\Games\Sample:
#   tools/run.sh 'D:\Games\Sample' /create    moves it (type E:\Sample as the new place)
#   tools/run.sh 'D:\Games'                   the junction manager on D:\Games
# Arguments go to the program unchanged. With a working $DISPLAY the program opens
# there and this script returns its exit code. Without one, it runs in a Wine
# desktop on a private Xvfb and this script works it as a user would: it answers the
# start-up warning, types the new place (E:\<folder name>), presses the button,
# answers the messages, saves a screenshot of each step, and shows what is on disk
# afterwards, read from Linux. It then ends with 0 when the folder was relocated
# (and, for the sample, every file arrived), 1 otherwise.
#
# Options, as the first argument:
#   --reset    start again from a fresh volume and sample (then run, if arguments follow)
#   --unmount  unmount the volume; the next run mounts it again as it was
#   --status   whether the volume is mounted, and what is at D:\Games\Sample
# Settings: DIRSHIFT_BUILD_DIR (default build/), DIRSHIFT_WINEPREFIX (default
# <build>/wine-app), DIRSHIFT_RUN_XVFB (the private display, default 78),
# DIRSHIFT_RUN_DESTINATION (the new place to type, default E:\<folder name>).
# Needs root (or sudo) for the packages, once, and for mounting the volume.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)

usage() { sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; }

option=
case "${1:-}" in
  --reset | --unmount | --status) option=$1; shift ;;
  -h | --help) usage; exit 0 ;;
esac
if [ "$option" = --unmount ] || [ "$option" = --status ]; then
  [ $# -eq 0 ] || { echo "run.sh: $option takes no further arguments" >&2; exit 2; }
fi

# The program runs in a Wine prefix of its own: the tests' prefix holds the answers
# and settings that the tests store, and the user must see a first start as a
# first start.
build_dir="${DIRSHIFT_BUILD_DIR:-$root/build}"
export DIRSHIFT_WINEPREFIX="${DIRSHIFT_WINEPREFIX:-$build_dir/wine-app}"
# Wine reads Linux file names in the locale's character set; the sample's names
# are UTF-8.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8

if [ -z "$option" ] || [ "$option" = --reset ]; then
  "$here/setup.sh" --program >&2
fi
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
# shellcheck source=ntfs-lib.sh
. "$here/ntfs-lib.sh"
# shellcheck source=run-volume.sh
. "$here/run-volume.sh"

case "$option" in
  --unmount)
    run_volume_unmount
    echo "run volume: unmounted $run_volume_mount; the image stays ($run_volume_image)"
    exit 0 ;;
  --status)
    run_volume_status
    if dirshift_mount_alive "$run_volume_mount" && run_volume_links_ok; then run_report "$run_sample" || true; fi
    exit 0 ;;
  --reset)
    run_volume_reset ;;
  *)
    run_volume_up ;;
esac
if [ "$option" = --reset ] && [ $# -eq 0 ]; then
  echo "Now relocate it: tools/run.sh '$run_sample' /create"
  exit 0
fi

# shellcheck source=display.sh
. "$here/display.sh"
# shellcheck source=desktop.sh
. "$here/desktop.sh"
exe="$DIRSHIFT_BUILD_DIR/dirshift.exe"

# The folder as the program takes it from its first argument (a stray closing
# quote or backslash goes), and its face: "/create" anywhere picks relocation.
folder=${1:-}
case "$folder" in *\" | *\\) folder=${folder%?} ;; esac
face=other
if [ -n "$folder" ] && [ "${folder:0:1}" != / ]; then
  face=manager
  for argument in "$@"; do
    case "$argument" in */create*) face=relocation ;; esac
  done
fi

already_moved=
if [ "$face" = relocation ] && run_is_sample "$folder" &&
   [ -n "$(run_reparse_hex "$(run_unix_path "$folder")")" ]; then
  already_moved=1
fi
moved_note="$run_sample was moved by an earlier run: it is a junction now.
(tools/run.sh --reset '$run_sample' /create starts again from a fresh volume.)"

if dirshift_have_display; then
  if [ -n "$already_moved" ]; then
    echo "$moved_note"
  elif [ "$face" = relocation ]; then
    leaf=${folder##*[\\/]}
    echo "Dirshift opens on $DISPLAY: answer its warning with Yes, type the new place (for example E:\\$leaf)"
    echo "into \"New backing drive/folder\" and press Dirshift."
  fi
  set +e
  wine "$exe" "$@"
  code=$?
  set -e
  if [ "$face" = relocation ]; then run_report "$folder" || true; fi
  exit $code
fi

# No display: a Wine desktop on a private Xvfb, worked as a user would.
if [ -n "$already_moved" ]; then
  echo "$moved_note"
  echo "Dirshift is not run again; this is what is on disk."
  run_report "$folder"
  exit $?
fi
if [ "$face" = relocation ]; then
  leaf=${folder##*[\\/]}
  case "$leaf" in "" | *:*) leaf=Moved ;; esac
  destination="${DIRSHIFT_RUN_DESTINATION:-E:\\$leaf}"
  if ! dirshift_typable "$destination"; then
    echo "run.sh: cannot type \"$destination\" on the private display; set DIRSHIFT_RUN_DESTINATION" >&2
    echo "to a new place made of ASCII letters, digits and plain punctuation" >&2
    exit 2
  fi
fi

DIRSHIFT_XVFB="${DIRSHIFT_RUN_XVFB:-78}"
unset DISPLAY
dirshift_start_xvfb
finish() {
  dirshift_desktop_stop 0
  dirshift_stop_xvfb
}
trap finish EXIT

shots="$DIRSHIFT_BUILD_DIR/screenshots/run-$(date +%Y%m%d-%H%M%S)"
[ ! -e "$shots" ] || shots="$shots-$$"
mkdir -p "$shots"
step=0
# shot NAME TEXT: a screenshot of this step, and what it shows.
shot() {
  step=$((step + 1))
  local file="$shots/$step-$1.png"
  dirshift_shoot "$file"
  echo "  $step. $2"
  echo "     $file"
}
fail() {
  echo "run.sh: $*" >&2
  dirshift_shoot "$shots/failed.png" 2>/dev/null && echo "run.sh: the screen then: $shots/failed.png" >&2
  exit 1
}
message_shown() { dirshift_window_shown "$dirshift_caption_message"; }
message_or_end() { message_shown || ! dirshift_window_shown "$dirshift_caption_relocation"; }

echo "No display: Dirshift runs in a Wine desktop on a private Xvfb ($DISPLAY), worked as a user would."
dirshift_desktop_start "$exe" "$@"
# A first start of a new prefix takes Wine a while.
dirshift_wait 120 dirshift_any_window || fail "no window of Dirshift appeared"
dirshift_settle
# answer KEY: presses KEY for the message on the screen and waits until that very
# window has closed (another message may take its place at once).
answer() {
  local id
  id=$(dirshift_window_id "$dirshift_caption_message")
  dirshift_press "$1"
  [ -z "$id" ] || dirshift_wait 20 dirshift_id_gone "$id" || fail "the message did not close"
}
if message_shown; then
  shot start-up-warning "The start-up warning. The script answers Yes (Enter)."
  answer Return
fi

case "$face" in
  relocation)
    dirshift_wait 20 dirshift_window_shown "$dirshift_caption_relocation" || fail "the relocation dialog did not open"
    dirshift_settle
    shot relocation-dialog "The relocation dialog, with $folder in \"Original drive/folder\"."
    # The new place goes into the second box, two tabs away from the first.
    dirshift_press Tab Tab "text:$destination"
    dirshift_settle
    shot new-place-typed "$destination typed into \"New backing drive/folder\". The script presses Enter (as the Dirshift button)."
    dirshift_press Return
    dirshift_wait 600 message_or_end || fail "Dirshift did not answer within 10 minutes"
    answered=0
    while message_shown; do
      dirshift_settle
      answered=$((answered + 1))
      shot "message-$answered" "A message of Dirshift. The script answers it with Enter (its OK or Yes)."
      answer Return
      # One message can follow another: a failed move says so, then whether the
      # files came back.
      dirshift_wait 5 message_or_end || true
    done
    if dirshift_window_shown "$dirshift_caption_relocation"; then
      shot dialog-still-open "The relocation dialog is still open: Dirshift did not relocate. The script presses Cancel (Escape)."
      dirshift_press Escape
      dirshift_desktop_stop 15
      echo "Dirshift did not relocate $folder (its messages are in the screenshots above)."
      run_report "$folder" || true
      if run_is_sample "$folder"; then
        echo "(tools/run.sh --reset '$run_sample' /create starts again from a fresh volume and sample.)"
      fi
      exit 1
    fi
    dirshift_desktop_stop 15
    echo "Dirshift closed after its message: the relocation completed."
    run_report "$folder"
    ;;
  manager)
    dirshift_wait 20 dirshift_window_shown "$dirshift_caption_manager" || fail "the junction manager did not open"
    # It scans the folder as it opens.
    sleep 2
    shot junction-manager "The junction manager on $folder, after its scan. The script closes it (Escape)."
    dirshift_press Escape
    dirshift_desktop_stop 15
    run_list_junctions "$folder"
    ;;
  other)
    dirshift_wait 10 dirshift_any_window || true
    dirshift_settle
    shot next-window "What Dirshift shows next."
    ;;
esac
