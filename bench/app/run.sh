#!/usr/bin/env bash
# The whole program on large realistic backups, driven with the keyboard under
# Xvfb: the generated corpora of zr-bench-backup (records: 2,100 members that
# pack 7:1; dense: 2,000 members that pack 2:1; scale: 10,000 members, 1.5 GB
# in the archive, 30 MB templates; users: 2,000 members of one user each,
# 80-240 KB, that pack 2:1), the common database and both templates
# last; or the one backup BENCH_ARCHIVE names (its common database and both
# templates must be there). Reports per run and as medians, for each backup:
#   shown    launch to the window's first paint on screen
#   restore  the confirmation's OK to the completion message (check + restore)
#   bsdtar   the same three members extracted by bsdtar, then `sync FILE...`
#   lhasa    the same with lhasa
#   peak     maximum resident set of the program (GNU time)
# and, as medians, where the restore's time goes: the moments the program
# marks between the OK and the completion message, in ms after the OK.
# The program's moments come from its ZR_TIMING=1 trace on stderr; each
# run's trace is kept in build-release/bench-app/traces/.
#
# Usage: [BENCH_ARCHIVE=FILE] [BENCH_CORPORA="records dense scale users"] bench/app/run.sh [RUNS]
#        (default 5 runs; the first run warms the cache too)
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-5}
build=build-release

for tool in Xvfb openbox xdotool xprop bsdtar lha /usr/bin/time; do
  command -v "$tool" >/dev/null || {
    echo "bench: $tool is missing (scripts/bootstrap.sh installs it)" >&2
    exit 1
  }
done

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZR_BUILD_TESTS=OFF >/dev/null
mkdir -p "$build"
cmake --build "$build" -j 2 --target ZrBunsyoRes zr-bench-backup zr-make-demo-suite >"$build/bench-build.log" 2>&1 || {
  cat "$build/bench-build.log" >&2
  exit 1
}

work="$PWD/$build/bench-app"
members=(Data/ZrXXComn.wf6 Work/ZrBunsyo.wf6 Work/ZrTuBun.wf6)

