#!/usr/bin/env bash
# Builds everything with the MinGW cross toolchain and runs every test under Wine.
#   ./test.sh [ctest arguments...]      e.g. ./test.sh -R kqlib
# BUILD_DIR (default: build) names the build folder; its Wine prefix lives inside it.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
build=${BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)"

export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;winemenubuilder.exe=d;mscoree=d;mshtml=d"
export WINEARCH=win64
exec xvfb-run -a -s "-screen 0 1024x768x24" "$root/tools/wine-session" ctest --test-dir "$build" \
    --output-on-failure --no-tests=error "$@"
