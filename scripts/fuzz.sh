#!/bin/bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan + fuzzer
# hooks) and runs each for a bounded time; prints executions, executions
# per second, coverage and findings per target. See docs/fuzzing.md and
# docs/reliability.md.
#   scripts/fuzz.sh                    build build-fuzz/, fuzz 10 s per target
#   FUZZ_SECONDS=600 scripts/fuzz.sh   the long run
#   FUZZ_TARGETS="xecute import" scripts/fuzz.sh   only these targets
#   scripts/fuzz.sh --build-only       configure and build, no fuzzing
#   BUILD_DIR=build-asan scripts/fuzz.sh   reuse a tree another script built
# Exits 1 on any finding (crash, leak, time-out, out of memory, failed
# invariant); the reproducers are copied to fuzz/findings/ and their paths
# printed. The seed corpus in fuzz/corpus/ is copied, never written.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
BUILD_DIR=${BUILD_DIR:-build-fuzz}
SECONDS_EACH=${FUZZ_SECONDS:-10}
TARGETS=${FUZZ_TARGETS:-"piece dbcalld cmdline connectstring xecute import settings"}
BUILD_ONLY=0
case "${1:-}" in
  --build-only) BUILD_ONLY=1 ;;
  "") ;;
  *) echo "usage: scripts/fuzz.sh [--build-only]" >&2; exit 2 ;;
esac

# Longest input per target: long enough for a realistic file or line,
# short enough that one execution stays in the millisecond range.
max_len() {
  case "$1" in
    connectstring) echo 512 ;;
    piece | cmdline | xecute) echo 1024 ;;
    settings) echo 2048 ;;
    dbcalld | import) echo 4096 ;;
    *) echo 1024 ;;
  esac
}

# RelWithDebInfo: building the fuzz targets takes about as long as at -O0
# (measured 199 s against 182 s from scratch), and they run two to five
# times as many inputs per second. FUZZ_BUILD_TYPE=Debug for stepping
# through a finding.
if [ -f "$BUILD_DIR/CMakeCache.txt" ]; then
  # An existing tree keeps its compiler and build type; it only has to
  # have the fuzz option. A tree of another compiler is left alone (turning
  # the option on there would break its next configure).
  if ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang' "$BUILD_DIR/CMakeCache.txt"; then
    echo "scripts/fuzz.sh: $BUILD_DIR is not a clang build; fuzzing needs clang" >&2
    exit 2
  fi
  if ! grep -q '^TALLVERO_FUZZ:BOOL=ON' "$BUILD_DIR/CMakeCache.txt"; then
    cmake -S . -B "$BUILD_DIR" -DTALLVERO_SANITIZE=ON -DTALLVERO_FUZZ=ON
  fi
else
  CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE="${FUZZ_BUILD_TYPE:-RelWithDebInfo}" \
    -DTALLVERO_SANITIZE=ON -DTALLVERO_FUZZ=ON -DTALLVERO_BUILD_BENCH=OFF
fi
targets=()
for t in $TARGETS; do targets+=("fuzz_$t"); done
cmake --build "$BUILD_DIR" -j2 --target "${targets[@]}"
[ "$BUILD_ONLY" = 1 ] && exit 0

work=$(mktemp -d /tmp/tallvero-fuzz.XXXXXX)
# Temporary files of the targets on tmpfs where there is one (the settings
# target syncs a file per input), gone after the run even after a crash.
scratch=$(mktemp -d /dev/shm/tallvero-fuzz.XXXXXX 2>/dev/null || mktemp -d "$work/tmp.XXXXXX")
trap 'rm -rf "$work" "$scratch"' EXIT
export TMPDIR="$scratch"
# A home of its own: nothing of the calling user's settings or data is read.
mkdir -p "$work/home"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
# An impossible allocation returns null as glibc's malloc does (instead of
# aborting); a large one that succeeds is still caught by -malloc_limit_mb,
# which follows -rss_limit_mb.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp"

final_stat() {  # LOG NAME: a value of libFuzzer's final statistics
  sed -n "s/^stat::$2: *\([0-9]*\).*/\1/p" "$1" | tail -1
}

printf '%-14s %8s %12s %9s %7s %8s %8s  %s\n' target seconds executions exec/s cov ft corpus findings
failed=0
found=()
start=$(date +%s)
for t in $TARGETS; do
  corpus="$work/corpus/$t"
  artifacts="$work/artifacts/$t/"
  mkdir -p "$corpus" "$artifacts"
  if [ -d "fuzz/corpus/$t" ]; then cp "fuzz/corpus/$t/"* "$corpus/" 2>/dev/null || true; fi
  log="$work/$t.log"
  # Keywords the fuzzer cannot see compared (Qt and its regular expressions
  # are not instrumented).
  dict=()
  if [ -f "fuzz/dict/$t.dict" ]; then dict=(-dict="fuzz/dict/$t.dict"); fi
  set +e
  "$BUILD_DIR/fuzz/fuzz_$t" "$corpus" -max_total_time="$SECONDS_EACH" -timeout=10 \
    -rss_limit_mb=2048 -max_len="$(max_len "$t")" -print_final_stats=1 \
    -artifact_prefix="$artifacts" "${dict[@]}" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(final_stat "$log" number_of_executed_units)
  rate=$(final_stat "$log" average_exec_per_sec)
  last=$(grep -E '^#[0-9]+' "$log" | grep 'cov:' | tail -1 || true)
  cov=$(sed -n 's/.*cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.*ft: \([0-9]*\).*/\1/p' <<<"$last")
  units=$(sed -n 's/.*corp: \([0-9]*\).*/\1/p' <<<"$last")
  files=$(find "$artifacts" -maxdepth 1 -type f \
    \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | sort)
  what=none
  if [ -n "$files" ] || [ "$rc" -ne 0 ]; then
    failed=1
    mkdir -p fuzz/findings
    what="exit code $rc"
    for f in $files; do
      cp "$f" "fuzz/findings/$t-$(basename "$f")"
      found+=("$t fuzz/findings/$t-$(basename "$f")")
      what="$what, $(basename "$f")"
    done
    echo "--- fuzz_$t: end of the log ---" >&2
    grep -v '^#[0-9]' "$log" | tail -60 >&2
  fi
  printf '%-14s %8s %12s %9s %7s %8s %8s  %s\n' "$t" "$SECONDS_EACH" "${execs:-?}" \
    "${rate:-?}" "${cov:-?}" "${ft:-?}" "${units:-?}" "$what"
done
echo "fuzzing took $(( $(date +%s) - start )) s"
if [ "$failed" -ne 0 ]; then
  for entry in "${found[@]}"; do
    echo "reproducer: $root/${entry#* } (replay: $BUILD_DIR/fuzz/fuzz_${entry%% *} ${entry#* })" >&2
  done
  echo "fuzzing found problems, see above" >&2
  exit 1
fi
echo "fuzzing passed: no findings"
