#!/bin/sh
# Configures and builds into build/ (or $BUILD_DIR) with two jobs. Uses
# ccache when it is installed (developer machines; CI builds without it).
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} $launcher "$@"
cmake --build "$BUILD_DIR" -j2
