#!/bin/sh
# Installs the Debian 12 packages that building and checking the Debian
# package needs, on top of scripts/install-deps.sh: CPack's DEB generator
# runs dpkg-shlibdeps (dpkg-dev) and file, the checks run lintian, lexgrog,
# appstreamcli and desktop-file-validate. Runs apt only when something is
# missing; uses sudo when not root.
set -eu
PKGS="dpkg-dev file lintian appstream desktop-file-utils man-db"
# shellcheck disable=SC2086 # one word a package
exec "$(dirname "$0")/apt-ensure.sh" $PKGS
