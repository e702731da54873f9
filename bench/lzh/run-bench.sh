#!/usr/bin/env bash
# Builds the benchmark optimised and runs it once. The backup it measures
# (~300 MB of members, ~170 MB packed) is made on the first run and kept in
# the work folder (default /tmp/zr-lzh-bench; pass another as $1).
set -euo pipefail
cd "$(dirname "$0")/../.."
command -v bsdtar >/dev/null || { echo "bsdtar missing (libarchive-tools)" >&2; exit 1; }
command -v lhasa >/dev/null || { echo "lhasa missing" >&2; exit 1; }
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZR_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target zr_lzh_bench -j2
./build-bench/zr_lzh_bench "${1:-/tmp/zr-lzh-bench}"
