#!/usr/bin/env bash
# --verify beside `bsdtar -xOf FILE > /dev/null` (every member decoded, nothing
# kept) on the benchmark's backups, or on the one BENCH_ARCHIVE names. Run
# bench/app/run.sh first: it makes the corpora. Every --verify must say OK.
# Reports medians of wall-clock time and the program's peak memory.
#
# Usage: [BENCH_ARCHIVE=FILE] [BENCH_CORPORA="records dense scale users"] bench/app/verify.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-5}
build="build-release"
program="$build/ZrBunsyoRes"
# The program as the tree is now, never one a run before left behind.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target ZrBunsyoRes >"$build/verify-build.log" 2>&1 || {
  cat "$build/verify-build.log" >&2
  exit 1
}
export LC_ALL=C.UTF-8

median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
seconds() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>&1 || {
    echo "bench: $* failed:" >&2
    cat "$work/out" >&2
    exit 1
  }
  cat "$work/time"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

one() {
  local label=$1 archive=$2
  : >"$work/ours"
  : >"$work/theirs"
  for _ in $(seq 1 "$runs"); do
    seconds "$program" --verify "$archive" >>"$work/ours"
    seconds bash -c "bsdtar -xOf '$archive' > /dev/null" >>"$work/theirs"
  done
  local ours theirs peak
  ours=$(awk '{ print $1 }' "$work/ours" | median)
  theirs=$(awk '{ print $1 }' "$work/theirs" | median)
  peak=$(awk '{ print $2 }' "$work/ours" | median)
  printf '%-8s verify %7.3f s  bsdtar -xOf %7.3f s  verify / bsdtar = %.2f (target <= 0.5)  peak %.1f MiB\n' \
    "$label" "$ours" "$theirs" "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print a / b }')" \
    "$(awk -v p="$peak" 'BEGIN { print p / 1024 }')"
}

if [ -n "${BENCH_ARCHIVE:-}" ]; then
  one given "$BENCH_ARCHIVE"
else
  for corpus in ${BENCH_CORPORA:-records dense scale users}; do
    archive="$build/bench-app/$corpus/home/backup/ZrDataBK/ZrBackup_20250301.lzh"
    [ -f "$archive" ] || {
      echo "bench: $archive is missing (bench/app/run.sh makes it)" >&2
      exit 1
    }
    AOBANAVI_HOME="$build/bench-app/$corpus/home" one "$corpus" "$archive"
  done
fi
