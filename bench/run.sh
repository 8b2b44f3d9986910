#!/bin/bash
# Runs the server benchmarks on SQLite and on a throwaway PostgreSQL cluster
# and writes bench/results/<date>-report.md.
#   bench/run.sh [--lines N] [--calls N]
set -euo pipefail
cd "$(dirname "$0")/.."
LINES=10000000 CALLS=2000
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) LINES=$2; shift 2 ;;
    --calls) CALLS=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
scripts/install-deps.sh
BUILD_TYPE=Release scripts/build.sh >/dev/null
BIN=${BUILD_DIR:-build}/bench/server_bench
WORK=$(mktemp -d /tmp/tallvero-bench.XXXXXX)
mkdir -p bench/results
REPORT=bench/results/$(date +%Y-%m-%d)-report.md
{
  echo "# Server benchmarks, $(date '+%Y-%m-%d %H:%M')"
  echo
  echo "- machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
  echo "- SQLite $(dpkg-query -W -f='${Version}' libsqlite3-0), PostgreSQL $(dpkg-query -W -f='${Version}' postgresql-15) on loopback"
  echo "- $LINES demo sales lines, $CALLS calls per query kind"
  echo "- command: bench/run.sh --lines $LINES --calls $CALLS"
  echo
  "$BIN" --db "$WORK/bench.sqlite" --lines "$LINES" --calls "$CALLS"
  scripts/with-pg.sh sh -c "'$BIN' --db 127.0.0.1 --port \${TALLVERO_TEST_PG##*:} --lines $LINES --calls $CALLS"
} | tee "$REPORT"
rm -rf "$WORK"
echo "report: $REPORT"
