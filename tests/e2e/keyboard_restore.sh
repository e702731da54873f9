#!/usr/bin/env bash
# A restore as a user does it with the keyboard alone: the built program on
# its own X server (Xvfb) on the real xcb platform, a fresh demo suite home,
# keys sent with xdotool. Checks the live templates on disk, then ends the
# program with Esc and wants exit status 0.
#
# Usage: keyboard_restore.sh PROGRAM DEMO_MAKER
set -uo pipefail

program=$1
maker=$2
# Every wait below ends at the first sign of progress; the deadline only
# bounds a hang. Sanitizer builds start several times slower.
deadline_seconds=${ZR_E2E_DEADLINE:-90}

work=$(mktemp -d /tmp/zr-e2e-keyboard.XXXXXX)
xvfb_pid=
wm_pid=
program_pid=

finish() {
  if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then kill "$program_pid" 2>/dev/null; fi
  if [ -n "$wm_pid" ] && kill -0 "$wm_pid" 2>/dev/null; then kill "$wm_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then kill "$xvfb_pid" 2>/dev/null; fi
  wait 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -s "$work/program.log" ]; then
    echo "--- program output ---" >&2
    cat "$work/program.log" >&2
  fi
  if [ -s "$work/home/log/error.log" ]; then
    echo "--- suite error log ---" >&2
    cat "$work/home/log/error.log" >&2
  fi
  exit 1
}

now() { date +%s.%N; }
past() { awk -v t="$(now)" -v d="$1" 'BEGIN { exit !(t > d) }'; }
deadline() { awk -v t="$(now)" -v s="$deadline_seconds" 'BEGIN { printf "%.3f", t + s }'; }

# Polls until the command given succeeds; fails the test at the deadline.
wait_for() {
  local what=$1 limit
  shift
  limit=$(deadline)
  until "$@"; do
    if [ -n "$program_pid" ] && ! kill -0 "$program_pid" 2>/dev/null; then fail "the program ended while waiting for $what"; fi
    kill -0 "$xvfb_pid" 2>/dev/null || fail "the X server ended while waiting for $what"
    if [ -n "$wm_pid" ] && ! kill -0 "$wm_pid" 2>/dev/null; then fail "the window manager ended while waiting for $what"; fi
    past "$limit" && fail "no $what within ${deadline_seconds}s"
    sleep 0.05
  done
}

# The first visible window whose whole title is $1 and whose id is not $2.
visible_window() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -vx "${2:--}" | head -n 1
}
window_appears() {
  found=$(visible_window "$1" "${2:-}")
  [ -n "$found" ]
}
window_gone() { ! xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -qx "$2"; }
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }

# --- an X server of our own ---------------------------------------------------
command -v Xvfb >/dev/null || fail "Xvfb is not installed (scripts/bootstrap.sh installs it)"
command -v xdotool >/dev/null || fail "xdotool is not installed (scripts/bootstrap.sh installs it)"
command -v lha >/dev/null || fail "lha (lhasa) is not installed (scripts/bootstrap.sh installs it)"
command -v openbox >/dev/null || fail "openbox is not installed (scripts/bootstrap.sh installs it)"
command -v xprop >/dev/null || fail "xprop is not installed (scripts/bootstrap.sh installs it)"

# -displayfd lets the server pick a free display, so parallel runs never meet.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
limit=$(deadline)
until grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null; do
  if ! kill -0 "$xvfb_pid" 2>/dev/null || past "$limit"; then
    sed 's/^/  /' "$work/xvfb.log" >&2
    fail "Xvfb cannot run here"
  fi
  sleep 0.05
