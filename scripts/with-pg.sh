#!/bin/bash
# Runs a command with a throwaway PostgreSQL cluster (TLS and scram-sha-256
# only, see pg-test-cluster.sh): TALLVERO_TEST_PG=127.0.0.1:PORT,
# PGUSER=tallvero (the superuser; its password in PGPASSFILE), PGSSLMODE=
# verify-full with the cluster's own authority in PGSSLROOTCERT, and
# TALLVERO_TEST_PG_DIR for tests that need the cluster's files. Stopped
# afterwards.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d /tmp/tallvero-pg.XXXXXX)
chmod 755 "$dir"
cleanup() { "$here/pg-test-cluster.sh" stop "$dir"; rm -rf "$dir"; }
trap cleanup EXIT
port=$("$here/pg-test-cluster.sh" start "$dir")
set -a
# shellcheck source=/dev/null
. "$dir/env"
set +a
export TALLVERO_TEST_PG="127.0.0.1:$port" PGUSER=tallvero TALLVERO_TEST_PG_DIR=$dir
echo "PostgreSQL test cluster on 127.0.0.1:$port (TLS, scram-sha-256)"
"$@"
