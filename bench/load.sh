#!/bin/bash
# Load benchmark: C headless report clients at once against one PostgreSQL
# server, each fetching its own selection R times in a row; writes
# bench/results/<date>-load.md and prints it.
#
#   bench/load.sh [--lines N] [--clients "1 4 16 32"] [--rounds R] [--keep]
#
# LOAD_BUILD_DIR=DIR LOAD_SKIP_BUILD=1 uses binaries already built there
# (CI); LOAD_REPORT_DIR puts the report elsewhere than bench/results.
#
# Runs inside a throwaway cluster (scripts/with-pg.sh), filled anew each run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
ARGS=()
LINES=500000 CLIENTS="1 4 16 32" ROUNDS=10 KEEP=0 INNER=0
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) LINES=$2; ARGS+=("$1" "$2"); shift 2 ;;
    --clients) CLIENTS=$2; ARGS+=("$1" "\"$2\""); shift 2 ;;
    --rounds) ROUNDS=$2; ARGS+=("$1" "$2"); shift 2 ;;
    --keep) KEEP=1; ARGS+=("$1"); shift ;;
    --inner) INNER=1; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
for v in $LINES $ROUNDS $CLIENTS; do
  [[ $v =~ ^[1-9][0-9]*$ ]] || { echo "not a positive number: $v" >&2; exit 2; }
done

BUILD_DIR=${LOAD_BUILD_DIR:-build-load}
REPORT_BIN=$ROOT/$BUILD_DIR/apps/tallvero-report/tallvero-report
DB_BIN=$ROOT/$BUILD_DIR/apps/tallvero-db/tallvero-db

