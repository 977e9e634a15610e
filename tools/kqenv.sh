# Sourced (bash) by the scripts that build or run the programs: the build folder, the
# architecture whose programs this machine can run, and Wine's environment for it.
#   kq_root   the project's folder
#   kq_build  BUILD_DIR (default: build), made absolute
#   kq_arch   KQ_TEST_ARCH, else i686 where Wine's 32-bit loader runs, else x86_64 (some
#             machines have no 32-bit mode; the same sources are then built for 64-bit Windows)
#   kq_wine   the Wine loader for kq_arch
#   kq_configure ARCH     configures BUILD_DIR/ARCH with the MinGW toolchain (a 64-bit build is
#             told where the 32-bit programs lie, which some tests check as files)
#   kq_wine_environment   exports WINEPREFIX (default: the build's own prefix), WINEDEBUG and
#             WINEDLLOVERRIDES, and makes the prefix folder
kq_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
kq_build=${BUILD_DIR:-build}
case "$kq_build" in /*) ;; *) kq_build="$kq_root/$kq_build" ;; esac
kq_arch=${KQ_TEST_ARCH:-}
if [ -z "$kq_arch" ]; then
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then kq_arch=i686; else kq_arch=x86_64; fi
fi
if [ "$kq_arch" = x86_64 ]; then kq_wine=/usr/lib/wine/wine64; else kq_wine=wine; fi

kq_wine_environment() {
    export WINEPREFIX=${WINEPREFIX:-$kq_build/$kq_arch/wineprefix}
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winedbg.exe=d;winemenubuilder.exe=d;mscoree=d;mshtml=d}
    mkdir -p "$WINEPREFIX"
}

kq_configure() {
    local arch=$1
    local extra=()
    [ "$arch" = i686 ] || extra=(-DKQ_PRODUCT_DIR="$kq_build/i686/bin")
    cmake -S "$kq_root" -B "$kq_build/$arch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$kq_root/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release "${extra[@]}" >/dev/null
}
