#!/bin/sh
# Installs the Debian 12 packages that building, running and testing need.
# Runs apt only when something is missing; uses sudo when not root.
set -eu
PKGS="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite \
libqt6sql6-psql qt6-svg-dev libgl1-mesa-dev libgtest-dev libgmock-dev libbenchmark-dev \
libsqlite3-dev libpq-dev libsodium-dev openssl clang libclang-rt-14-dev postgresql-15 qt6-translations-l10n fonts-liberation xvfb xauth poppler-utils gcovr \
cups cups-client printer-driver-cups-pdf libcups2-dev"
# shellcheck disable=SC2086 # one word a package
exec "$(dirname "$0")/apt-ensure.sh" $PKGS
