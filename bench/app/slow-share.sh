#!/usr/bin/env bash
# The program reading a backup from a slow network share: the archive is read
# through zr-slow-share (bench/slowshare), a FUSE view of the folder that holds
# it where every read pays a 1 ms round trip, all reads share 11 MB/s, and
# nothing is cached (every read the program makes reaches the share); each
# request also pays this machine's own FUSE round trip (about 0.1-0.2 ms, more
# under load). For the benchmark's backups, or the one BENCH_ARCHIVE names,
# medians of RUNS rounds:
#   first   --restore ARCHIVE --yes (check + restore) with nothing remembered
#           about the archive, against bsdtar extracting the same three members
#           from the share, then `sync FILE...`
#   second  right after, on the unchanged archive: --verify ARCHIVE, then
#           --restore ARCHIVE --yes again
# with the reads and megabytes each made on the share (reads beside the
# archive's member count: a walk over every header makes at least one read per
# member); once each, lhasa's `lha xq` of the three members (it passes over
# every member) and `bsdtar -xOf ARCHIVE > /dev/null`, which decodes every
# member as --verify does (bench/app/verify.sh compares the two). Every restore must end with status 0 and leave both templates
# equal to the archive's.
#
# Run bench/app/run.sh first: it builds the Release program and makes the
# corpora. Mounting needs /dev/fuse and root (or fusermount3's rights).
#
# Usage: [BENCH_ARCHIVE=FILE] [BENCH_CORPORA="records dense scale users"] bench/app/slow-share.sh [RUNS]
#        (default 3 runs; BENCH_ONCE=0 leaves out the single runs of lhasa and bsdtar -xOf)
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-3}
build="build-release"
program="$build/ZrBunsyoRes"
share_program="$build/slowshare/zr-slow-share"
round_trip_us=1000
bytes_per_second=11000000

for tool in bsdtar lha fusermount3 mountpoint cmake ninja; do
  command -v "$tool" >/dev/null || {
    echo "bench: $tool is missing (scripts/bootstrap.sh installs it)" >&2
    exit 1
  }
done
for made in "$program" "$build/zr-make-demo-suite"; do
  [ -x "$made" ] || {
    echo "bench: $made is missing (bench/app/run.sh builds it)" >&2
    exit 1
  }
done
[ -e /dev/fuse ] || {
  echo "bench: /dev/fuse is missing" >&2
  exit 1
}

# The share is a project of its own, so that only this benchmark needs libfuse3.
cmake -S bench/slowshare -B "$build/slowshare" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/slowshare" >"$build/slowshare/build.log" 2>&1 || {
  cat "$build/slowshare/build.log" >&2
  exit 1
}

export LC_ALL=C.UTF-8
work="$PWD/$build/bench-app/slow-share"
members=(Data/ZrXXComn.wf6 Work/ZrBunsyo.wf6 Work/ZrTuBun.wf6)

# What the program may remember about an archive between runs (in the suite
# home); removed before every first look so that it is really the first.
forget_archive() { rm -rf "$home/walks" "$home"/walks.*; }

# --- the share: mounted once per backup, always unmounted -----------------------
share_pid=
share_mount=
unmount_share() {
  [ -n "$share_mount" ] || return 0
  if mountpoint -q "$share_mount"; then
    fusermount3 -u "$share_mount" 2>/dev/null || fusermount3 -uz "$share_mount" || true
  fi
  if [ -n "$share_pid" ]; then
    # Unmounted, it ends by itself; polled for a few seconds, then ended.
    for _ in $(seq 1 300); do
      kill -0 "$share_pid" 2>/dev/null || break
      sleep 0.01
    done
    kill "$share_pid" 2>/dev/null || true
    wait "$share_pid" 2>/dev/null || true
  fi
  share_pid=
  share_mount=
}
trap unmount_share EXIT
trap 'exit 130' INT TERM