# Sets home and archive for one backup: a generated corpus, made once, or the
# given file in a demo suite home of its own.
prepare() {
  home="$work/$1/home"
  archive="$home/backup/ZrDataBK/ZrBackup_20250301.lzh"
  if [ "$1" = given ]; then
    rm -rf "$home"
    "$build/zr-make-demo-suite" "$home" >/dev/null
    rm -f "$home"/backup/ZrDataBK/*
    ln "$BENCH_ARCHIVE" "$archive" 2>/dev/null || cp "$BENCH_ARCHIVE" "$archive"
    local listed
    listed=$(bsdtar -tf "$archive" | tr '\\' /)
    for m in "${members[@]}"; do
      grep -qixF "$m" <<<"$listed" || {
        echo "bench: $BENCH_ARCHIVE has no $m" >&2
        exit 1
      }
    done
  elif [ ! -f "$archive" ] || [ bench/app/MakeBenchBackup.cpp -nt "$archive" ]; then
    rm -rf "$home"
    "$build/zr-bench-backup" "$home" "$1"
  fi
}

now() { date +%s.%N; }
ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b - a) * 1000 }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.1f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Polls (no fixed sleeps) until "$@" succeeds, for at most 120 s.
wait_for() {
  local what=$1 limit
  shift
  limit=$(awk -v t="$(now)" 'BEGIN { printf "%.3f", t + 120 }')
  until "$@"; do
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
      echo "bench: the X server ended while waiting for $what" >&2
      exit 1
    fi
    if [ -n "$watch_pid" ] && ! kill -0 "$watch_pid" 2>/dev/null; then
      echo "bench: the program ended while waiting for $what:" >&2
      cat "$work/trace.txt" >&2
      exit 1
    fi
    if awk -v t="$(now)" -v l="$limit" 'BEGIN { exit !(t > l) }'; then
      echo "bench: no $what within 120 s" >&2
      exit 1
    fi
    sleep 0.01
  done
}
window_appears() {
  found=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -vx "${2:--}" | head -n 1)
  [ -n "$found" ]
}
window_gone() { ! xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -qx "$2"; }
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
gone() { ! kill -0 "$1" 2>/dev/null; }

# --- X server and window manager ------------------------------------------------
xvfb_pid=
wm_pid=
watch_pid=
cleanup() {
  if [ -n "$wm_pid" ]; then kill "$wm_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
}
trap cleanup EXIT
mkdir -p "$work"
rm -f "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display_ready() { grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null; }
wait_for "X server" display_ready
export DISPLAY=":$(head -n 1 "$work/display")" QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
wm_settled() { wm_ready || ! kill -0 "$wm_pid" 2>/dev/null; }
for attempt in 1 2 3; do
  HOME="$work" XDG_CONFIG_HOME="$work/wm" XDG_CACHE_HOME="$work/wm" openbox >"$work/wm.log" 2>&1 &
  wm_pid=$!
  wait_for "window manager" wm_settled
  wm_ready && break
  echo "bench: openbox did not start (attempt $attempt): $(cat "$work/wm.log")" >&2
  wm_pid=
done
[ -n "$wm_pid" ] || exit 1

main_title="あおば！ナビ　雛形（文書選択編集）ファイル復旧ツール"
box_title="あおば！ナビ"

# --- one run of the program -------------------------------------------------------
run_program() {
  rm -rf "$home/temp" "$home/log"
  mkdir -p "$home/temp"
  (
    now >"$work/launch"
    exec env ZR_TIMING=1 /usr/bin/time -v -o "$work/time.txt" "$build/ZrBunsyoRes" 2>"$work/trace.txt"
  ) &
  local time_pid=$!
  watch_pid=$time_pid
  wait_for "restore window" window_appears "$main_title"
  local main=$found
  wait_for "focus on the window" has_focus "$main"
  # One archive in the list: Space selects the entry the caret is on.
  xdotool key --delay 20 Tab Tab space Tab Return
  wait_for "confirmation" window_appears "$box_title"
  local confirmation=$found
  wait_for "focus on the confirmation" has_focus "$confirmation"
  xdotool key Return
  wait_for "confirmation to close" window_gone "$box_title" "$confirmation"
  wait_for "completion message" window_appears "$box_title" "$confirmation"
  local completion=$found
  wait_for "focus on the completion message" has_focus "$completion"
  local program_pid
  program_pid=$(cat "/proc/$time_pid/task/$time_pid/children" | awk '{ print $1 }')
  own_hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$program_pid/status")
  xdotool key Return
  wait_for "completion message to close" window_gone "$box_title" "$completion"
  wait_for "focus back on the window" has_focus "$main"
  xdotool key Escape
  watch_pid=
  wait_for "the program to end" gone "$time_pid"
  wait "$time_pid" || {
    echo "bench: the program failed:" >&2
    cat "$work/trace.txt" "$work/time.txt" >&2
    exit 1
  }

  for m in "${members[@]:1}"; do
    lha pq "$archive" "$m" | cmp -s - "$home/data/$m" || {
      echo "bench: $m was not restored" >&2
      exit 1
    }
  done
  [ -z "$(ls -A "$home/temp")" ] || {
    echo "bench: files left in temp/" >&2
    exit 1
  }

  local launch shown confirmed completed
  launch=$(cat "$work/launch")
  # The window's first paint; the confirmation's OK; the first paint of the
  # box that follows the request for the completion message.
  shown=$(awk '$2 == "painted" && $3 == "zr::window::frmRecov" { print $4; exit }' "$work/trace.txt")
  confirmed=$(awk '$2 == "msgbox-answered" && $3 == 1 { print $4; exit }' "$work/trace.txt")
  completed=$(awk '$2 == "msgbox-open" && $3 == 64 { asked = 1 } asked && $2 == "painted" && $3 == "QMessageBox" { print $4; exit }' "$work/trace.txt")
  [ -n "$shown" ] && [ -n "$confirmed" ] && [ -n "$completed" ] || {
    echo "bench: incomplete trace:" >&2
    cat "$work/trace.txt" >&2
    exit 1
  }
  mkdir -p "$work/traces"
  cp "$work/trace.txt" "$work/traces/$case_name-$run.txt"
  awk -v ok="$confirmed" '$4 >= ok && ($2 == "step" || ($2 == "msgbox-open" && $3 == 64)) {
    name = $2 == "step" ? $3 : "completion-asked"
    if (!(name in seen)) { seen[name] = 1; printf "%s %.1f\n", name, ($4 - ok) * 1000 }
  }' "$work/trace.txt" >>"$work/moments"
  shown_ms=$(ms "$launch" "$shown")
  restore_ms=$(ms "$confirmed" "$completed")
  peak_kib=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt")
}

# The same three members with an extractor, then flushed to disk.
run_extractor() {
  local scratch="$work/$1"
  rm -rf "$scratch"
  mkdir -p "$scratch"
  local start end
  start=$(now)
  case $1 in
    bsdtar) bsdtar -xf "$archive" -C "$scratch" "${members[@]}" ;;
    lhasa) (cd "$scratch" && lha xq "$archive" "${members[@]}") ;;
  esac
  (cd "$scratch" && sync "${members[@]}")
  end=$(now)
  for m in "${members[@]}"; do [ -s "$scratch/$m" ] || {
    echo "bench: $1 did not extract $m" >&2
    exit 1
  }; done
  ms "$start" "$end"
}

bench_case() {
  case_name=$1
  prepare "$1"
  export AOBANAVI_HOME="$home"
  echo "== $1"
  printf '%s\n' "archive: $(lha v "$archive" | tail -n 1 | awk '{ printf "%s members, %.1f MB uncompressed, %.1f MB packed", $2, $5 / 1e6, $4 / 1e6 }')"
  printf '%s\n' "wanted: $(lha v "$archive" | grep -iE 'ZrXXComn|ZrBunsyo|ZrTuBun' | awk '{ printf "%s %.2f MB  ", $NF, $3 / 1e6 }')"
  printf '%-5s %10s %12s %11s %10s %12s %12s\n' run shown_ms restore_ms bsdtar_ms lhasa_ms peak_KiB own_hwm_KiB
  : >"$work/results"
  : >"$work/moments"
  for run in $(seq 1 "$runs"); do
    run_program
    bsdtar_ms=$(run_extractor bsdtar)
    lhasa_ms=$(run_extractor lhasa)
    printf '%-5s %10s %12s %11s %10s %12s %12s\n' "$run" "$shown_ms" "$restore_ms" "$bsdtar_ms" "$lhasa_ms" \
      "$peak_kib" "$own_hwm"
    echo "$shown_ms $restore_ms $bsdtar_ms $lhasa_ms $peak_kib $own_hwm" >>"$work/results"
  done

  col() { awk -v c="$1" '{ print $c }' "$work/results" | median; }
  local shown restore bsdtar lhasa peak own
  shown=$(col 1) restore=$(col 2) bsdtar=$(col 3) lhasa=$(col 4) peak=$(col 5) own=$(col 6)
  printf '%-5s %10s %12s %11s %10s %12s %12s\n' median "$shown" "$restore" "$bsdtar" "$lhasa" "$peak" "$own"
  awk -v s="$shown" -v r="$restore" -v b="$bsdtar" -v l="$lhasa" -v p="$peak" 'BEGIN {
    printf "check+restore / bsdtar+sync = %.2f (target <= 0.9)\n", r / b
    printf "check+restore / lhasa+sync  = %.2f\n", r / l
    printf "peak memory = %.1f MiB (target <= 40)\n", p / 1024
    printf "window shown = %.0f ms (target <= 100)\n", s
  }'
  echo "restore, median ms after the OK:"
  awk '{ if (!($1 in seen)) { seen[$1] = ++n; order[n] = $1 } v[$1] = v[$1] " " $2 }
    END { for (i = 1; i <= n; i++) print order[i], v[order[i]] }' "$work/moments" |
    while read -r name values; do
      printf '  %-26s %8s\n' "$name" "$(tr ' ' '\n' <<<"$values" | median)"
    done
  printf '  %-26s %8s\n' completion-painted "$restore"
}

if [ -n "${BENCH_ARCHIVE:-}" ]; then
  [ -f "$BENCH_ARCHIVE" ] || {
    echo "bench: $BENCH_ARCHIVE is not a file" >&2
    exit 1
  }
  BENCH_ARCHIVE=$(realpath "$BENCH_ARCHIVE")
  bench_case given
else
  for corpus in ${BENCH_CORPORA:-records dense scale users}; do bench_case "$corpus"; done
fi
