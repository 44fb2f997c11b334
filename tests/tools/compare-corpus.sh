#!/usr/bin/env bash
# Local check (not for CI): runs build/bin/tlbdump over the platform's type
# libraries and compares each output with the reference dump made earlier by
# reference-dump. Usage: compare-corpus.sh [BUILD_DIR] [DUMP_DIR] [CORPUS_DIR]
# Prints one line per differing file (with its first differing line) and a
# summary; exit status 1 when any file differs.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$here/build}"
dumps="${2:-/tmp/refdumps}"
corpus="${3:-/usr/lib/i386-linux-gnu/wine/i386-windows}"
tlbdump="$build/bin/tlbdump"
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
[ "$differ" -eq 0 ]
