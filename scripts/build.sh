#!/bin/sh
# Configures and builds into build/ (or $BUILD_DIR) with two jobs. Uses
# ccache when it is installed (developer machines; CI builds without it).
# BUILD_TARGETS="a b" builds only those targets (CI's plain build: the
# programs, as the suite runs in the instrumented build).
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} $launcher "$@"
if [ -n "${BUILD_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$BUILD_DIR" -j2 --target $BUILD_TARGETS
else
  cmake --build "$BUILD_DIR" -j2
fi
