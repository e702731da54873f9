#!/usr/bin/env bash
# `systemd-analyze verify` on the user units as installed, with the program
# they start being the one just built and the manual page they name being
# ours: a warning counts as a failure.
#
# Usage: units_check.sh SERVICE TIMER MANPAGE PROGRAM
set -uo pipefail

service=$1
timer=$2
manpage=$3
program=$4
work=$(mktemp -d /tmp/zr-units-check.XXXXXX)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/units" "$work/man/man1" "$work/run"
chmod 700 "$work/run"
cp "$manpage" "$work/man/man1/"
cp "$timer" "$work/units/"
name=$(basename "$service" .in)
# Only the program's path changes: the rest of the line is what is installed.
sed -E "s#^ExecStart=[^ ]+#ExecStart=$program#" "$service" >"$work/units/$name"
grep -q "^ExecStart=$program --verify --new --notify$" "$work/units/$name" || {
  echo "FAIL: $service starts no '--verify --new --notify'" >&2
  exit 1
}

cd "$work/units"
output=$(XDG_RUNTIME_DIR="$work/run" MANPATH="$work/man" systemd-analyze --user verify "./$(basename "$timer")" "./$name" 2>&1)
status=$?
if [ "$status" -ne 0 ] || [ -n "$output" ]; then
  echo "$output" >&2
  echo "FAIL: systemd-analyze verify ended with status $status" >&2
  exit 1
fi
echo "systemd-analyze verify: both units pass"
