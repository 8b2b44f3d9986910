#!/bin/sh
# Checks the Debian package: its control fields, its complete file list
# with owners and modes, stripped programs that report the project
# version, and the desktop entry, AppStream metadata, manual pages and
# changelog as the desktop and Debian tools read them.
#   check-package.sh VERSION FILE.deb          a built package
#   check-package.sh VERSION --build-dir DIR   packs DIR with CPack first
# Exit 77 (skipped) when a tool it needs is missing.
set -eu
version=$1
shift
need="dpkg-deb file desktop-file-validate appstreamcli lexgrog"
[ "$1" = --build-dir ] && need="$need cpack dpkg-shlibdeps"
for tool in $need; do
  command -v "$tool" >/dev/null 2>&1 || {
    echo "SKIPPED: $tool is missing (scripts/package-deps.sh installs it)"; exit 77; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ "$1" = --build-dir ]; then
  cpack -G DEB --config "$2/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1 || {
    cat "$tmp/cpack.log"; exit 1; }
  deb=$(ls "$tmp"/out/tallvero_*.deb)
else
  deb=$1
fi
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ "$(basename "$deb")" = "tallvero_${version}_amd64.deb" ] ||
  fail "file name $(basename "$deb"), expected tallvero_${version}_amd64.deb"

# Control fields: field, extended regular expression its value must match.
while IFS='|' read -r field pattern; do
  value=$(dpkg-deb -f "$deb" "$field")
  printf '%s\n' "$value" | grep -Eq "$pattern" || fail "control $field: \"$value\" !~ /$pattern/"
done <<EOF
Package|^tallvero$
Version|^${version}$
Architecture|^amd64$
Section|^misc$
Priority|^optional$
Maintainer|^[^<]+ <[^@ ]+@[^> ]+>$
Description|^[a-z].{9,78}$
Depends|(^|, )libqt6widgets6 \(>= [^)]+\)(,|$)
Depends|(^|, )libqt6sql6-sqlite(,|$)
Depends|(^|, )libpq5( \(>= [^)]+\))?(,|$)
Depends|(^|, )libsodium23 \(>= [^)]+\)(,|$)
Depends|(^|, )fonts-liberation \| fonts-liberation2(,|$)
Recommends|(^|, )qt6-translations-l10n(,|$)
EOF

# The whole file list: mode, path. Directories are root-owned 0755.
cat >"$tmp/expected" <<'EOF'
-rwxr-xr-x ./usr/bin/tallvero
-rwxr-xr-x ./usr/bin/tallvero-db
-rwxr-xr-x ./usr/bin/tallvero-report
-rw-r--r-- ./usr/share/applications/example.tallvero.Tallvero.desktop
-rw-r--r-- ./usr/share/doc/tallvero/changelog.gz
-rw-r--r-- ./usr/share/doc/tallvero/copyright
-rw-r--r-- ./usr/share/icons/hicolor/128x128/apps/tallvero.png
-rw-r--r-- ./usr/share/icons/hicolor/16x16/apps/tallvero.png
-rw-r--r-- ./usr/share/icons/hicolor/22x22/apps/tallvero.png
-rw-r--r-- ./usr/share/icons/hicolor/24x24/apps/tallvero.png
-rw-r--r-- ./usr/share/icons/hicolor/256x256/apps/tallvero.png
-rw-r--r-- ./usr/share/icons/hicolor/32x32/apps/tallvero.png
-rw-r--r-- ./usr/share/icons/hicolor/48x48/apps/tallvero.png
-rw-r--r-- ./usr/share/icons/hicolor/64x64/apps/tallvero.png
-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/tallvero.svg
-rw-r--r-- ./usr/share/man/man1/tallvero-db.1.gz
-rw-r--r-- ./usr/share/man/man1/tallvero-report.1.gz
-rw-r--r-- ./usr/share/man/man1/tallvero.1.gz
-rw-r--r-- ./usr/share/metainfo/example.tallvero.Tallvero.metainfo.xml
EOF
dpkg-deb -c "$deb" >"$tmp/contents"
LC_ALL=C sort -k2 -o "$tmp/expected" "$tmp/expected"
awk '$1 !~ /^d/ {print $1, $6}' "$tmp/contents" | LC_ALL=C sort -k2 >"$tmp/files"
diff -u "$tmp/expected" "$tmp/files" >"$tmp/diff" || { fail "file list:"; cat "$tmp/diff"; }
awk '$2 != "root/root" || ($1 ~ /^d/ && $1 != "drwxr-xr-x") {print}' "$tmp/contents" \
  >"$tmp/badowner"
[ -s "$tmp/badowner" ] && { fail "owner or directory mode:"; cat "$tmp/badowner"; }

root=$tmp/root
dpkg-deb -x "$deb" "$root"
for program in tallvero tallvero-db tallvero-report; do
  file -b "$root/usr/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
  [ "$program" = tallvero ] && continue # the desktop client has no --version
  out=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/$program" --version 2>/dev/null) || true
  [ "$out" = "$program $version" ] || fail "$program --version: \"$out\""
done

desktop=$root/usr/share/applications/example.tallvero.Tallvero.desktop
metainfo=$root/usr/share/metainfo/example.tallvero.Tallvero.metainfo.xml
if [ -f "$desktop" ]; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
  while IFS='|' read -r key pattern; do
    grep -Eq "^$key=$pattern$" "$desktop" || fail "desktop entry $key !~ /$pattern/"
  done <<'EOF'
Name|Tallvero
Comment|.*Umsatz und Deckungsbeitrag.*
Exec|tallvero
Icon|tallvero
Categories|Office;(.*;)?
EOF
fi
if [ -f "$metainfo" ]; then
  appstreamcli validate --no-net "$metainfo" >"$tmp/as.log" 2>&1 || {
    fail "appstreamcli validate"; cat "$tmp/as.log"; }
  grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo: no release $version"
  grep -q '<launchable type="desktop-id">example.tallvero.Tallvero.desktop<' "$metainfo" ||
    fail "metainfo: launchable is not the shipped desktop entry"
fi
for page in tallvero tallvero-db tallvero-report; do
  gz=$root/usr/share/man/man1/$page.1.gz
  [ -f "$gz" ] || continue
  lexgrog "$gz" | grep -q "\"$page - " || fail "manual page $page: no whatis line"
  zcat "$gz" | grep -q "Tallvero $version" || fail "manual page $page: not version $version"
done
if [ -f "$root/usr/share/doc/tallvero/changelog.gz" ]; then
  zcat "$root/usr/share/doc/tallvero/changelog.gz" | head -n 1 |
    grep -q "^tallvero ($version) " || fail "changelog: newest entry is not $version"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed for $deb"
  exit 1
fi
echo "package $(basename "$deb"): control fields, files, programs and desktop files as expected"
