#!/usr/bin/env bash
# Takes the README's screenshots under Xvfb: the restore window opened on a
# throw-away suite home (docs/screenshots/window.png) and the confirmation
# box (docs/screenshots/confirm.png). Usage: tools/screenshots.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."

# Captures the first visible window whose title holds $1, frame included,
# while the program given after it runs.
shoot() {
  local title=$1 file=$2
  shift 2
  "$@" >/dev/null &
  local pid=$!
  local id geometry
  id=$(xdotool search --sync --onlyvisible --name "$title" | head -n 1)
  xdotool windowactivate --sync "$id" >/dev/null 2>&1 || true
  # The client's place plus the frame the window manager drew around it.
  geometry=$( (xwininfo -id "$id"; xprop -id "$id" _NET_FRAME_EXTENTS) | awk '
    /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /^ *Width/ {w=$NF} /^ *Height/ {h=$NF}
    /_NET_FRAME_EXTENTS/ {gsub(/,/, ""); l=$3; r=$4; t=$5; b=$6}
    END {printf "%dx%d+%d+%d", w + l + r, h + t + b, x - l, y - t}')
  import -window root -crop "$geometry" +repage "$file"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

if [ "${1:-}" = "--inside-x" ]; then
  build=$2 out=$3 home_for_wm=$4
  # Openbox draws minimize and maximize buttons on every window, whatever the
  # window asks for in its Motif hints; the restore window asks for neither,
  # so the title bar is laid out as window icon, title and close box.
  cat >"$home_for_wm/openbox.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><name>Clearlooks</name><titleLayout>NLC</titleLayout></theme>
</openbox_config>
XML
  openbox --config-file "$home_for_wm/openbox.xml" >/dev/null 2>&1 &
  until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; do sleep 0.1; done
  shoot "雛形" "$out/window.png" "$build/ZrBunsyoRes"
  shoot "あおば" "$out/confirm.png" "$build/zr_msgbox" 49 \
    "アセスメント、サービス計画、通所の「雛形（文書選択編集）データ」を復元します。よろしいですか？\r\n\r\n（現在の「雛形（文書選択編集）データ」はすべて上書きされます）"
  exit 0
fi

build=$(cd "${1:-build}" && pwd)
out=docs/screenshots
mkdir -p "$out"

home=$(mktemp -d /tmp/aobanavi-demo.XXXXXX)
trap 'rm -rf "$home"' EXIT
# The window as the demo suite shows it.
"$build/zr-make-demo-suite" "$home" >/dev/null

AOBANAVI_HOME=$home LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash "$0" --inside-x "$build" "$out" "$home"
echo "wrote $out/window.png and $out/confirm.png"
