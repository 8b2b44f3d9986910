#!/bin/sh
# Installs what is missing, builds, and runs every test, the PostgreSQL
# ones (and the fault tests with their own cluster) against a throwaway
# cluster. Then the bounded reliability runs: a small load run of headless
# clients on one PostgreSQL server, and the sanitizer build (clang, ASan +
# UBSan) with the whole suite, a leak-checked fetch and every fuzz target
# for FUZZ_SECONDS each. The package stage builds the Debian package from
# the tested tree, installs it and runs the installed report tool.
#   scripts/test.sh                  everything (CI)
#   TALLVERO_QUICK=1 scripts/test.sh the test suite only
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/package-deps.sh
scripts/build.sh
export TALLVERO_REQUIRE_PG=1 QT_QPA_PLATFORM=offscreen
# As root (CI) the printing test runs its own CUPS scheduler; it must not skip.
[ "$(id -u)" -eq 0 ] && export TALLVERO_REQUIRE_CUPS=1
scripts/with-pg.sh ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j2
[ "${TALLVERO_QUICK:-0}" = 1 ] && exit 0

B=${BUILD_DIR:-build}
echo "== package: build from $B, install, one page with the installed tallvero-report"
scripts/package-test.sh "$B"

echo "== load: 1, 4, 16 and 32 headless clients on one PostgreSQL server"
LOAD_BUILD_DIR=$B LOAD_SKIP_BUILD=1 LOAD_REPORT_DIR=$B/reliability \
  bench/load.sh --lines 50000 --rounds 2 >"$B/reliability-load.log" 2>&1 || {
  cat "$B/reliability-load.log"; exit 1; }
sed -n '/^| clients/,/^$/p' "$B/reliability-load.log"

echo "== sanitizers and fuzzing"
FUZZ_SECONDS=${FUZZ_SECONDS:-10} scripts/sanitize.sh
