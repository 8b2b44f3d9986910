#!/bin/bash
# Builds the server benchmark, fills the demo databases, measures and writes
# bench/results/<date>-report.md (other sizes than the default:
# <date>-report-<N>-lines.md), and prints the report; then the report book
# on the SQLite demo (<date>-book.md) and the page alone (<date>-page.md).
#
#   bench/run.sh [--lines N] [--calls N] [--naive-calls N] [--work DIR]
#                [--no-sqlite] [--no-pg]
#
# SQLite: a file in the work dir, reused when it already holds the same demo
# (same size, seed and last month). PostgreSQL: a throwaway cluster on
# loopback (scripts/with-pg.sh), filled anew on every run.
set -euo pipefail
cd "$(dirname "$0")/.."
ARGS="$*"
LINES=10000000 CALLS=2000 NAIVE=100 SQLITE=1 PG=1
WORK=${TALLVERO_BENCH_WORK:-${XDG_CACHE_HOME:-$HOME/.cache}/tallvero-bench}
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) LINES=$2; shift 2 ;;
    --calls) CALLS=$2; shift 2 ;;
    --naive-calls) NAIVE=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    --no-sqlite) SQLITE=0; shift ;;
    --no-pg) PG=0; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

# A build dir of its own, so the Release build does not disturb build/.
BUILD_DIR=${BENCH_BUILD_DIR:-build-bench}
configure() {
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLVERO_BUILD_TESTS=OFF >/dev/null
}
configure || { scripts/install-deps.sh && configure; }
cmake --build "$BUILD_DIR" -j2 --target server_bench page_bench book_bench
BIN=$(pwd)/$BUILD_DIR/bench/server_bench

mkdir -p "$WORK" bench/results
COMMON=(--lines "$LINES" --calls "$CALLS" --naive-calls "$NAIVE")
RUNS=()
if [ "$SQLITE" = 1 ]; then
  rm -f "$WORK/sqlite-$LINES.json"
  "$BIN" --db "$WORK/demo-$LINES.sqlite" --reuse "${COMMON[@]}" --json "$WORK/sqlite-$LINES.json"
  RUNS+=("$WORK/sqlite-$LINES.json")
fi
if [ "$PG" = 1 ]; then
  rm -f "$WORK/postgres-$LINES.json"
  scripts/with-pg.sh "$BIN" --db pg-env "${COMMON[@]}" --json "$WORK/postgres-$LINES.json"
  RUNS+=("$WORK/postgres-$LINES.json")
fi
[ ${#RUNS[@]} -gt 0 ] || { echo "nothing to run" >&2; exit 2; }

if [ "$LINES" = 10000000 ]; then
  BASE=bench/results/$(date +%Y-%m-%d)-report
else
  BASE=bench/results/$(date +%Y-%m-%d)-report-$LINES-lines
fi
# A later run of the same day gets its own file: -2, -3, ...
REPORT=$BASE.md
n=2
while [ -e "$REPORT" ]; do REPORT=$BASE-$n.md; n=$((n + 1)); done
"$BIN" --report --command "bench/run.sh${ARGS:+ $ARGS}" "${RUNS[@]}" \
  | tee "$REPORT"
echo "report: $REPORT" >&2

# The report book on the SQLite demo: tallvero-report --book, in-process
# and through the binary.
if [ "$SQLITE" = 1 ]; then
  BOOK=bench/results/$(date +%Y-%m-%d)-book.md
  n=2
  while [ -e "$BOOK" ]; do BOOK=bench/results/$(date +%Y-%m-%d)-book-$n.md; n=$((n + 1)); done
  "$(pwd)/$BUILD_DIR/bench/book_bench" --db "$WORK/demo-$LINES.sqlite" --rounds 7 \
    --command "bench/run.sh${ARGS:+ $ARGS}" --out "$BOOK"
  echo "book report: $BOOK" >&2
fi

# The report page: redraw, PDF and PNG, no database needed.
PAGE=bench/results/$(date +%Y-%m-%d)-page.md
n=2
while [ -e "$PAGE" ]; do PAGE=bench/results/$(date +%Y-%m-%d)-page-$n.md; n=$((n + 1)); done
"$(pwd)/$BUILD_DIR/bench/page_bench" --rounds 200 --out "$PAGE"
echo "page report: $PAGE" >&2
