#!/usr/bin/env bash
# Builds the Debian package as from a clean clone, fails on a lintian error,
# unpacks the package into a scratch root and checks that the program there
# starts and finds its database helper. Everything goes to build-deb/.
#
# Usage: check-package.sh BUILD_DIR   (an ordinary build, for the demo maker)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "$1")
out=$PWD/build-deb
rm -rf "$out"
mkdir -p "$out/src"

# The tracked files, uncommitted changes included: what a clean clone of
# this state would hold. dpkg-buildpackage writes its results beside src/.
tree=$(git -c user.name=check-package -c user.email=check-package@localhost stash create)
git archive "${tree:-HEAD}" | tar -x -C "$out/src"
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
if ! (cd "$out/src" && dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1; then
  tail -n 60 "$out/build.log" >&2
  echo "FAIL: dpkg-buildpackage (log: $out/build.log)" >&2
  exit 1
fi
deb=$(echo "$out"/zrbunsyores_*.deb)
echo "built $(basename "$deb")"

# Errors fail the check; warnings and the rest are shown.
lintian --fail-on error --display-info "$out"/zrbunsyores_*.changes

root=$out/root
dpkg -x "$deb" "$root"
program=$root/usr/bin/ZrBunsyoRes
helper=$root/usr/libexec/zrbunsyores/zr-jet-read
[ -x "$helper" ] || { echo "FAIL: the package holds no $helper" >&2; exit 1; }

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The user units are in the package, and installing it enables them for
# nobody: its postinst runs as on a fresh installation, in a mount namespace
# where /etc/systemd, /var/lib/systemd and /usr/lib/systemd/user are empty
# scratch folders, and must leave no link to them behind.
for unit in zrbunsyores-verify.service zrbunsyores-verify.timer; do
  [ -f "$root/usr/lib/systemd/user/$unit" ] || fail "the package holds no /usr/lib/systemd/user/$unit"
done
mkdir -p "$out/control"
dpkg-deb -e "$deb" "$out/control"
if [ -f "$out/control/postinst" ]; then
  enabled=$(unshare --mount --propagation private bash -euc '
    mkdir -p /etc/systemd /var/lib/systemd /usr/lib/systemd/user
    for d in /etc/systemd /var/lib/systemd /usr/lib/systemd/user; do mount -t tmpfs zr-check "$d"; done
    cp "$1"/usr/lib/systemd/user/* /usr/lib/systemd/user/
    DPKG_MAINTSCRIPT_PACKAGE=zrbunsyores DPKG_MAINTSCRIPT_NAME=postinst sh "$2" configure >/dev/null
    find /etc/systemd -name "zrbunsyores-*"' _ "$root" "$out/control/postinst") ||
    fail "the package's postinst could not be run in a scratch namespace"
  [ -z "$enabled" ] || fail "installing the package enables the user units: $enabled"
fi

# Standard output is what is checked; what the program says on standard
# error is kept in stderr.log.
run() { QT_QPA_PLATFORM=offscreen AOBANAVI_HOME=$out/home timeout 20 "$program" "$@" 2>>"$out/stderr.log"; }

shown=$(run --version) || fail "--version ended with status $?"
[ "$shown" = "ZrBunsyoRes 10.00.0001" ] || fail "--version printed '$shown'"

# --verify reads the backup's common database through the helper.
"$build/zr-make-demo-suite" "$out/home" >/dev/null
archive=$(find "$out/home" -name ZrBackup_20241101.lzh | head -n 1)
[ -n "$archive" ] || fail "the demo maker made no ZrBackup_20241101.lzh"
report=$(run --verify "$archive") || fail "--verify with the installed helper ended with status $?"
case "$report" in
  OK$'\t'*$'\t'9.2.0*) ;;
  *) fail "--verify with the installed helper printed '$report'" ;;
esac
mv "$helper" "$helper.away"
status=0
report=$(run --verify "$archive") || status=$?
mv "$helper.away" "$helper"
[ "$status" -eq 1 ] || fail "--verify without the helper ended with status $status, not 1"
case "$report" in
  NG$'\t'*zr-jet-read*) ;;
  *) fail "--verify without the helper printed '$report', not an NG naming zr-jet-read" ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "the program's standard error ($out/stderr.log):" >&2
  tail -n 20 "$out/stderr.log" >&2
  exit 1
fi
echo "the packaged program starts and reads a backup through its packaged helper"
