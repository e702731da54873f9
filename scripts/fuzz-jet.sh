#!/usr/bin/env bash
# Fuzzes the Jet layer's in-process reading for a given time:
#   scripts/fuzz-jet.sh [SECONDS]   (default 600)
# Builds with clang in build-fuzz/, starts from fuzz/jet/corpus plus fresh
# writer output, keeps going after crashes, and leaves what it found in
# build-fuzz/jet-findings/ (crash-*, timeout-*, oom-*).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZR_FUZZ=ON \
  -DZR_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz --target zr_fuzz_jet zr_fuzz_jet_corpus -j2

work=build-fuzz/jet-corpus
findings=build-fuzz/jet-findings
mkdir -p "$work" "$findings"
build-fuzz/zr_fuzz_jet_corpus "$work"
# Inputs known to hang libmdb would only slow the run down.
find fuzz/jet/corpus -type f ! -name 'libmdb-hang-*' -exec cp -n {} "$work"/ \;

# -fork keeps the run alive after a crash so one libmdb fault does not end it.
ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
  build-fuzz/zr_fuzz_jet "$work" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
  -max_total_time="$seconds" -max_len=65536 -timeout=10 -close_fd_mask=2 -rss_limit_mb=2048 \
  -artifact_prefix="$findings/" 2>&1 | grep -vE "^(INFO|MERGE)" | tail -30
echo "findings:"
ls -la "$findings"
