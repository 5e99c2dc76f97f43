#!/usr/bin/env bash
# Test volumes for the Wine prefix of one build folder:
#   N: a real NTFS volume: a sparse image made with mkntfs and mounted with ntfs-3g,
#      so junctions on it are real NTFS reparse points on disk;
#   M: a folder ("second") of that same volume under a second drive letter, so a
#      move between N: and M: is a rename, as between two folders of one volume;
#   T: a tmpfs mount: a file system without reparse-point support;
#   R: a folder ("rootdrive") of the NTFS volume as a drive of its own, whose root
#      can be a relocation's destination;
#   S: a tiny tmpfs mount (1 MB): a destination drive without room.
#   V: a small NTFS volume of its own (a 4 MB image, about 2.5 MB free): junctions
#      on it are real, and a test can fill it, so that files moved away cannot come
#      back to it.
# Usage: ntfs-volume.sh up|down|status
# "up" always starts from a fresh, empty volume (a stale or dead mount from an
# earlier run is unmounted first); "down" unmounts everything and removes the links.
# Needs root (or sudo) for mount, /dev/fuse, and the ntfs-3g and mkntfs programs.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
# shellcheck source=ntfs-lib.sh
. "$here/ntfs-lib.sh"

volumes="$DIRSHIFT_BUILD_DIR/test-volumes"
image="$volumes/ntfs.img"
ntfs_mount="$volumes/ntfs"
plain_mount="$volumes/plain"
small_mount="$volumes/small"
small_ntfs_image="$volumes/small-ntfs.img"
small_ntfs_mount="$volumes/small-ntfs"
image_size=512M
# mkntfs makes no volume below 2 MB; 4 MB leaves room for a few files and their
# move, and fills up quickly.
small_ntfs_size=4M
dosdevices="$WINEPREFIX/dosdevices"

unlink_drives() {
  rm -f "$dosdevices/n:" "$dosdevices/m:" "$dosdevices/t:" "$dosdevices/r:" "$dosdevices/s:" "$dosdevices/v:"
}

down() {
  unlink_drives
  dirshift_unmount "$ntfs_mount"
  dirshift_unmount "$plain_mount"
  dirshift_unmount "$small_mount"
  dirshift_unmount "$small_ntfs_mount"
  rm -f "$image" "$small_ntfs_image"
}

up() {
  dirshift_check_ntfs_tools
  down
  mkdir -p "$volumes" "$ntfs_mount" "$plain_mount" "$small_mount" "$small_ntfs_mount" "$dosdevices"

  dirshift_make_ntfs_image "$image" "$image_size" DIRSHIFT
  dirshift_mount_ntfs "$image" "$ntfs_mount"
  dirshift_make_ntfs_image "$small_ntfs_image" "$small_ntfs_size" SMALL
  dirshift_mount_ntfs "$small_ntfs_image" "$small_ntfs_mount"
  dirshift_as_root mount -t tmpfs -o size=64m,mode=0777 dirshift-plain "$plain_mount"
  dirshift_as_root mount -t tmpfs -o size=1m,mode=0777 dirshift-small "$small_mount"
  mountpoint -q "$plain_mount" || { echo "ntfs-volume: mounting tmpfs failed" >&2; exit 1; }
  mountpoint -q "$small_mount" || { echo "ntfs-volume: mounting the small tmpfs failed" >&2; exit 1; }
  mkdir -p "$ntfs_mount/second" "$ntfs_mount/rootdrive"

  ln -sfn "$ntfs_mount" "$dosdevices/n:"
  ln -sfn "$ntfs_mount/second" "$dosdevices/m:"
  ln -sfn "$plain_mount" "$dosdevices/t:"
  ln -sfn "$ntfs_mount/rootdrive" "$dosdevices/r:"
  ln -sfn "$small_mount" "$dosdevices/s:"
  ln -sfn "$small_ntfs_mount" "$dosdevices/v:"
  echo "ntfs-volume: N: -> $ntfs_mount (ntfs-3g), M: -> $ntfs_mount/second, T: -> $plain_mount (tmpfs)," \
       "R: -> $ntfs_mount/rootdrive, S: -> $small_mount (tmpfs, 1 MB), V: -> $small_ntfs_mount (ntfs-3g, 4 MB)"
  dirshift_restart_wine
}

status() {
  for dir in "$ntfs_mount" "$plain_mount" "$small_mount" "$small_ntfs_mount"; do
    if mountpoint -q "$dir" 2>/dev/null; then echo "mounted: $dir"; else echo "not mounted: $dir"; fi
  done
  ls -l "$dosdevices" 2>/dev/null | grep -E ' [nmtrsv]: ' || true
}

case "${1:-}" in
  up) up ;;
  down) down ;;
  status) status ;;
  *) echo "usage: $0 up|down|status" >&2; exit 2 ;;
esac
