#!/bin/bash
# The import and the scale of the data, on SQLite and PostgreSQL:
#   - an import file of N demo lines (bench/sales_csv, reused when present);
#   - SQLite: sqlite3's own .import of the file into a plain table, then
#     "tallvero-db import-sales" of the same file (with its rebuild), then
#     .import again, so the ratio is taken side by side under the same
#     load; peak memory of each; the nightly import of the last two months
#     with --replace-periods; the full rebuild; the rebuild of one month;
#     F5 fetches; the database size; "tallvero-report --pdf";
#   - PostgreSQL (a throwaway cluster, scripts/with-pg.sh): the import
#     through COPY without the rebuild, the first build of the sums, a
#     rebuild over built sums, one month, the nightly import, F5, the size
#     and the report page; the server's CPU seconds beside the wall time.
# Writes bench/results/<date>-import-<N>.md and prints it.
#
#   bench/import.sh [--lines N] [--pg-lines N] [--work DIR] [--no-sqlite] [--no-pg]
#                   [--fetch-rounds N] [--keep]
#
# Defaults: 10,000,000 lines for both engines. --keep keeps the databases
# and the import file in the work dir (default: they are deleted at the
# end, the import file stays for the next run unless --clean).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
ARGS="$*"
LINES=10000000 PG_LINES="" SQLITE=1 PG=1 ROUNDS=20 KEEP=0 CLEAN=0 INNER=0
WORK=${TALLVERO_BENCH_WORK:-${XDG_CACHE_HOME:-$HOME/.cache}/tallvero-bench}
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) LINES=$2; shift 2 ;;
    --pg-lines) PG_LINES=$2; shift 2 ;;
    --work) WORK=$2; shift 2 ;;
    --no-sqlite) SQLITE=0; shift ;;
    --no-pg) PG=0; shift ;;
    --fetch-rounds) ROUNDS=$2; shift 2 ;;
    --keep) KEEP=1; shift ;;
    --clean) CLEAN=1; shift ;;
    --pg-inner) INNER=1; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
PG_LINES=${PG_LINES:-$LINES}
BUILD_DIR=${BENCH_BUILD_DIR:-build-bench}
BIN=$ROOT/$BUILD_DIR
DB_TOOL=$BIN/apps/tallvero-db/tallvero-db
REPORT_TOOL=$BIN/apps/tallvero-report/tallvero-report
mkdir -p "$WORK"
OUT=$WORK/import-results.txt

