#!/usr/bin/env bash
# Builds everything with the MinGW cross toolchain and runs every test under Wine.
#   ./test.sh [ctest arguments...]      e.g. ./test.sh -R kqlib
# BUILD_DIR (default: build) names the build folder. The shipped 32-bit programs are built in
# BUILD_DIR/i686. The tests run that build under Wine where this machine can execute 32-bit
# code; where it cannot (some virtual machines have no 32-bit mode), the same sources are
# built for 64-bit Windows in BUILD_DIR/x86_64 and the tests run there, while the 32-bit
# programs are still checked as files. KQ_TEST_ARCH=i686|x86_64 forces the choice.
# KQ_QUICK=1 with KQ_TEST_ARCH=x86_64 builds and tests the 64-bit build alone.
set -euo pipefail
cd "$(dirname "$0")"
. tools/kqenv.sh
root=$kq_root
build=$kq_build

configure_and_build() {
    kq_configure "$1"
    cmake --build "$build/$1" -j "$(nproc)"
}

# KQ_QUICK=1 (for development only) skips the 32-bit build when the tests run the 64-bit one.
if [ -z "${KQ_QUICK:-}" ] || [ "${KQ_TEST_ARCH:-}" != x86_64 ]; then
    configure_and_build i686
fi

arch=$kq_arch
if [ "$arch" = x86_64 ]; then
    echo "test.sh: this machine cannot run 32-bit code; the tests run the 64-bit build of the same sources"
    configure_and_build x86_64
fi
export KQ_WINE=$kq_wine

# Each build has its own prefix, whatever WINEPREFIX says outside.
export WINEPREFIX="$build/$arch/wineprefix"
kq_wine_environment
exec xvfb-run -a -s "-screen 0 1024x768x24" "$root/tools/wine-session" ctest --test-dir "$build/$arch" \
    --output-on-failure --no-tests=error "$@"
