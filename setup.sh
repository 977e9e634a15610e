#!/usr/bin/env bash
# Installs every tool the build and the tests need on a Debian 12 machine (run as root).
# Idempotent: safe to run again. Uses Debian's packages only.
set -euo pipefail
cd "$(dirname "$0")"
export DEBIAN_FRONTEND=noninteractive

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi

# A source entry for the mirror that is already configured, kept in a private list so the
# machine's own sources stay untouched; used only to fetch 7-Zip's source package.
src_list=/etc/apt/sources.list.d/bootling-src.sources
if [ ! -f "$src_list" ]; then
    mirror=$(grep -h -m1 '^URIs:' /etc/apt/sources.list.d/debian.sources 2>/dev/null | awk '{print $2}')
    if [ -z "$mirror" ]; then
        mirror=$(grep -h -m1 -E '^deb ' /etc/apt/sources.list 2>/dev/null | awk '{print $2}')
    fi
    mirror=${mirror:-http://deb.debian.org/debian}
    cat > "$src_list" <<SRC
Types: deb-src
URIs: $mirror
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

apt-get update -q
apt-get install -y -q --no-install-recommends \
    cmake ninja-build g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-tools \
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    binutils-mingw-w64-i686 wine wine32:i386 wine64 googletest p7zip-full osslsigncode openssl \
    python3 xvfb xauth xz-utils dpkg-dev ca-certificates nlohmann-json3-dev

# Third-party source lives in an ignored folder and is built by our own build.
mkdir -p third_party
if [ ! -f third_party/7zip/C/LzmaDec.c ]; then
    rm -rf third_party/7zip third_party/7zip-unpack
    (cd third_party && apt-get source -q --download-only 7zip)
    orig=$(ls third_party/7zip_*.orig.tar.* | head -n1)
    mkdir -p third_party/7zip-unpack
    tar -xf "$orig" -C third_party/7zip-unpack
    # The tarball holds one top folder; its content becomes third_party/7zip.
    top=$(find third_party/7zip-unpack -mindepth 1 -maxdepth 1 -type d | head -n1)
    mv "$top" third_party/7zip
    rm -rf third_party/7zip-unpack third_party/7zip_*
fi
echo "setup: done"
