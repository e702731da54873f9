#!/usr/bin/env bash
# Builds the libFuzzer target for the LZH extraction (clang, AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs it for a given time.
#
#   scripts/fuzz-lzh.sh [seconds=600] [extra libFuzzer options...]
#
# The corpus starts from the committed fixtures and fuzz/lzh/corpus; what
# fuzzing adds stays in build-fuzz/lzh/corpus, crashes go to
# build-fuzz/lzh/artifacts. To keep a useful new input, minimise the
# combined corpus into the committed one:
#   build-fuzz/zr_lzh_fuzz -merge=1 fuzz/lzh/corpus build-fuzz/lzh/corpus
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZR_FUZZ=ON -DZR_SANITIZE=ON -DZR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target zr_lzh_fuzz -j2
mkdir -p "$build/lzh/corpus" "$build/lzh/artifacts"
start=$(date +%s)
status=0
"$build/zr_lzh_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -dict=fuzz/lzh/lzh.dict -artifact_prefix="$build/lzh/artifacts/" "$@" \
  "$build/lzh/corpus" fuzz/lzh/corpus tests/lzh/fixtures || status=$?
echo "fuzzed for $(( $(date +%s) - start )) s; corpus $(ls "$build/lzh/corpus" | wc -l) inputs;" \
  "artifacts: $(ls "$build/lzh/artifacts" | wc -l)"
exit $status
