#!/usr/bin/env bash
# Plays a whole editing session of the program's windows (tests/session/SessionDriver.cpp)
# under valgrind, offscreen, on a small library: every context-menu command that opens a
# dialog or a message, the format menus and the history window's menus. Qt is not built
# with AddressSanitizer, so a use of freed memory inside Qt shows only here. Fails on any
# invalid read, write or free that tests/tools/valgrind.supp does not name, and when the
# session does not run to its end. The scripted session ends with random steps
# ($ZEPHRIN_SESSION_STEPS of them, 40 by default, from $ZEPHRIN_SESSION_SEED, 1 by
# default): keys, clicks and menu commands, each dialog answered at random.
#
# valgrind can't run a sanitizer build: the driver is built on its own, optimised and
# without sanitizers, in build-valgrind (or $ZEPHRIN_VALGRIND_BUILD), with ccache when
# there is one. $JOBS limits the build's parallel jobs.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."

if ! command -v valgrind >/dev/null 2>&1; then
  echo "valgrind-session: valgrind is not installed" >&2
  exit 2
fi

build="${ZEPHRIN_VALGRIND_BUILD:-build-valgrind}"
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# ZEPHRIN_VALGRIND_BUILD_TYPE=Release plays it on the optimised build users run.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${ZEPHRIN_VALGRIND_BUILD_TYPE:-RelWithDebInfo}" \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
      -DZEPHRIN_SANITIZE=OFF -DZEPHRIN_WERROR=OFF -DZEPHRIN_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target session_driver

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp tests/data/forms/dispatch.tlb "$work/"
log="$work/valgrind.log"
steps="$work/session.log"

echo "valgrind-session: playing the session under valgrind"
status=0
# Qt's regular expressions (the file chooser's filters) run as machine code made at run
# time, in which memcheck sees uninitialised values it can't place in any library:
# they are interpreted instead.
HOME="$work" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=offscreen QT_ENABLE_REGEXP_JIT=0 \
  ZEPHRIN_SESSION_STEPS="${ZEPHRIN_SESSION_STEPS:-40}" ZEPHRIN_SESSION_SEED="${ZEPHRIN_SESSION_SEED:-1}" \
  valgrind --tool=memcheck --error-exitcode=97 --leak-check=no --num-callers=30 \
           --suppressions=tests/tools/valgrind.supp --log-file="$log" \
           "$build/bin/session_driver" "$work/dispatch.tlb" 2>"$steps" || status=$?
if [ "$status" -ne 0 ]; then
  grep -v "^This plugin does not support" "$steps" >&2 || true
  cat "$log" >&2
  if [ "$status" -eq 97 ]; then
    echo "valgrind-session: valgrind found invalid memory use (above)" >&2
  else
    echo "valgrind-session: the session failed with exit code $status" >&2
  fi
  exit 1
fi
echo "valgrind-session: $(grep -c '^session: ' "$steps") steps; $(grep -o 'ERROR SUMMARY.*' "$log")"
echo "valgrind-session: passed"
