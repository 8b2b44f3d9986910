#!/bin/sh
# The package stage of CI: builds the Debian package (from an existing
# build tree when one is given, else scripts/package.sh's own Release
# build), checks its file list, installs it with apt-get, makes one report
# page with the installed tallvero-report against a fresh embedded database
# in a temporary home, checks the PDF and removes the package again.
# Needs root (or sudo) for apt-get.
#   scripts/package-test.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
version=$(sed -n 's/^project(Tallvero VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)

deb=$(scripts/package.sh "$@" | tail -n 1)
sh tests/packaging/check-package.sh "$version" "$deb"

# apt reads the file as its own user: give it a readable copy.
work=$(mktemp -d /tmp/tallvero-package.XXXXXX)
chmod 755 "$work"
cleanup() {
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q tallvero >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
cp "$deb" "$work/"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$work/$(basename "$deb")" >"$work/apt.log" 2>&1 || {
  cat "$work/apt.log"; exit 1; }
dpkg-query -W -f='${Status} ${Version}\n' tallvero | grep -qx "install ok installed $version" || {
  echo "tallvero $version is not installed"; exit 1; }

# A fresh home: the report tool's first connect creates the embedded
# database and fills the demo business; no settings of the caller count.
mkdir -p "$work/home"
in_home() {
  env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u QT_QPA_PLATFORM \
    HOME="$work/home" TALLVERO_PASSWORD=demo "$@"
}
start=$(date +%s)
in_home /usr/bin/tallvero-report --user DEMO --habt 10 --pdf "$work/seite.pdf" \
  >"$work/report.log" 2>&1 || { cat "$work/report.log"; exit 1; }
echo "installed tallvero-report: page written in $(($(date +%s) - start)) s"
[ -f "$work/home/.local/share/Tallvero/Tallvero/zorvek.sqlite" ] || {
  echo "no embedded database in the temporary home"; exit 1; }

pdfinfo "$work/seite.pdf" >"$work/pdfinfo"
grep -Eq '^Pages: +1$' "$work/pdfinfo" &&
  awk '/^Page size:/ { ok = $3 > $5 && /\(A4\)/ } END { exit !ok }' "$work/pdfinfo" || {
  echo "the page is not one A4 landscape page:"; cat "$work/pdfinfo"; exit 1; }
echo "package $(basename "$deb"): installed, one A4 landscape page from /usr/bin/tallvero-report"
