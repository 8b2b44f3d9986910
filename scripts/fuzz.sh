#!/bin/bash
# Runs every libFuzzer target for a bounded time and reports executions,
# coverage and findings.
#   scripts/fuzz.sh                   build build-asan (clang) and fuzz 10 s each
#   FUZZ_SECONDS=600 scripts/fuzz.sh  a longer run
#   scripts/fuzz.sh --build-only
# BUILD_DIR reuses a tree already configured with TALLVERO_FUZZ=ON (the
# sanitizer script's). Exits 1 on any crash, leak, time-out or failed
# invariant; the reproducer's path is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
BUILD_DIR=${BUILD_DIR:-build-asan}
SECONDS_EACH=${FUZZ_SECONDS:-10}
TARGETS="piece dbcalld cmdline connectstring xecute import settings"

if [ ! -f "$BUILD_DIR/build.ninja" ] || ! grep -q 'TALLVERO_FUZZ:BOOL=ON' "$BUILD_DIR/CMakeCache.txt"; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DTALLVERO_SANITIZE=ON -DTALLVERO_FUZZ=ON -DTALLVERO_BUILD_BENCH=OFF >/dev/null
fi
ninja -C "$BUILD_DIR" -j2 $(for t in $TARGETS; do echo "fuzz_$t"; done) >/dev/null
[ "${1:-}" = --build-only ] && exit 0

work=$(mktemp -d /tmp/tallvero-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

maxlen() {
  case "$1" in
    import|xecute|settings) echo 4096 ;;
    *) echo 1024 ;;
  esac
}

printf '| target | seconds | executions | exec/s | coverage (cov) | features (ft) | corpus | findings |\n'
printf '|---|---:|---:|---:|---:|---:|---:|---|\n'
failed=0
for t in $TARGETS; do
  corpus="$work/corpus-$t"
  mkdir -p "$corpus" "$work/art-$t"
  cp "fuzz/corpus/$t/"* "$corpus/" 2>/dev/null || true
  log="$work/$t.log"
  set +e
  "$BUILD_DIR/fuzz/fuzz_$t" "$corpus" -max_total_time="$SECONDS_EACH" -timeout=10 \
    -rss_limit_mb=2048 -max_len="$(maxlen "$t")" -print_final_stats=1 \
    -artifact_prefix="$work/art-$t/" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  last=$(grep -E '#[0-9]+.*cov:' "$log" | tail -1)
  cov=$(echo "$last" | grep -o 'cov: [0-9]*' | grep -o '[0-9]*' || true)
  ft=$(echo "$last" | grep -o 'ft: [0-9]*' | grep -o '[0-9]*' || true)
  units=$(echo "$last" | grep -o 'corp: [0-9]*' | grep -o '[0-9]*' || true)
  findings=$(ls "$work/art-$t" | wc -l)
  what="none"
  if [ "$rc" -ne 0 ] || [ "$findings" -ne 0 ]; then
    failed=1
    mkdir -p "$root/build-fuzz-findings"
    cp "$work/art-$t/"* "$root/build-fuzz-findings/" 2>/dev/null || true
    what="exit $rc: $(ls "$work/art-$t" | tr '\n' ' ')(copied to build-fuzz-findings/)"
    echo "--- $t log (tail) ---" >&2; tail -40 "$log" >&2
  fi
  printf '| %s | %s | %s | %s | %s | %s | %s | %s |\n' "$t" "$SECONDS_EACH" "$execs" "$rate" \
    "${cov:-?}" "${ft:-?}" "${units:-?}" "$what"
done
exit $failed