done
export DISPLAY=":$(head -n 1 "$work/display")"
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb
export LC_ALL=C.UTF-8
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# A window manager, as on every desktop: it is what hands the focus back to
# the restore window when a message box closes.
mkdir -p "$work/wm"
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
for attempt in 1 2 3; do
  HOME="$work/wm" XDG_CONFIG_HOME="$work/wm" XDG_CACHE_HOME="$work/wm" openbox >"$work/wm.log" 2>&1 &
  wm_pid=$!
  limit=$(deadline)
  until wm_ready || ! kill -0 "$wm_pid" 2>/dev/null || past "$limit"; do sleep 0.05; done
  wm_ready && break
  echo "openbox did not start (attempt $attempt): $(cat "$work/wm.log")" >&2
  kill "$wm_pid" 2>/dev/null
  wm_pid=
done
[ -n "$wm_pid" ] || fail "no window manager on $DISPLAY"

# --- the suite home -------------------------------------------------------------
home="$work/home"
"$maker" "$home" >/dev/null || fail "the demo maker failed"
export AOBANAVI_HOME="$home"
archive="$home/backup/ZrDataBK/ZrBackup_20241101.lzh"
[ -f "$archive" ] || fail "the demo has no $archive"
for member in ZrBunsyo.wf6 ZrTuBun.wf6; do
  lha pq "$archive" "Work/$member" >"$work/expected-$member" || fail "lha cannot read Work/$member"
  [ -s "$work/expected-$member" ] || fail "lha gave nothing for Work/$member"
  # Otherwise an untouched live file would pass for a restored one.
  cmp -s "$work/expected-$member" "$home/data/Work/$member" &&
    fail "the live $member already equals the archive's before the restore"
done

# --- the user's keys ------------------------------------------------------------
main_title="あおば！ナビ　雛形（文書選択編集）ファイル復旧ツール"
box_title="あおば！ナビ"

"$program" >"$work/program.log" 2>&1 &
program_pid=$!

wait_for "restore window" window_appears "$main_title"
main=$found
# The installed desktop entry finds the window by this class.
xprop -id "$main" WM_CLASS | grep -q '"ZrBunsyoRes"' || fail "the window's WM_CLASS is $(xprop -id "$main" WM_CLASS)"
wait_for "keyboard focus on the restore window" has_focus "$main"

# Focus starts on 参照; Tab, Tab reach the list. Entering the list puts its
# caret on the first entry without selecting it, so Down selects the second
# and Up comes back to select the first: the 2024-11-01 backup.
xdotool key --delay 20 Tab Tab Down Up Tab Return

wait_for "confirmation box" window_appears "$box_title"
confirmation=$found
wait_for "keyboard focus on the confirmation" has_focus "$confirmation"
xdotool key Return

wait_for "confirmation box to close" window_gone "$box_title" "$confirmation"
wait_for "completion message" window_appears "$box_title" "$confirmation"
completion=$found
wait_for "keyboard focus on the completion message" has_focus "$completion"
xdotool key Return
wait_for "completion message to close" window_gone "$box_title" "$completion"

# --- what is on disk ---------------------------------------------------------------
for member in ZrBunsyo.wf6 ZrTuBun.wf6; do
  cmp "$work/expected-$member" "$home/data/Work/$member" || fail "live $member differs from the archive's member"
done
left=$(find "$home/data" -type f ! -path "$home/data/Work/ZrBunsyo.wf6" ! -path "$home/data/Work/ZrTuBun.wf6")
[ -z "$left" ] || fail "other files in the data folder: $left"
left=$(find "$home/temp" -mindepth 1)
[ -z "$left" ] || fail "left in the temporary folder: $left"
[ -e "$home/log/error.log" ] && fail "the suite error log has entries"

# --- Esc ends the program ------------------------------------------------------------
wait_for "keyboard focus back on the restore window" has_focus "$main"
xdotool key Escape
limit=$(deadline)
while kill -0 "$program_pid" 2>/dev/null; do
  past "$limit" && fail "the program still runs ${deadline_seconds}s after Esc"
  sleep 0.05
done
wait "$program_pid"
status=$?
program_pid=
[ "$status" -eq 0 ] || fail "the program ended with status $status"
echo "restored both templates with the keyboard; the program ended with status 0"
