#!/usr/bin/env bash
# The kill test of saving (not run by CI): the program rewrites a library in
# batch mode and is killed with SIGKILL at a random moment of the save, many
# times over, on each way a save goes:
#   unnamed   a temporary file without a name (O_TMPFILE), renamed over the library;
#   named     a named temporary file, where unnamed ones are taken away;
#   in-place  the library has a second hard link, so it is rewritten in place.
# Each run must leave the old file or the complete new one, byte for byte, and
# the two temporary-file ways no temporary file but the one a save names
# lib.tlb.zephrin-save (unnamed: only when the kill falls between its naming
# and the rename), which the next save must remove.
# The program stops itself where the save starts writing (the test build's
# preloaded zephrin_testsignal); the kill comes a random time after it goes on,
# up to window microseconds (default 3000: the save itself, from its first
# write to the rename, takes about a millisecond here, the program's exit
# some 50 more). Both old and new files among the results show that the kills
# fell on both sides of the rename.
#
#   tests/tools/kill-test.sh [runs per way] [build folder] [window]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
runs="${1:-200}"
build="$(cd "${2:-build}" && pwd)"
window="${3:-3000}"
bin="$build/bin/zephrin"
preload="$(find "$build" -name 'zephrin_testsignal.so' -print -quit)"
[ -x "$bin" ] && [ -n "$preload" ] || { echo "build the program and the app tests first" >&2; exit 1; }
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
data="$PWD/tests/data/history"
history="$data/member-changes.leh"
cp "$data/session.tlb" "$work/old.tlb"

# Runs the program on folder/lib.tlb in the background with the preloaded
# calls asked for; sets pid to its process id.
start() {
  local folder="$1"; shift
  (cd "$folder" && exec env -u DISPLAY -u WAYLAND_DISPLAY LD_PRELOAD="$preload" "$@" \
     "$bin" -q -leh "$history" lib.tlb >/dev/null 2>&1) &
  pid=$!
}
wait_stopped() {
  local pid="$1"
  for _ in $(seq 1 2000); do
    [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" = T ] && return 0
    sleep 0.005
  done
  return 1
}
now_us() { echo $(( $(date +%s%N) / 1000 )); }
exec {never}<> <(:)  # read from with a time-out: a pause without starting a process
pause_us() { read -r -t "$(printf '%d.%06d' $(( $1 / 1000000 )) $(( $1 % 1000000 )))" -u "$never" _ || true; }
fresh() {  # a folder with the old library (and, in place, a second link)
  rm -rf "$work/run" && mkdir "$work/run" && cp "$work/old.tlb" "$work/run/lib.tlb"
  [ "$1" = in-place ] && ln "$work/run/lib.tlb" "$work/run/link.tlb"
  return 0
}
asked() {
  case "$1" in
    named) echo ZEPHRIN_TEST_STOP_WRITING=1 ZEPHRIN_TEST_NO_TMPFILE=1 ;;
    *) echo ZEPHRIN_TEST_STOP_WRITING=1 ;;
  esac
}

failed=0
for way in unnamed named in-place; do
  # The new file, and how long a save takes from where it stops to its exit.
  fresh "$way"
  start "$work/run" $(asked "$way")
  wait_stopped "$pid" || { echo "$way: the program did not stop" >&2; exit 1; }
  t0="$(now_us)"; kill -CONT "$pid"; wait "$pid" || { echo "$way: the unkilled save failed" >&2; exit 1; }
  span=$(( $(now_us) - t0 ))
  cp "$work/run/lib.tlb" "$work/new.tlb"
  cmp -s "$work/new.tlb" "$work/old.tlb" && { echo "the history changes nothing" >&2; exit 1; }

  old=0 new=0 damaged=0 leftover=0 stray=0 kept=0 finished=0
  for _ in $(seq 1 "$runs"); do
    fresh "$way"
    start "$work/run" $(asked "$way")
    wait_stopped "$pid" || { echo "$way: the program did not stop" >&2; exit 1; }
    delay=$(( RANDOM * 32768 + RANDOM ))
    delay=$(( delay % (window + 1) ))
    kill -CONT "$pid"
    pause_us "$delay"
    kill -9 "$pid" 2>/dev/null || finished=$(( finished + 1 ))
    wait "$pid" 2>/dev/null || true
    if cmp -s "$work/run/lib.tlb" "$work/old.tlb"; then old=$(( old + 1 ))
    elif cmp -s "$work/run/lib.tlb" "$work/new.tlb"; then new=$(( new + 1 ))
    else damaged=$(( damaged + 1 )); fi
    others="$(ls -A "$work/run" | grep -vx -e lib.tlb -e link.tlb || true)"
    if [ -n "$others" ]; then
      leftover=$(( leftover + 1 ))
      [ "$leftover" -le 3 ] && echo "  $way: left $(echo $others) ($(stat -c %s "$work/run/$others" | head -1) bytes)"
      [ "$others" = lib.tlb.zephrin-save ] || stray=$(( stray + 1 ))
      # The next save removes it.
      start "$work/run" $(asked "$way" | sed 's/ZEPHRIN_TEST_STOP_WRITING=1//')
      wait "$pid" || true
      [ -z "$(ls -A "$work/run" | grep -vx -e lib.tlb -e link.tlb || true)" ] || kept=$(( kept + 1 ))
    fi
  done
  echo "$way: $runs kills within ${window} us of the save's first write (unkilled, ${span} us to its exit): old $old, new $new, damaged $damaged," \
       "temporary files left $leftover, of other names $stray, kept by the next save $kept" \
       "(finished before the kill: $finished)"
  [ "$damaged" -eq 0 ] || [ "$way" = in-place ] || failed=1
  [ "$stray" -eq 0 ] && [ "$kept" -eq 0 ] || failed=1
done
exit "$failed"
