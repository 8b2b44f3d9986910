#!/bin/bash
# Runs a command with a throwaway PostgreSQL cluster:
#   TALLVERO_TEST_PG=127.0.0.1:PORT, PGUSER=tallvero; stopped afterwards.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d /tmp/tallvero-pg.XXXXXX)
chmod 755 "$dir"
cleanup() { "$here/pg-test-cluster.sh" stop "$dir"; rm -rf "$dir"; }
trap cleanup EXIT
port=$("$here/pg-test-cluster.sh" start "$dir")
export TALLVERO_TEST_PG="127.0.0.1:$port" PGUSER=tallvero
echo "PostgreSQL test cluster on 127.0.0.1:$port"
"$@"
