#!/bin/sh
# Builds the sample package from the sample product kept in this folder:
#   make.sh OUTDIR BOOTLING_EXE
# Made in OUTDIR (emptied first):
#   VantrySetup.exe   the package: BOOTLING_EXE signed as its stub, the UI, install and product
#                     archives, the whole file signed, the sample's settings imported
#   cert.pem          the throwaway certificate both signatures use (its key never leaves a
#                     private temporary folder that is removed on every way out)
#   stub/Bootling.exe the signed stub alone
#   archives/         UI.7z, Install.7z, Product.7z and, in src/, the trees they were made from
# The product's files carry a fixed time stamp and docs/license.txt is read-only, so that an
# unpacked copy shows whether attributes and times came through.
# bootpack runs through tools/bootpack (BUILD_DIR, BOOTPACK_ARCH and WINEPREFIX as there).
set -eu
[ $# -eq 2 ] || { echo "usage: $0 OUTDIR BOOTLING_EXE" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
case "$1" in /*) out=$1 ;; *) out=$(pwd)/$1 ;; esac
case "$2" in /*) stub=$2 ;; *) stub=$(pwd)/$2 ;; esac
[ -f "$stub" ] || { echo "$0: no such program: $stub" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kqsample.XXXXXX")
cleanup() { chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"; }
# A signal ends the script (through the EXIT handler); a handler that only cleaned up would let
# it go on without its folder.
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
chmod 700 "$work"

if [ -d "$out" ]; then chmod -R u+w "$out"; rm -rf "$out"; fi
mkdir -p "$out/stub" "$out/archives"

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 \
    -subj "/CN=Vantry Sample Code Signing" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key.pem" -out "$work/cert.pem" </dev/null >/dev/null 2>&1 \
    || { echo "$0: openssl could not make the sample certificate" >&2; exit 1; }
cp "$work/cert.pem" "$out/cert.pem"

sign() {
    osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -h sha256 -in "$1" -out "$2" \
        </dev/null >"$work/sign.log" 2>&1 || { cat "$work/sign.log" >&2; echo "$0: could not sign $1" >&2; exit 1; }
}

# The archives, from a copy of the sample trees with the time stamp and attribute set.
cp -R "$here/ui" "$here/install" "$here/product" "$work/"
find "$work/product" -exec touch -h -d "2024-03-01 12:00:00 UTC" {} +
chmod a-w "$work/product/Vantry/docs/license.txt"
for name in ui install product; do
    case $name in
        ui) archive=UI.7z ;;
        install) archive=Install.7z ;;
        product) archive=Product.7z ;;
    esac
    (cd "$work/$name" && 7z a -t7z -bd -y -mx=5 "$out/archives/$archive" . >/dev/null)
done
mkdir -p "$out/archives/src"
cp -Rp "$work/ui" "$work/install" "$work/product" "$out/archives/src/"

sign "$stub" "$out/stub/Bootling.exe"
"$root/tools/bootpack" build --sign-later --stub "$out/stub/Bootling.exe" \
    --ui "$out/archives/UI.7z" --install "$out/archives/Install.7z" --product "$out/archives/Product.7z" \
    -o "$work/unsigned.exe" >"$work/bootpack.log" 2>&1 \
    || { cat "$work/bootpack.log" >&2; echo "$0: bootpack could not build the package" >&2; exit 1; }
sign "$work/unsigned.exe" "$out/VantrySetup.exe"
"$root/tools/bootpack" settings import "$out/VantrySetup.exe" "$here/settings.json" >"$work/bootpack.log" 2>&1 \
    || { cat "$work/bootpack.log" >&2; echo "$0: bootpack could not import the settings" >&2; exit 1; }
