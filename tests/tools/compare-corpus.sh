#!/usr/bin/env bash
# Local check (not for CI): runs build/bin/tlbdump over the platform's type
# libraries and compares each output with the reference dump made earlier by
# reference-dump. Then copies every file that holds a library with
# build/bin/tlbcopy and compares reference-dump of the copy with the same
# reference dump of the original (set COPY=0 to skip this slower part).
# Usage: compare-corpus.sh [BUILD_DIR] [DUMP_DIR] [CORPUS_DIR]
# Prints one line per differing file (with its first differing line) and a
# summary per part; exit status 1 when any file differs.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$here/build}"
dumps="${2:-/tmp/refdumps}"
corpus="${3:-/usr/lib/i386-linux-gnu/wine/i386-windows}"
tlbdump="$build/bin/tlbdump"
tlbcopy="$build/bin/tlbcopy"
refdump="${REFERENCE_DUMP:-/work/shared/tools/reference-dump}"
[ -x "$tlbdump" ] || { echo "no $tlbdump" >&2; exit 2; }
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
same=0; differ=0; libs_same=0; libs=0
for ref in "$dumps"/*.dump; do
  name="$(basename "$ref" .dump)"
  file="$corpus/$name"
  [ -e "$file" ] || continue
  "$tlbdump" "$file" > "$tmp/out" 2>/dev/null
  haslib=1; grep -q '^LOADFAIL' "$ref" && haslib=0
  libs=$((libs + haslib))
  if cmp -s "$tmp/out" "$ref"; then
    same=$((same + 1)); libs_same=$((libs_same + haslib))
  else
    differ=$((differ + 1))
    line="$(diff <(tr -d '\r' < "$ref") <(tr -d '\r' < "$tmp/out") | head -4 | tr '\n' ' ' | cut -c1-300)"
    echo "DIFF $name: $line"
  fi
done
echo "libraries matching: $libs_same of $libs; all files matching: $same of $((same + differ))"
[ "${COPY:-1}" = 0 ] && { [ "$differ" -eq 0 ]; exit; }

# Copies: one line per library, "SAME name" or "DIFF name: first lines".
copy_one() {
  local name="$1" ref="$dumps/$1.dump" out="$tmp/copy-$1.tlb"
  if ! "$tlbcopy" "$corpus/$name" "$out" > "$tmp/copy-$name.err" 2>&1; then
    echo "DIFF $name: tlbcopy: $(head -1 "$tmp/copy-$name.err")"
    return
  fi
  "$refdump" "$out" > "$tmp/copy-$name.dump" 2>/dev/null
  if diff -q <(tr -d '\r' < "$ref") <(tr -d '\r' < "$tmp/copy-$name.dump") > /dev/null; then
    echo "SAME $name"
  else
    echo "DIFF $name: $(diff <(tr -d '\r' < "$ref") <(tr -d '\r' < "$tmp/copy-$name.dump") | head -4 | tr '\n' ' ' | cut -c1-300)"
  fi
}
export -f copy_one
export tlbcopy refdump dumps corpus tmp
[ -x "$tlbcopy" ] || { echo "no $tlbcopy" >&2; exit 2; }
for ref in "$dumps"/*.dump; do
  name="$(basename "$ref" .dump)"
  [ -e "$corpus/$name" ] && ! grep -q '^LOADFAIL' "$ref" && echo "$name"
done | xargs -P 4 -I{} bash -c 'copy_one "$@"' _ {} | sort > "$tmp/copies"
grep '^DIFF' "$tmp/copies"
copies=$(wc -l < "$tmp/copies")
copies_same=$(grep -c '^SAME' "$tmp/copies")
echo "copies matching: $copies_same of $copies"
[ "$differ" -eq 0 ] && [ "$copies_same" -eq "$copies" ]
