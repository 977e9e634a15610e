#!/bin/sh
# Makes the 7z archives the package tests build from.
#   make-archives.sh FOLDER
set -eu
out=$1
rm -rf "$out"
mkdir -p "$out/src/ui" "$out/src/install" "$out/src/product/bin" "$out/src/aux"
echo "UI module" > "$out/src/ui/SetupShell.txt"
echo "Install engine" > "$out/src/install/SetupCore.txt"
echo "Product readme" > "$out/src/product/readme.txt"
# Incompressible data larger than one copy buffer (1 MB) of the tool.
head -c 1500000 /dev/urandom > "$out/src/product/bin/payload.bin"
echo "Aux data" > "$out/src/aux/aux.txt"
for name in ui install product aux; do
    case $name in
        ui) archive=TestUI.7z ;;
        install) archive=TestInstall.7z ;;
        product) archive=TestProduct.7z ;;
        aux) archive=TestAux.7z ;;
    esac
    (cd "$out/src/$name" && 7z a -bd -mx=1 "$out/$archive" . >/dev/null)
done
rm -rf "$out/src"
