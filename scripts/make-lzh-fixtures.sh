#!/usr/bin/env bash
# Regenerates the compressed LZH fixtures under tests/lzh/fixtures/ with
# jlha-utils (Debian package jlha-utils; not needed to build or test, the
# fixtures are committed). Member contents come from the same generator as
# tests/lzh/FixtureContent.cpp, so the tests can check them byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
out="$PWD/tests/lzh/fixtures"
command -v jlha >/dev/null || { echo "jlha not installed (apt-get install jlha-utils)" >&2; exit 1; }
command -v lhasa >/dev/null || { echo "lhasa not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C.UTF-8

mkdir -p "$work/src/Data" "$work/src/Work" "$work/bs"
python3 - "$work/src" <<'PY'
import sys, os
words = [b'alpha ', b'beta ', b'ZrXX ', b'\r\n', b'gamma ', 'テンプレート '.encode()]
def gen(start, n):
    x = start
    out = []
    for _ in range(n):
        x = (x * 1103515245 + 12345) % (1 << 31)
        out.append(words[(x >> 16) % len(words)])
    return b''.join(out)
root = sys.argv[1]
for name, start, n in [('Data/ZrXXComn.wf6', 1, 6000), ('Work/ZrBunsyo.wf6', 2, 3000), ('Work/ZrTuBun.wf6', 3, 2000)]:
    with open(os.path.join(root, name), 'wb') as f:
        f.write(gen(start, n))
PY
printf 'x\n' > "$work/src/Data/表示.txt"
printf 'y\n' > "$work/src/ソフト.txt"
# Names that carry a literal backslash, as some Windows tools leave them at levels 1 and 2.
cp "$work/src/Data/ZrXXComn.wf6" "$work/bs/Data\\ZrXXComn.wf6"
cp "$work/src/Work/ZrBunsyo.wf6" "$work/bs/Work\\ZrBunsyo.wf6"
find "$work/src" "$work/bs" -type f -exec touch -d '2024-01-02 03:04:06' {} +

wanted=(Data/ZrXXComn.wf6 Work/ZrBunsyo.wf6 Work/ZrTuBun.wf6)
made=()
for m in 5 6 7; do
  for h in 0 1 2; do
    (cd "$work/src" && jlha "c${h}qo${m}" "$out/lh${m}_h${h}.lzh" "${wanted[@]}")
    made+=("lh${m}_h${h}.lzh")
  done
done
for h in 0 1 2; do
  (cd "$work/src" && jlha "c${h}yqo5" "$out/jp_h${h}.lzh" 'Data/表示.txt' 'ソフト.txt' "${wanted[@]}")
  made+=("jp_h${h}.lzh")
done
for h in 1 2; do
  (cd "$work/bs" && jlha "c${h}qo5" "$out/bslash_h${h}.lzh" 'Data\ZrXXComn.wf6' 'Work\ZrBunsyo.wf6')
  made+=("bslash_h${h}.lzh")
done

# jlha exits 0 even when it wrote nothing: check every archive with lhasa.
for f in "${made[@]}"; do
  size=$(stat -c %s "$out/$f")
  [ "$size" -gt 100 ] || { echo "$f: jlha wrote no archive" >&2; exit 1; }
  lhasa t "$out/$f" >/dev/null
done
for m in 5 6 7; do
  for h in 0 1 2; do
    lhasa v "$out/lh${m}_h${h}.lzh" | grep -q -- "-lh${m}-" || { echo "lh${m}_h${h}.lzh: not -lh${m}-" >&2; exit 1; }
    for w in "${wanted[@]}"; do
      lhasa pq "$out/lh${m}_h${h}.lzh" "$w" | cmp -s - "$work/src/$w" || { echo "lh${m}_h${h}.lzh: $w differs" >&2; exit 1; }
    done
  done
done
echo "made ${#made[@]} fixtures in $out"
