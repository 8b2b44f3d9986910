#!/bin/bash
# Builds into build-asan/ with clang, AddressSanitizer +
# UndefinedBehaviorSanitizer and the libFuzzer hooks, runs every test (the
# PostgreSQL ones against a throwaway cluster), a headless report fetch on
# a demo SQLite file under LeakSanitizer, then every fuzz target for
# FUZZ_SECONDS (default 10) each.
#   scripts/sanitize.sh            build, tests, leak check, fuzzing
#   SKIP_TESTS=1 scripts/sanitize.sh   build and leak check only
#   SKIP_FUZZ=1 scripts/sanitize.sh    no fuzzing
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
BUILD_DIR=build-asan

CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DTALLVERO_SANITIZE=ON -DTALLVERO_FUZZ=ON -DTALLVERO_BUILD_BENCH=OFF
cmake --build "$BUILD_DIR" -j2

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Library-internal one-time allocations only; see the comments in the file.
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=1"
export QT_QPA_PLATFORM=offscreen

if [ "${SKIP_TESTS:-0}" != 1 ]; then
  TALLVERO_REQUIRE_PG=1 scripts/with-pg.sh \
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j2
fi

# Headless fetch under LeakSanitizer, with its own home so no settings of
# the calling user are read.
work=$(mktemp -d /tmp/tallvero-lsan.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home"
db="$work/demo.sqlite"
run() { HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" "$@"; }

check_leaks() {  # LOG: fails when LeakSanitizer reported a leak
  if grep -q 'ERROR: LeakSanitizer' "$1"; then
    echo "LeakSanitizer found leaks, see above" >&2
    return 1
  fi
}

run "$BUILD_DIR/apps/tallvero-db/tallvero-db" --server "$db" init \
  2>&1 | tee "$work/init.log"
check_leaks "$work/init.log"
run "$BUILD_DIR/apps/tallvero-db/tallvero-db" --server "$db" demo \
  --lines 20000 --until 2024-03 2>&1 | tee "$work/demo.log"
check_leaks "$work/demo.log"

set +e
run env TALLVERO_PASSWORD=demo "$BUILD_DIR/apps/tallvero-report/tallvero-report" \
  --server "$db" --user DEMO --today 2024-03-20 --hg 20 \
  --json "$work/bericht.json" --pdf "$work/bericht.pdf" 2>"$work/report.log"
rc=$?
set -e
cat "$work/report.log" >&2
check_leaks "$work/report.log"
if [ "$rc" -ne 0 ]; then
  echo "tallvero-report ended with exit code $rc" >&2
  exit 1
fi
if [ ! -s "$work/bericht.json" ] || [ ! -s "$work/bericht.pdf" ]; then
  echo "tallvero-report wrote no JSON or no PDF" >&2; exit 1
fi
grep -q '"result": *"done"' "$work/bericht.json" || {
  echo "the fetch did not finish (fetch.result is not done)" >&2; exit 1; }
if [ "${SKIP_TESTS:-0}" = 1 ]; then
  echo "Leak check passed (tests skipped): no leaks in the headless fetch"
else
  echo "Sanitizer run passed: all tests under ASan/UBSan, no leaks in the headless fetch"
fi
if [ "${SKIP_FUZZ:-0}" != 1 ]; then
  BUILD_DIR=$BUILD_DIR scripts/fuzz.sh
fi
