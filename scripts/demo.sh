#!/usr/bin/env bash
# Sets up the machine, builds the tool, creates the demo suite home (once)
# and opens the tool on it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target ZrBunsyoRes zr-make-demo-suite

home="$PWD/build/demo-home"
build/zr-make-demo-suite "$home"
export AOBANAVI_HOME="$home"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: opening the tool on a virtual X display (xvfb-run); end it with Ctrl+C." >&2
  exec xvfb-run -a -s "-screen 0 1024x768x24" build/ZrBunsyoRes
fi
exec build/ZrBunsyoRes
