#!/bin/sh
# Installs what is missing, builds, and starts the desktop client on the
# embedded demo server (first start fills a per-user demo database).
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec "${BUILD_DIR:-build}/apps/tallvero/tallvero" "$@"