now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Polls (no fixed sleeps) until the share is mounted, for at most 30 s.
mount_share() {
  local source=$1
  share_mount=$2
  if mountpoint -q "$share_mount"; then fusermount3 -u "$share_mount"; fi
  mkdir -p "$share_mount"
  "$share_program" --round-trip-us "$round_trip_us" --bytes-per-second "$bytes_per_second" \
    "$source" "$share_mount" 2>"$case_dir/share.log" &
  share_pid=$!
  local tries=0
  until mountpoint -q "$share_mount"; do
    if ! kill -0 "$share_pid" 2>/dev/null || [ $((tries += 1)) -gt 3000 ]; then
      echo "bench: the share did not mount: $(cat "$case_dir/share.log")" >&2
      exit 1
    fi
    sleep 0.01
  done
}

# What the share served since it was last asked, as "reads MB largest_KiB
# most_in_flight" (reading the report starts the count afresh).
share_served() {
  awk '{ v[$1] = $2 } END { printf "%d %.2f %d %d\n", v["reads"], v["bytes"] / 1e6, v["largest_read"] / 1024,
    v["most_in_flight"] }' "$share_mount/.slowshare"
}

# Runs "$@" timed, its output in $case_dir/out; sets took (s) and served.
measure() {
  share_served >/dev/null
  local start end status=0
  start=$(now)
  "$@" >"$case_dir/out" 2>&1 || status=$?
  end=$(now)
  served=$(share_served)
  took=$(secs "$start" "$end")
  [ "$status" -eq 0 ] || {
    echo "bench: $* ended with $status:" >&2
    cat "$case_dir/out" >&2
    exit 1
  }
}

# Both live templates emptied, so that only a restore makes them right again.
spoil_live() { for m in "${members[@]:1}"; do : >"$home/data/$m"; done; }

restored_check() {
  for m in "${members[@]:1}"; do
    lha pq "$local_archive" "$m" | cmp -s - "$home/data/$m" || {
      echo "bench: $m was not restored" >&2
      exit 1
    }
  done
}

# The same three members with an extractor, from the share, then flushed.
extract() {
  local scratch="$case_dir/$1"
  rm -rf "$scratch"
  mkdir -p "$scratch"
  case $1 in
    bsdtar) bsdtar -xf "$archive" -C "$scratch" "${members[@]}" ;;
    lhasa) (cd "$scratch" && lha xq "$archive" "${members[@]}") ;;
    whole)
      bsdtar -xOf "$archive" >/dev/null
      return
      ;;
  esac
  (cd "$scratch" && sync "${members[@]}")
  for m in "${members[@]}"; do [ -s "$scratch/$m" ] || {
    echo "bench: $1 did not extract $m" >&2
    exit 1
  }; done
}

# One round: the first look, the second look, bsdtar. Appends to results:
# first reads MB | verify reads MB | again reads MB | bsdtar reads MB
round() {
  local line=
  forget_archive
  rm -rf "$home/temp" && mkdir -p "$home/temp"
  spoil_live
  measure "$program" --restore "$archive" --yes
  restored_check
  line+="$took $(cut -d' ' -f1-2 <<<"$served") "
  first_detail=$served
  measure "$program" --verify "$archive"
  grep -q '^OK' "$case_dir/out" || {
    echo "bench: --verify did not say OK:" >&2
    cat "$case_dir/out" >&2
    exit 1
  }
  line+="$took $(cut -d' ' -f1-2 <<<"$served") "
  spoil_live
  measure "$program" --restore "$archive" --yes
  restored_check
  line+="$took $(cut -d' ' -f1-2 <<<"$served") "
  measure extract bsdtar
  line+="$took $(cut -d' ' -f1-2 <<<"$served")"
  bsdtar_detail=$served
  echo "$line" >>"$case_dir/results"
  local fields
  read -ra fields <<<"$line"
  printf '%-5s %9s %6s %8s   %9s %6s %8s   %9s %6s %8s   %9s %6s %8s\n' "$run" "${fields[@]}"
}

