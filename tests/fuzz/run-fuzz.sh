#!/usr/bin/env bash
# Builds the reparse-data fuzz target natively with clang, libFuzzer and the
# address and undefined-behaviour sanitizers, and runs it for a few seconds.
# Usage: run-fuzz.sh <work folder> [seconds]. Fails on any crash or sanitizer report.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${1:?usage: run-fuzz.sh <work folder> [seconds]}
seconds=${2:-5}

clang=$(command -v clang++-14 || command -v clang++ || true)
[ -n "$clang" ] || { echo "run-fuzz: clang++ is missing (tools/setup.sh installs clang-14)" >&2; exit 1; }

mkdir -p "$work/corpus"
"$clang" -std=c++17 -g -O1 -Wall -Wextra -Werror \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I "$root" "$root/junction/reparse_buffer.cpp" "$here/reparse_fuzz.cpp" -o "$work/reparse_fuzz"

# Seed: a capacity byte, then the 42-byte mount point for \??\D:\Data.
printf '\x00\x03\x00\x00\xa0\x22\x00\x00\x00\x00\x00\x16\x00\x18\x00\x00\x00' > "$work/corpus/seed-junction"
printf '\\\x00?\x00?\x00\\\x00D\x00:\x00\\\x00D\x00a\x00t\x00a\x00\x00\x00\x00\x00' >> "$work/corpus/seed-junction"

cd "$work"
./reparse_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 corpus
