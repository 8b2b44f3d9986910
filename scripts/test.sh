#!/bin/sh
# Installs what is missing, builds, and runs every test, the PostgreSQL
# ones against a throwaway cluster.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
export TALLVERO_REQUIRE_PG=1 QT_QPA_PLATFORM=offscreen
scripts/with-pg.sh ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j2