bench_case() {
  local source_archive=$1
  case_dir="$work/$2"
  home="$case_dir/home"
  rm -rf "$case_dir"
  mkdir -p "$case_dir/source"
  "$build/zr-make-demo-suite" "$home" >/dev/null
  rm -f "$home"/backup/ZrDataBK/*
  local name
  name=$(basename "$source_archive")
  local_archive="$case_dir/source/$name"
  ln "$source_archive" "$local_archive" 2>/dev/null || cp "$source_archive" "$local_archive"
  export AOBANAVI_HOME="$home"
  mount_share "$case_dir/source" "$case_dir/share"
  archive="$case_dir/share/$name"

  local count
  count=$(lha v "$local_archive" | tail -n 1 | awk '{ print $2 }')
  echo "== $2"
  printf '%s\n' "archive: $(lha v "$local_archive" | tail -n 1 | awk '{ printf "%s members, %.1f MB uncompressed, %.1f MB packed", $2, $5 / 1e6, $4 / 1e6 }')"
  printf '%s\n' "share: ${round_trip_us} us a read, $((bytes_per_second / 1000000)) MB/s shared, no cache"
  printf '%-5s %25s   %25s   %25s   %25s\n' "" "first look --restore" "then --verify" "then --restore" "bsdtar + sync"
  printf '%-5s %9s %6s %8s   %9s %6s %8s   %9s %6s %8s   %9s %6s %8s\n' run s reads MB s reads MB s reads MB s reads MB
  : >"$case_dir/results"
  for run in $(seq 1 "$runs"); do round; done

  col() { awk -v c="$1" '{ print $c }' "$case_dir/results" | median; }
  local m=()
  for c in $(seq 1 12); do m+=("$(col "$c")"); done
  printf '%-5s %9s %6.0f %8.2f   %9s %6.0f %8.2f   %9s %6.0f %8.2f   %9s %6.0f %8.2f\n' median "${m[@]}"
  awk -v r="${m[0]}" -v a="${m[6]}" -v b="${m[9]}" 'BEGIN {
    printf "first look / bsdtar+sync = %.2f (target <= 0.3)\n", r / b
    printf "second --restore / bsdtar+sync = %.2f\n", a / b
  }'
  printf 'largest read KiB, most reads in flight: first look %s, bsdtar %s (last round)\n' \
    "$(cut -d' ' -f3-4 <<<"$first_detail")" "$(cut -d' ' -f3-4 <<<"$bsdtar_detail")"
  printf 'reads per member (%s members): first look %.2f, --verify %.2f, second --restore %.2f\n' "$count" \
    "$(awk -v r="${m[1]}" -v n="$count" 'BEGIN { print r / n }')" \
    "$(awk -v r="${m[4]}" -v n="$count" 'BEGIN { print r / n }')" \
    "$(awk -v r="${m[7]}" -v n="$count" 'BEGIN { print r / n }')"
  if [ "${BENCH_ONCE:-1}" != 0 ]; then
    measure extract lhasa
    printf 'lhasa + sync, one run:           %8s s %6s reads %8s MB\n' "$took" \
      "$(cut -d' ' -f1 <<<"$served")" "$(cut -d' ' -f2 <<<"$served")"
    measure extract whole
    printf 'bsdtar -xOf > /dev/null, one run: %7s s %6s reads %8s MB (beside --verify)\n' "$took" \
      "$(cut -d' ' -f1 <<<"$served")" "$(cut -d' ' -f2 <<<"$served")"
  fi
  unmount_share
}

mkdir -p "$work"
if [ -n "${BENCH_ARCHIVE:-}" ]; then
  [ -f "$BENCH_ARCHIVE" ] || {
    echo "bench: $BENCH_ARCHIVE is not a file" >&2
    exit 1
  }
  bench_case "$(realpath "$BENCH_ARCHIVE")" given
else
  for corpus in ${BENCH_CORPORA:-records dense scale users}; do
    corpus_archive="$build/bench-app/$corpus/home/backup/ZrDataBK/ZrBackup_20250301.lzh"
    [ -f "$corpus_archive" ] || {
      echo "bench: $corpus_archive is missing (bench/app/run.sh makes it)" >&2
      exit 1
    }
    bench_case "$PWD/$corpus_archive" "$corpus"
  done
fi
