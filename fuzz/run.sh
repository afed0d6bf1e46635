#!/usr/bin/env bash
# Builds the libFuzzer target with clang (ASan + UBSan) in build-fuzz and
# fuzzes the whole program for SECONDS seconds (default 60), starting from
# fuzz/corpus and keeping what it learns in build-fuzz/corpus. An input that
# breaks an invariant or trips a sanitizer is written to build-fuzz/ as
# crash-* and the script fails; copy it into fuzz/regressions/.
set -euo pipefail
seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++-14}" -DWAVWIDEN_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target wav_fuzz
mkdir -p "$build/corpus"

# The program prints a report for every input: its streams are closed
# (-close_fd_mask=3) while libFuzzer and the sanitizers keep theirs.
seeds=("$root/fuzz/corpus")
if [ -d "$root/fuzz/regressions" ]; then seeds+=("$root/fuzz/regressions"); fi
cd "$build"
exec ./fuzz/wav_fuzz -max_total_time="$seconds" -close_fd_mask=3 -max_len=8192 \
  -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 corpus "${seeds[@]}"