# key=value lines for the report.
put() { echo "$1=$2" >>"$OUT"; }
# Runs a command under /usr/bin/time; records wall, user, sys seconds and
# the peak resident memory in KiB under the given key.
timed() {
  local key=$1; shift
  local t=$WORK/time.txt
  /usr/bin/time -f "%e %U %S %M" -o "$t" "$@"
  read -r wall user sys rss <"$t"
  put "$key.wall" "$wall"; put "$key.user" "$user"; put "$key.sys" "$sys"; put "$key.rss_kb" "$rss"
  echo "  $key: $wall s wall, $user s user, $sys s sys, $rss KiB peak" >&2
}
csv_for() { echo "$WORK/sales-$1.csv"; }
make_csv() {
  local n=$1 csv; csv=$(csv_for "$n")
  if [ ! -s "$csv" ]; then
    echo "== writing $n demo lines to $csv" >&2
    "$BIN/bench/sales_csv" --lines "$n" --out "$csv.part" && mv "$csv.part" "$csv"
  fi
  # The nightly export: the last two months of the same lines.
  if [ ! -s "$csv.last2" ]; then
    { head -1 "$csv"; grep -E '^2026-1[01]-' "$csv"; } >"$csv.last2"
  fi
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

if [ "$INNER" = 0 ]; then
  for tool in sqlite3 /usr/bin/time bc; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (apt-get install sqlite3 time bc)" >&2; exit 2; }
  done
  configure() {
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLVERO_BUILD_TESTS=OFF >/dev/null
  }
  configure || { scripts/install-deps.sh && configure; }
  cmake --build "$BUILD_DIR" -j2 --target sales_csv tallvero-db tallvero-report server_bench
  rm -f "$OUT"
  put date "$(date '+%Y-%m-%d %H:%M')"
  put command "bench/import.sh${ARGS:+ $ARGS}"
  put cpu "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), nproc $(nproc)"
  put ram "$(free -g | awk '/Mem:/ {print $2}') GiB"
  put sqlite_version "$(sqlite3 --version | cut -d' ' -f1)"
  put lines "$LINES"
  put pg_lines "$PG_LINES"
fi

if [ "$INNER" = 0 ] && [ "$SQLITE" = 1 ]; then
  make_csv "$LINES"
  CSV=$(csv_for "$LINES")
  put csv_bytes "$(stat -L -c %s "$CSV")"
  DB=$WORK/import-$LINES.sqlite PLAIN=$WORK/plain-$LINES.sqlite
  plain_import() {
    rm -f "$PLAIN"
    printf '%s\n' "CREATE TABLE t (datum TEXT, firma TEXT, pcnr TEXT, habtnr TEXT, abtnr TEXT, hgrp TEXT, ugrp TEXT, hkgrp TEXT, vart TEXT, hvart TEXT, styp TEXT, umsatz TEXT, kosten TEXT, skonto TEXT, nachlass TEXT);" \
      ".mode csv" ".separator ;" ".import --skip 1 $CSV t" >"$WORK/plain.sql"
    timed "$1" sqlite3 "$PLAIN" <"$WORK/plain.sql"
    rm -f "$PLAIN"
  }
  echo "== SQLite, $LINES lines (load $(load))" >&2
  put sqlite.load_before "$(load)"
  plain_import sqlite.plain1
  rm -f "$DB" "$DB-wal" "$DB-shm"
  "$DB_TOOL" --server "$DB" demo --lines 0 --until 2026-11 >/dev/null 2>&1
  timed sqlite.import "$DB_TOOL" --server "$DB" import-sales "$CSV" >"$WORK/out.txt" 2>/dev/null
  cat "$WORK/out.txt" >&2
  plain_import sqlite.plain2
  put sqlite.load_after_import "$(load)"
  timed sqlite.nightly "$DB_TOOL" --server "$DB" import-sales "$CSV.last2" --replace-periods >"$WORK/out.txt" 2>/dev/null
  put sqlite.nightly_lines "$(($(wc -l <"$CSV.last2") - 1))"
  put sqlite.nightly_replaced "$(sed -n 's/^\([0-9]*\) ältere Zeilen.*/\1/p' "$WORK/out.txt")"
  timed sqlite.rebuild_all "$DB_TOOL" --server "$DB" generate 12001 12611 >/dev/null 2>&1
  # The tool's own time: the process around it is not the rebuild.
  for i in 1 2 3 4 5; do
    "$DB_TOOL" --server "$DB" generate 12611 12611 2>/dev/null | sed -n 's/.*aufgebaut (\([0-9.]*\) s.*/\1/p'
  done | median >"$WORK/m"; put sqlite.rebuild_month.wall "$(cat "$WORK/m")"
  put sqlite.month_lines "$(sqlite3 "$DB" "SELECT COUNT(*) FROM sales_line WHERE periode = 12611")"
  put sqlite.total_lines "$(sqlite3 "$DB" "SELECT COUNT(*) FROM sales_line")"
  put sqlite.db_bytes "$(stat -c %s "$DB")"
  "$BIN/bench/server_bench" --fetch-only --db "$DB" --fetch-rounds "$ROUNDS" --json "$WORK/fetch-sqlite.json"
  put sqlite.fetch "$(tr -d '\n' <"$WORK/fetch-sqlite.json")"
  for i in 1 2 3 4 5; do
    TALLVERO_PASSWORD=demo /usr/bin/time -f "%e" -o "$WORK/t1" "$REPORT_TOOL" --server "$DB" --user DEMO --pdf "$WORK/page.pdf" >/dev/null 2>&1
    cat "$WORK/t1"
  done | median >"$WORK/m"; put sqlite.report_pdf.wall "$(cat "$WORK/m")"
  put sqlite.load_end "$(load)"
  [ "$KEEP" = 1 ] || rm -f "$DB" "$DB-wal" "$DB-shm"
fi

if [ "$INNER" = 0 ] && [ "$PG" = 1 ]; then
  make_csv "$PG_LINES"
  scripts/with-pg.sh "$0" --pg-inner --lines "$LINES" --pg-lines "$PG_LINES" --work "$WORK" \
    --fetch-rounds "$ROUNDS"
fi

if [ "$INNER" = 1 ]; then
  HOST=${TALLVERO_TEST_PG%:*} PORT=${TALLVERO_TEST_PG##*:}
  CSV=$(csv_for "$PG_LINES")
  export TALLVERO_PG_DATABASE=zorvek PGHOST=$HOST PGPORT=$PORT
  # CPU seconds of the cluster's backends while a command runs.
  pgtimed() {
    local key=$1; shift
    "$@" &
    local cpid=$! p f
    declare -A last=()
    while kill -0 "$cpid" 2>/dev/null; do
      for p in $(pgrep -f "postgres: .*zorvek" || true); do
        read -r -a f <"/proc/$p/stat" 2>/dev/null || continue
        last[$p]=$((f[13] + f[14]))
      done
      sleep 0.2
    done
    wait "$cpid"
    local tot=0; for p in "${!last[@]}"; do tot=$((tot + last[$p])); done
    put "$key.server_cpu" "$(echo "scale=2; $tot / $(getconf CLK_TCK)" | bc)"
  }
  echo "== PostgreSQL, $PG_LINES lines (load $(load))" >&2
  put pg.version "$(psql -d zorvek -Atc 'SHOW server_version')"
  put pg.load_before "$(load)"
  "$DB_TOOL" --server "$HOST" --port "$PORT" demo --lines 0 --until 2026-11 >/dev/null 2>&1
  pgtimed pg.import timed pg.import "$DB_TOOL" --server "$HOST" --port "$PORT" import-sales "$CSV" --no-generate >/dev/null 2>&1
  pgtimed pg.first_build timed pg.first_build "$DB_TOOL" --server "$HOST" --port "$PORT" generate 12001 12611 >/dev/null 2>&1
  timed pg.vacuum psql -d zorvek -qc "VACUUM ANALYZE"
  pgtimed pg.rebuild_all timed pg.rebuild_all "$DB_TOOL" --server "$HOST" --port "$PORT" generate 12001 12611 >/dev/null 2>&1
  for i in 1 2 3 4 5; do
    "$DB_TOOL" --server "$HOST" --port "$PORT" generate 12611 12611 2>/dev/null | sed -n 's/.*aufgebaut (\([0-9.]*\) s.*/\1/p'
  done | median >"$WORK/m"; put pg.rebuild_month.wall "$(cat "$WORK/m")"
  pgtimed pg.nightly timed pg.nightly "$DB_TOOL" --server "$HOST" --port "$PORT" import-sales "$CSV.last2" --replace-periods >"$WORK/out.txt" 2>/dev/null
  put pg.nightly_lines "$(($(wc -l <"$CSV.last2") - 1))"
  put pg.month_lines "$(psql -d zorvek -Atc 'SELECT COUNT(*) FROM sales_line WHERE periode = 12611')"
  put pg.total_lines "$(psql -d zorvek -Atc 'SELECT COUNT(*) FROM sales_line')"
  psql -d zorvek -qc "VACUUM ANALYZE"
  put pg.db_bytes "$(psql -d zorvek -Atc 'SELECT pg_database_size(current_database())')"
  put pg.settings "$(psql -d zorvek -Atc "SELECT string_agg(name || ' ' || setting || COALESCE(unit, ''), ', ') FROM pg_settings WHERE name IN ('shared_buffers', 'work_mem', 'fsync', 'max_parallel_workers_per_gather')")"
  "$BIN/bench/server_bench" --fetch-only --db pg-env --fetch-rounds "$ROUNDS" --json "$WORK/fetch-pg.json"
  put pg.fetch "$(tr -d '\n' <"$WORK/fetch-pg.json")"
  for i in 1 2 3 4 5; do
    TALLVERO_PASSWORD=demo /usr/bin/time -f "%e" -o "$WORK/t1" "$REPORT_TOOL" --server "$HOST" --port "$PORT" --user DEMO --pdf "$WORK/page.pdf" >/dev/null 2>&1
    cat "$WORK/t1"
  done | median >"$WORK/m"; put pg.report_pdf.wall "$(cat "$WORK/m")"
  put pg.load_end "$(load)"
  exit 0
fi

if [ "$CLEAN" = 1 ] && [ "$KEEP" = 0 ]; then
  rm -f "$(csv_for "$LINES")" "$(csv_for "$LINES").last2" "$(csv_for "$PG_LINES")" "$(csv_for "$PG_LINES").last2"
fi
mkdir -p bench/results
REPORT=bench/results/$(date +%Y-%m-%d)-import-$LINES.md
n=2
while [ -e "$REPORT" ]; do REPORT=bench/results/$(date +%Y-%m-%d)-import-$LINES-$n.md; n=$((n + 1)); done
python3 bench/import_report.py "$OUT" | tee "$REPORT"
echo "report: $REPORT" >&2
