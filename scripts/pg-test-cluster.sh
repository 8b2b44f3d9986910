#!/bin/bash
# A throwaway PostgreSQL 15 cluster on loopback for tests and benchmarks,
# set up as a site should be: TLS only (hostssl), scram-sha-256, a server
# certificate from a certificate authority of its own.
#   pg-test-cluster.sh start DIR   -> prints the port; database "zorvek",
#                                     superuser "tallvero" and the gate role
#                                     "tallvero_gate" with generated passwords
#   pg-test-cluster.sh stop DIR
# What a client needs is in DIR/env (PGPASSFILE=DIR/pgpass, PGSSLMODE=
# verify-full, PGSSLROOTCERT=DIR/tls/ca.crt); DIR/tls/other-ca.crt is a
# second authority that did not sign the server's certificate. Passwords
# go through files and standard input only, never a command line.
# As root the cluster runs as the unprivileged user "postgres".
set -euo pipefail
cmd=${1:?start|stop}; dir=${2:?directory}
BIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -x "$BIN/initdb" ] || { echo "PostgreSQL server binaries not found" >&2; exit 1; }
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
secret() { head -c 24 /dev/urandom | base64 | tr -d '/+='; }
OPTS="-c listen_addresses=127.0.0.1 -k $dir -c fsync=off -c max_connections=100"

# A certificate authority, a server certificate for 127.0.0.1 signed by it,
# and a second authority for the refusal tests.
make_tls() {
  local t=$dir/tls
  mkdir -p "$t"
  (
    cd "$t"
    for ca in ca other-ca; do
      openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tallvero Test $ca" \
        -keyout "$ca.key" -out "$ca.crt" 2>/dev/null
    done
    openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout server.key \
      -out server.csr 2>/dev/null
    printf 'subjectAltName=IP:127.0.0.1\n' >san.ext
    openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
      -extfile san.ext -out server.crt 2>/dev/null
    rm -f ca.key other-ca.key server.csr san.ext ca.srl
  )
  chmod 644 "$t/ca.crt" "$t/other-ca.crt"
}

case "$cmd" in
start)
  mkdir -p "$dir"
  umask 077
  superpw=$(secret); gatepw=$(secret)
  printf '%s\n' "$superpw" >"$dir/initdb.pw"
  if [ "$(id -u)" -eq 0 ]; then chown postgres "$dir" "$dir/initdb.pw"; fi
  as_owner "$BIN/initdb" -D "$dir/data" -U tallvero -A scram-sha-256 --pwfile="$dir/initdb.pw" \
    -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
  rm -f "$dir/initdb.pw"
  make_tls
  install -m 600 "$dir/tls/server.crt" "$dir/tls/server.key" "$dir/data/"
  rm -f "$dir/tls/server.key"
  if [ "$(id -u)" -eq 0 ]; then chown postgres "$dir/data/server.crt" "$dir/data/server.key"; fi
  cat >>"$dir/data/postgresql.conf" <<'EOF'
ssl = on
ssl_cert_file = 'server.crt'
ssl_key_file = 'server.key'
password_encryption = 'scram-sha-256'
EOF
  # Encrypted connections with a password, nothing else.
  printf 'local all all scram-sha-256\nhostssl all all 127.0.0.1/32 scram-sha-256\n' \
    >"$dir/data/pg_hba.conf"
  printf '*:*:*:tallvero:%s\n*:*:*:tallvero_gate:%s\n' "$superpw" "$gatepw" >"$dir/pgpass"
  chmod 600 "$dir/pgpass"
  printf 'PGPASSFILE=%s\nPGSSLMODE=verify-full\nPGSSLROOTCERT=%s\n' "$dir/pgpass" \
    "$dir/tls/ca.crt" >"$dir/env"
  chmod 755 "$dir" "$dir/tls"; chmod 644 "$dir/env"
  export PGPASSFILE=$dir/pgpass PGSSLMODE=verify-full PGSSLROOTCERT=$dir/tls/ca.crt
  for attempt in $(seq 1 20); do
    port=$((20000 + RANDOM % 30000))
    if as_owner "$BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
        -o "$OPTS -p $port" start >/dev/null 2>&1; then
      echo "$port" >"$dir/port"
      "$BIN/createdb" -h 127.0.0.1 -p "$port" -U tallvero zorvek
      # The gate's password from standard input, not a command line.
      "$BIN/psql" -h 127.0.0.1 -p "$port" -U tallvero -d zorvek -qAt -v ON_ERROR_STOP=1 \
        >/dev/null <<EOF
CREATE ROLE tallvero_gate LOGIN PASSWORD '$gatepw';
EOF
      echo "$port"
      exit 0
    fi
  done
  echo "PostgreSQL did not start, see $dir/server.log" >&2; exit 1 ;;
stop)
  [ -d "$dir/data" ] && as_owner "$BIN/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
