# shellcheck shell=bash
# Sourced by the scripts that keep an NTFS volume for a Wine prefix (the tests'
# volumes of tools/ntfs-volume.sh, the run volume of tools/run-volume.sh): an NTFS
# image made with mkntfs, mounted with ntfs-3g, and what it takes to mount, unmount
# and let Wine see its drive letters. Needs tools/wine-env.sh sourced first.

dirshift_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# A mount point whose FUSE process died still shows in /proc/mounts while
# `mountpoint` fails on it ("Transport endpoint is not connected"), so both count.
dirshift_is_mounted() {
  mountpoint -q "$1" 2>/dev/null || grep -qF " $1 " /proc/mounts
}

# Mounted and answering: a dead FUSE mount fails `mountpoint` and any look inside.
dirshift_mount_alive() {
  mountpoint -q "$1" 2>/dev/null && ls "$1" >/dev/null 2>&1
}

dirshift_wait_unmounted() {
  for _ in $(seq 50); do
    dirshift_is_mounted "$1" || return 0
    sleep 0.1
  done
  echo "$1 is still mounted" >&2
  return 1
}

# Unmounts `dir` if anything is mounted there, a dead mount included (lazily when
# something still holds it), and waits until it is gone.
dirshift_unmount() {
  local dir=$1
  if dirshift_is_mounted "$dir"; then
    dirshift_as_root umount "$dir" 2>/dev/null || dirshift_as_root umount -l "$dir"
  fi
  dirshift_wait_unmounted "$dir"
}

dirshift_check_ntfs_tools() {
  local tool
  for tool in mkntfs ntfs-3g mountpoint; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (tools/setup.sh installs it)" >&2; return 1; }
  done
  [ -e /dev/fuse ] || { echo "/dev/fuse is missing: ntfs-3g needs FUSE" >&2; return 1; }
}

# dirshift_make_ntfs_image IMAGE SIZE LABEL: a fresh sparse image with an empty
# NTFS file system on it (only the file system's own records take real space).
dirshift_make_ntfs_image() {
  local image=$1 size=$2 label=$3
  rm -f "$image"
  truncate -s "$size" "$image"
  if ! mkntfs --fast --force --quiet --label "$label" "$image" >"$image.mkntfs.log" 2>&1; then
    cat "$image.mkntfs.log" >&2
    return 1
  fi
}

# dirshift_mount_ntfs IMAGE DIR: mounts the image with ntfs-3g. Without its
# "permissions" option every file reads as open to everyone, so Wine run as the
# calling user writes there even when sudo mounted it.
dirshift_mount_ntfs() {
  local image=$1 dir=$2
  mkdir -p "$dir"
  dirshift_as_root ntfs-3g "$image" "$dir" </dev/null
  mountpoint -q "$dir" || { echo "mounting $image on $dir failed" >&2; return 1; }
}

# Wine's mount manager learns a prefix's drives when it starts and keeps answering
# from what it knew (a drive mapped later then fails GetVolumeInformationW). Ending
# the prefix's wineserver restarts it with the new drives at the next Wine program.
# It waits for the prefix's running programs first (see dirshift_use_prefix).
dirshift_restart_wine() {
  command -v wineserver >/dev/null 2>&1 || return 0
  dirshift_wineserver_running || return 0
  dirshift_own_prefix 60 || echo "ntfs-lib: programs of $WINEPREFIX still run; ending them" >&2
  wineserver -k </dev/null >/dev/null 2>&1 8>&- || true
  for _ in $(seq 100); do
    dirshift_wineserver_running || break
    sleep 0.1
  done
  dirshift_release_prefix
}