if [ "$INNER" = 0 ]; then
  # Own Release build dir, so other build dirs stay untouched.
  if [ "${LOAD_SKIP_BUILD:-0}" != 1 ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTALLVERO_BUILD_TESTS=OFF >/dev/null
    ninja -C "$BUILD_DIR" -j2 tallvero-report tallvero-db >/dev/null
  fi
  INNER_ARGS=(--inner --lines "$LINES" --clients "$CLIENTS" --rounds "$ROUNDS")
  [ "$KEEP" = 1 ] && INNER_ARGS+=(--keep)
  LOAD_COMMAND="bench/load.sh${ARGS[*]:+ ${ARGS[*]}}" exec scripts/with-pg.sh "$0" "${INNER_ARGS[@]}"
fi

: "${TALLVERO_TEST_PG:?run through scripts/with-pg.sh}"
PGHOST_=${TALLVERO_TEST_PG%:*} PGPORT_=${TALLVERO_TEST_PG##*:}
WORK=$(mktemp -d /tmp/tallvero-load.XXXXXX)
[ "$KEEP" = 1 ] || trap 'rm -rf "$WORK"' EXIT
echo "work dir: $WORK" >&2

# The fixed selections; client i takes entry i modulo the list length.
SELECTIONS=(
  ""
  "--hg 20"
  "--habt 10"
  "--abt M2"
  "--hkg P --hvart L"
  "--pc 2"
  "--ug 2004 --hg 20"
  "--extended --styp A"
  "--habt 10 --hkg G"
  "--extended --styp L --skonto"
  "--hg 30 --hvart S"
  "--pc 1 --hkg G"
)
printf '%s\n' "${SELECTIONS[@]}" >"$WORK/selections.txt"

export TALLVERO_PASSWORD=demo LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen
# A private HOME: the client's settings of the caller must not leak in.
export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/.config
export XDG_RUNTIME_DIR=$WORK/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"

demo_start=$(date +%s.%N)
"$DB_BIN" --server "$PGHOST_" --port "$PGPORT_" demo --lines "$LINES" --until 2024-03 \
  >"$WORK/demo.log" 2>&1 || { cat "$WORK/demo.log" >&2; exit 1; }
demo_end=$(date +%s.%N)
echo "demo of $LINES lines filled" >&2

# One report run: selection index, output file; prints "rc start end".
one_run() {
  local sel=$1 out=$2 t0 t1 rc=0
  t0=$(date +%s.%N)
  # shellcheck disable=SC2086  # the selection is a list of words
  "$REPORT_BIN" --server "$PGHOST_" --port "$PGPORT_" --firma 1 --filiale 0 --user DEMO \
    ${SELECTIONS[$sel]} --today 2024-03-20 --json "$out" >>"$out.log" 2>&1 || rc=$?
  t1=$(date +%s.%N)
  echo "$rc $t0 $t1"
}

# References: every selection alone, on an idle server.
mkdir -p "$WORK/ref"
: >"$WORK/ref/times.txt"
for i in "${!SELECTIONS[@]}"; do
  read -r rc t0 t1 < <(one_run "$i" "$WORK/ref/sel-$i.json")
  echo "$i 0 $rc $t0 $t1" >>"$WORK/ref/times.txt"
  [ "$rc" = 0 ] || { echo "reference run of selection $i ended with $rc:" >&2; cat "$WORK/ref/sel-$i.json.log" >&2; exit 1; }
done
echo "references written" >&2

# CPU in jiffies: machine busy, machine total, this shell's waited children
# (the clients), the postmaster's waited children (the server backends).
PM_PID=$(head -1 "$(psql -h "$PGHOST_" -p "$PGPORT_" -d zorvek -tAc 'show data_directory')/postmaster.pid")
cpu_snapshot() {
  local u n s i w q sq st busy
  read -r _ u n s i w q sq st _ </proc/stat
  busy=$((u + n + s + q + sq + st))
  echo "$busy $((busy + i + w)) $(awk '{print $16 + $17}' /proc/$$/stat) $(awk '{print $16 + $17}' "/proc/$PM_PID/stat")"
}
# What else runs on the machine: busy share of both cores while idle.
a=$(cpu_snapshot); sleep 3; b=$(cpu_snapshot)
echo "$a" >"$WORK/idle.txt"; echo "$b" >>"$WORK/idle.txt"
echo "$(getconf CLK_TCK) $(cut -d' ' -f1-3 /proc/loadavg)" >"$WORK/clock.txt"

# Load: C clients at once, each R runs in a row.
for c in $CLIENTS; do
  dir=$WORK/c$c
  mkdir -p "$dir"
  cpu_start=$(cpu_snapshot)
  batch_start=$(date +%s.%N)
  for ((p = 0; p < c; p++)); do
    (
      sel=$((p % ${#SELECTIONS[@]}))
      for ((r = 0; r < ROUNDS; r++)); do
        echo "$p $sel $r $(one_run "$sel" "$dir/p$p-r$r.json")" >>"$dir/times-$p.txt"
      done
    ) &
  done
  wait
  batch_end=$(date +%s.%N)
  cpu_end=$(cpu_snapshot)
  echo "$batch_start $batch_end" >"$dir/batch.txt"
  printf '%s\n%s\n' "$cpu_start" "$cpu_end" >"$dir/cpu.txt"
  echo "clients $c: done" >&2
done

REPORT_DIR=${LOAD_REPORT_DIR:-bench/results}
mkdir -p "$REPORT_DIR"
REPORT_BASE=$REPORT_DIR/$(date +%Y-%m-%d)-load
REPORT=$REPORT_BASE.md
n=2
while [ -e "$REPORT" ]; do REPORT=$REPORT_BASE-$n.md; n=$((n + 1)); done
python3 bench/load_report.py --work "$WORK" --clients "$CLIENTS" --rounds "$ROUNDS" \
  --lines "$LINES" --command "${LOAD_COMMAND:-bench/load.sh}" \
  --pg "$TALLVERO_TEST_PG" --demo-start "$demo_start" --demo-end "$demo_end" \
  --report-bin "$REPORT_BIN" | tee "$REPORT"
echo "report: $REPORT" >&2
