#!/usr/bin/env bash
# Installs the build into a staging folder (DESTDIR) and checks what a
# desktop finds there: the program, its database helper, its desktop entry,
# its icons, its AppStream metainfo and its manual page.
#
# Usage: install_check.sh BUILD_DIR VERSION
set -uo pipefail

build=$1
version=$2
stage=$(mktemp -d /tmp/zr-install-check.XXXXXX)
trap 'rm -rf "$stage"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

DESTDIR="$stage" cmake --install "$build" --prefix /usr >"$stage.log" 2>&1 || {
  cat "$stage.log" >&2
  rm -f "$stage.log"
  echo "FAIL: cmake --install failed" >&2
  exit 1
}
rm -f "$stage.log"
root="$stage/usr"

program="$root/bin/ZrBunsyoRes"
[ -x "$program" ] || fail "no executable $program"
[ "$(head -c 4 "$program" 2>/dev/null | od -An -c | tr -d ' ')" = "177ELF" ] || fail "$program is not an ELF program"

# The program looks for its helper at <its folder>/../libexec/zrbunsyores/.
helper="$root/libexec/zrbunsyores/zr-jet-read"
[ -x "$helper" ] || fail "no executable helper $helper"
[ "$(head -c 4 "$helper" 2>/dev/null | od -An -c | tr -d ' ')" = "177ELF" ] || fail "$helper is not an ELF program"

entry="$root/share/applications/ZrBunsyoRes.desktop"
value() { sed -n "s/^$1=//p" "$entry"; }
if [ ! -f "$entry" ]; then
  fail "no desktop entry $entry"
else
  desktop-file-validate "$entry" || fail "desktop-file-validate rejects $entry"
  [ "$(value Name)" = "あおば！ナビ　雛形復旧ツール" ] || fail "Name is '$(value Name)'"
  [ "$(value X-Version)" = "$version" ] || fail "X-Version is '$(value X-Version)', the program's is '$version'"
  [ "$(value Type)" = "Application" ] || fail "Type is '$(value Type)'"
  exec_name=$(value Exec | cut -d' ' -f1)
  [ -x "$root/bin/$exec_name" ] || fail "Exec '$exec_name' is not the installed program"
  icon=$(value Icon)
  [ -n "$icon" ] || fail "the entry names no icon"
fi

metainfo="$root/share/metainfo/jp.aobanavi.ZrBunsyoRes.metainfo.xml"
if [ ! -f "$metainfo" ]; then
  fail "no AppStream metainfo $metainfo"
else
  appstreamcli validate --no-net "$metainfo" >/dev/null || fail "appstreamcli rejects $metainfo"
  grep -q "<launchable type=\"desktop-id\">ZrBunsyoRes.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch the installed desktop entry"
fi

manual="$root/share/man/man1/ZrBunsyoRes.1"
if [ ! -f "$manual" ]; then
  fail "no manual page $manual"
else
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$manual" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"
  grep -q '^ZrBunsyoRes \\- [A-Za-z]' "$manual" ||
    fail "the manual page has no English NAME line for ZrBunsyoRes"
fi

# The daily check's user units, starting the installed program.
units="$stage/usr/lib/systemd/user"
[ -f "$units/zrbunsyores-verify.timer" ] || fail "no user unit $units/zrbunsyores-verify.timer"
grep -qx "ExecStart=/usr/bin/ZrBunsyoRes --verify --new --notify" "$units/zrbunsyores-verify.service" 2>/dev/null ||
  fail "$units/zrbunsyores-verify.service does not start /usr/bin/ZrBunsyoRes --verify --new --notify"

# Every size the theme is given must be a PNG of exactly that size.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'; }
for size in 16x16 32x32 48x48 64x64; do
  file="$root/share/icons/hicolor/$size/apps/${icon:-ZrBunsyoRes}.png"
  if [ ! -f "$file" ]; then
    fail "no icon $file"
  elif [ "$(head -c 8 "$file" | od -An -tx1 | tr -d ' \n')" != "89504e470d0a1a0a" ]; then
    fail "$file is not a PNG"
  elif [ "$(png_size "$file")" != "$size" ]; then
    fail "$file is $(png_size "$file"), not $size"
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "installed files:" >&2
  (cd "$stage" && find . -type f | sort) >&2
  exit 1
fi
echo "install puts the program, its helper, its desktop entry (version $version), four icon sizes, the metainfo, the manual page and the user units in place"
