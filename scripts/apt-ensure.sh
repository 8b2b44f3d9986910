#!/bin/sh
# Installs those of the given Debian packages that are missing, with
# apt-get (through sudo when not root). Messages go to standard error, so
# callers whose standard output is read stay clean.
#   scripts/apt-ensure.sh PACKAGE...
set -eu
missing=""
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing" >&2
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update >&2
# shellcheck disable=SC2086 # one word a package
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing >&2
