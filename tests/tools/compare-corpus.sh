#!/usr/bin/env bash
# Local check (not for CI): runs build/bin/tlbdump over the platform's type
# libraries and compares each output with the reference dump made earlier by
# reference-dump. Then copies every file that holds a library with
# build/bin/tlbcopy, and regenerates it with build/bin/tlbregen (no requests),
# and compares reference-dump of each result with the same reference dump of
# the original, and runs the program's batch mode over it with a history of no
# changes (zephrin -quiet -out MSG -leh empty.leh -tlb LIB -saveas OUT), which
# must save the same (set COPY=0, REGEN=0 or BATCH=0 to skip these slower
# parts). A library that tlbregen or the batch run can't rebuild is listed as
# FAIL with its error (the batch run's from its message file, exit code 2),
# and must have left no file.
# Usage: compare-corpus.sh [BUILD_DIR] [DUMP_DIR] [CORPUS_DIR]
# Prints one line per differing file (with its first differing line) and a
# summary per part; exit status 1 when any file differs.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${1:-$here/build}"
dumps="${2:-/tmp/refdumps}"
corpus="${3:-/usr/lib/i386-linux-gnu/wine/i386-windows}"
tlbdump="$build/bin/tlbdump"
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

# Copies and regenerations: one line per library, "SAME name", "DIFF name:
# first lines" or (regenerations only) "FAIL name: error".
check_one() {
  local tool="$1" name="$2" ref="$dumps/$2.dump" out="$tmp/$1-$2.tlb" err="$tmp/$1-$2.err"
  local run=("$build/bin/$tool" "$corpus/$name" "$out")
  if [ "$tool" = zephrin ]; then
    run=("$build/bin/zephrin" -quiet -out "$err" -leh "$tmp/empty.leh" -tlb "$corpus/$name" -saveas "$out")
  fi
  "${run[@]}" >> "$err" 2>&1
  local rc=$?
  if [ $rc -ne 0 ]; then
    if [ "$tool" = zephrin ] && [ ! -e "$out" ] && [ $rc -eq 2 ] && [ -s "$err" ]; then
      echo "FAIL $name: $(grep -v '^\*\{13\} ' "$err" | head -1 | tr -d '\r')"
    elif [ "$tool" = tlbregen ] && [ ! -e "$out" ]; then
      echo "FAIL $name: $(head -1 "$err")"
    else
      echo "DIFF $name: $tool: $(head -1 "$err")"
    fi
    return
  fi
  "$refdump" "$out" > "$tmp/$1-$name.dump" 2>/dev/null
  if diff -q <(tr -d '\r' < "$ref") <(tr -d '\r' < "$tmp/$1-$name.dump") > /dev/null; then
    echo "SAME $name"
  else
    echo "DIFF $name: $(diff <(tr -d '\r' < "$ref") <(tr -d '\r' < "$tmp/$1-$name.dump") | head -4 | tr '\n' ' ' | cut -c1-300)"
  fi
}
export -f check_one
export build refdump dumps corpus tmp
libraries() {
  for ref in "$dumps"/*.dump; do
    name="$(basename "$ref" .dump)"
    [ -e "$corpus/$name" ] && ! grep -q '^LOADFAIL' "$ref" && echo "$name"
  done
}
status=0
[ "$differ" -eq 0 ] || status=1
# A history of no changes: magic, version 4, three empty reference tables and
# the end mark (the program never saves an empty history itself).
printf 'WEXO\x04\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\xff\xff\xff\xff' > "$tmp/empty.leh"
for tool in tlbcopy tlbregen zephrin; do
  if [ "$tool" = tlbcopy ] && [ "${COPY:-1}" = 0 ]; then continue; fi
  if [ "$tool" = tlbregen ] && [ "${REGEN:-1}" = 0 ]; then continue; fi
  if [ "$tool" = zephrin ] && [ "${BATCH:-1}" = 0 ]; then continue; fi
  [ -x "$build/bin/$tool" ] || { echo "no $build/bin/$tool" >&2; exit 2; }
  libraries | xargs -P 4 -I{} bash -c 'check_one "$@"' _ "$tool" {} | sort > "$tmp/$tool"
  grep -v '^SAME' "$tmp/$tool"
  total=$(wc -l < "$tmp/$tool")
  matching=$(grep -c '^SAME' "$tmp/$tool")
  failing=$(grep -c '^FAIL' "$tmp/$tool")
  echo "$tool: matching $matching of $total; can't be rebuilt: $failing"
  [ "$(grep -c '^DIFF' "$tmp/$tool")" -eq 0 ] || status=1
done
exit $status
