#!/usr/bin/env bash
# The copier's benchmark: alternating rounds of Linux `cp -a`, the copier and a
# one-file-at-a-time CopyFileExW loop, each copying the same trees from N: (NTFS
# through ntfs-3g) to T: (tmpfs), a move between two file systems. Prints every
# round and the medians; nothing passes or fails on time.
#   tools/copy-bench.sh <copy_bench.exe> [rounds] [large files] [MB each] [small files]
# The defaults fit the test drives (T: holds 64 MB).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
exe=$1
rounds=${2:-5}
large=${3:-4}
megabytes=${4:-10}
small=${5:-5000}
source_unix=$DIRSHIFT_BUILD_DIR/test-volumes/ntfs/copy-bench
target_unix=$DIRSHIFT_BUILD_DIR/test-volumes/plain/copy-bench-out
run() { "$here/wine-run" "$exe" "$@" | tail -n 1 | tr -d '\r'; }

rm -rf "$source_unix" "$target_unix"
"$here/wine-run" "$exe" build 'N:\copy-bench' "$large" "$megabytes" "$small"
echo "trees: $large files of $megabytes MB; $small files of 1 to 8 KB in folders of 100; N: (ntfs-3g) to T: (tmpfs)"

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
for set in large small; do
  cp_times=() copier_times=() loop_times=()
  for round in $(seq "$rounds"); do
    rm -rf "$target_unix"; mkdir -p "$target_unix"; sync
    start=$(date +%s%N); cp -a "$source_unix/$set" "$target_unix/"; cp_ms=$(( ($(date +%s%N) - start) / 1000000 ))
    rm -rf "$target_unix"; mkdir -p "$target_unix/$set"
    copier_ms=$(run copier "N:\\copy-bench\\$set" "T:\\copy-bench-out\\$set")
    rm -rf "$target_unix"; mkdir -p "$target_unix/$set"
    loop_ms=$(run loop "N:\\copy-bench\\$set" "T:\\copy-bench-out\\$set")
    echo "$set, round $round: cp -a $cp_ms ms, copier (copy, flush, check; 4 threads) $copier_ms ms, one-file CopyFileExW loop $loop_ms ms;" \
         "copier speed $(awk -v a="$cp_ms" -v b="$copier_ms" 'BEGIN {printf "%.2f", a / b}')x cp -a," \
         "$(awk -v a="$loop_ms" -v b="$copier_ms" 'BEGIN {printf "%.2f", a / b}')x the loop"
    cp_times+=("$cp_ms"); copier_times+=("$copier_ms"); loop_times+=("$loop_ms")
  done
  cp_median=$(printf '%s\n' "${cp_times[@]}" | median)
  copier_median=$(printf '%s\n' "${copier_times[@]}" | median)
  loop_median=$(printf '%s\n' "${loop_times[@]}" | median)
  echo "$set, median of $rounds rounds: cp -a $cp_median ms, copier $copier_median ms, loop $loop_median ms;" \
       "copier speed $(awk -v a="$cp_median" -v b="$copier_median" 'BEGIN {printf "%.2f", a / b}')x cp -a (target 0.9 for large files)," \
       "$(awk -v a="$loop_median" -v b="$copier_median" 'BEGIN {printf "%.2f", a / b}')x the loop (target 1.5 for small files)"
done
rm -rf "$source_unix" "$target_unix"
