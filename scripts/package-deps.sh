#!/bin/sh
# Installs the Debian 12 packages that building and checking the Debian
# package needs, on top of scripts/install-deps.sh: CPack's DEB generator
# runs dpkg-shlibdeps (dpkg-dev) and file, the checks run lintian, lexgrog,
# appstreamcli and desktop-file-validate. Runs apt only when something is
# missing; uses sudo when not root.
set -eu
PKGS="dpkg-dev file lintian appstream desktop-file-utils man-db"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing:$missing" >&2
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update >&2
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing >&2
