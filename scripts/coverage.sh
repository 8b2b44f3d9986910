#!/bin/bash
# Line coverage of the program code (src/ and apps/) over the whole test
# suite with PostgreSQL: an instrumented gcc build in build-cov/ (-O0,
# --coverage), the suite, and gcovr's summary. The last line reads
# "lines: NN.N%". COVERAGE_MIN=88 makes it fail below that figure.
#   scripts/coverage.sh
#   COVERAGE_MIN=88 scripts/coverage.sh      (CI)
set -euo pipefail
cd "$(dirname "$0")/.."
B=${COVERAGE_BUILD_DIR:-build-cov}
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTALLVERO_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_EXE_LINKER_FLAGS="--coverage" \
  -DCMAKE_SHARED_LINKER_FLAGS="--coverage" "${launcher[@]}" >/dev/null
cmake --build "$B" -j2
# Counters from an earlier run would add up with this one.
find "$B" -name '*.gcda' -delete
export TALLVERO_REQUIRE_PG=1 QT_QPA_PLATFORM=offscreen
scripts/with-pg.sh ctest --test-dir "$B" --output-on-failure -j2
summary=$(gcovr --root . --object-directory "$B" --filter 'src/' --filter 'apps/' \
  --gcov-ignore-parse-errors -j2 --print-summary -o "$B/coverage.txt" 2>/dev/null)
echo "$summary"
pct=$(sed -n 's/^lines: \([0-9.]*\)%.*/\1/p' <<<"$summary")
[ -n "$pct" ] || { echo "coverage: no summary from gcovr" >&2; exit 1; }
if [ -n "${COVERAGE_MIN:-}" ] && awk -v p="$pct" -v m="$COVERAGE_MIN" 'BEGIN{exit !(p<m)}'; then
  echo "coverage: $pct% of the lines, below $COVERAGE_MIN%" >&2
  echo "lines: $pct%"
  exit 1
fi
echo "lines: $pct%"
