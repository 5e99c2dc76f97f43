#!/usr/bin/env bash
# The copier's benchmark: alternating rounds of Linux `cp -a`, the copier and a
# one-file-at-a-time CopyFileExW loop, each copying the same trees between two
# drives. Prints every round and the medians; nothing passes or fails on time.
#   tools/copy-bench.sh <copy_bench.exe> [rounds] [large files] [MB each] [small files]
# The defaults are the full measure: 20 files of 100 MB (2 GB) and 50,000 small
# files, five rounds (about 15 minutes). Two routes:
#   J: to K:  an NTFS volume of its own (ntfs-3g) to a tmpfs: a move off an NTFS
#             drive, where ntfs-3g's single thread serves every look and read;
#   L: to K:  a tmpfs to a tmpfs, small files only: what each file costs the copier
#             and the loop themselves, with no file system in the way.
# It mounts its own volumes (needs root or sudo) and the test drives' prefix, so run
# it with no test run using the same build folder.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
# shellcheck source=ntfs-lib.sh
. "$here/ntfs-lib.sh"
exe=$1
rounds=${2:-5}
large=${3:-20}
megabytes=${4:-100}
small=${5:-50000}

volumes=$DIRSHIFT_BUILD_DIR/copy-bench-volumes
image=$volumes/ntfs.img
ntfs_mount=$volumes/ntfs    # J:
to_mount=$volumes/to        # K:
from_mount=$volumes/from    # L:
dosdevices=$WINEPREFIX/dosdevices

cleanup() {
  rm -f "$dosdevices/j:" "$dosdevices/k:" "$dosdevices/l:"
  dirshift_unmount "$ntfs_mount" || true
  dirshift_unmount "$to_mount" || true
  dirshift_unmount "$from_mount" || true
  rm -f "$image"
}
trap cleanup EXIT

dirshift_check_ntfs_tools
cleanup
mkdir -p "$ntfs_mount" "$to_mount" "$from_mount" "$dosdevices"
# Room for the trees and the NTFS records of 50,000 files; the image is sparse.
dirshift_make_ntfs_image "$image" $(( large * megabytes + small / 64 + 512 ))M COPYBENCH
dirshift_mount_ntfs "$image" "$ntfs_mount"
tree_mb=$(( large * megabytes + small * 12 / 1024 + 64 ))
dirshift_as_root mount -t tmpfs -o "size=${tree_mb}m,mode=0777" dirshift-bench-to "$to_mount"
dirshift_as_root mount -t tmpfs -o "size=$(( small * 12 / 1024 + 64 ))m,mode=0777" dirshift-bench-from "$from_mount"
ln -sfn "$ntfs_mount" "$dosdevices/j:"
ln -sfn "$to_mount" "$dosdevices/k:"
ln -sfn "$from_mount" "$dosdevices/l:"
dirshift_restart_wine  # the new letters are only seen by a wineserver started after them

run() { "$here/wine-run" "$exe" "$@" | tail -n 1 | tr -d '\r'; }
"$here/wine-run" "$exe" build 'J:\tree' "$large" "$megabytes" "$small"
cp -a "$ntfs_mount/tree/small" "$from_mount/"
echo "trees: $large files of $megabytes MB; $small files of 1 to 8 KB in folders of 100"
echo "threads: $(run threads) (the copier's own choice)"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

# measure <label> <set> <from, Linux> <from, Windows>
measure() {
  local label=$1 set=$2 from_unix=$3 from_windows=$4
  local cp_times=() copier_times=() loop_times=() round cp_ms copier_ms loop_ms start
  for round in $(seq "$rounds"); do
    rm -rf "${to_mount:?}/$set"; sync
    start=$(date +%s%N); cp -a "$from_unix/$set" "$to_mount/"; cp_ms=$(( ($(date +%s%N) - start) / 1000000 ))
    rm -rf "${to_mount:?}/$set"; mkdir -p "$to_mount/$set"
    copier_ms=$(run copier "$from_windows\\$set" "K:\\$set")
    rm -rf "${to_mount:?}/$set"; mkdir -p "$to_mount/$set"
    loop_ms=$(run loop "$from_windows\\$set" "K:\\$set")
    echo "$label, round $round: cp -a $cp_ms ms, copier (copy, flush, check) $copier_ms ms," \
         "one-file CopyFileExW loop $loop_ms ms; copier speed $(ratio "$cp_ms" "$copier_ms")x cp -a," \
         "$(ratio "$loop_ms" "$copier_ms")x the loop"
    cp_times+=("$cp_ms"); copier_times+=("$copier_ms"); loop_times+=("$loop_ms")
  done
  rm -rf "${to_mount:?}/$set"
  local cp_median copier_median loop_median
  cp_median=$(printf '%s\n' "${cp_times[@]}" | median)
  copier_median=$(printf '%s\n' "${copier_times[@]}" | median)
  loop_median=$(printf '%s\n' "${loop_times[@]}" | median)
  echo "$label, median of $rounds rounds: cp -a $cp_median ms, copier $copier_median ms, loop $loop_median ms;" \
       "copier speed $(ratio "$cp_median" "$copier_median")x cp -a, $(ratio "$loop_median" "$copier_median")x the loop"
}

measure "large files, J: (NTFS) to K: (tmpfs)" large "$ntfs_mount/tree" 'J:\tree'
measure "small files, J: (NTFS) to K: (tmpfs)" small "$ntfs_mount/tree" 'J:\tree'
measure "small files, L: (tmpfs) to K: (tmpfs)" small "$from_mount" 'L:'
echo "targets: large files at least 0.9x cp -a; small files at least 1.5x the loop"
