#!/bin/sh
# Builds the Debian package tallvero_<version>_amd64.deb with CPack's DEB
# generator and checks it with lintian (an error fails the script). Build
# output goes to standard error; the last line on standard output is the
# package's path.
#   scripts/package.sh          a Release build of its own in build-pkg/
#                               (or $PACKAGE_BUILD_DIR) with Debian's
#                               compiler and hardening flags, no tests
#   scripts/package.sh build    packs an existing build tree as it is
#                               configured (CI: the tree the tests ran on)
set -eu
cd "$(dirname "$0")/.."
scripts/package-deps.sh

if [ $# -gt 0 ]; then
  B=$1
  [ -f "$B/CPackConfig.cmake" ] || { echo "$B is not a configured build tree" >&2; exit 2; }
  cmake --build "$B" -j2 --target tallvero tallvero-db tallvero-report tallvero_package_files >&2
else
  B=${PACKAGE_BUILD_DIR:-build-pkg}
  # Debian's flags (fortify, stack protector, relro, bindnow); no debug
  # information, as the package ships stripped programs.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
  cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
  ldflags="$(dpkg-buildflags --get LDFLAGS)"
  launcher=""
  command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
  cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
    "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" \
    -DTALLVERO_BUILD_TESTS=OFF -DTALLVERO_BUILD_BENCH=OFF -DTALLVERO_WERROR=OFF $launcher >&2
  cmake --build "$B" -j2 >&2
fi

rm -f "$B"/tallvero_*.deb
(cd "$B" && cpack -G DEB) >&2
deb=$(ls "$B"/tallvero_*_amd64.deb)
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")

# Errors fail, warnings are shown. (lintian notes that it runs as root; it
# only reads the package.)
rc=0
tags=$(lintian --fail-on error "$deb" 2>&1) || rc=$?
printf '%s\n' "$tags" | grep -v '^running with root privileges' >&2 || true
[ "$rc" -eq 0 ] || { echo "lintian: errors in $deb" >&2; exit 1; }
echo "$deb"
