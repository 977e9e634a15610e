#!/bin/sh
# Makes the 7z archives the unpacker tests put into packages, with the 7z command:
#   make-package-archives.sh OUTDIR PEFILE
# (No archive is named after a device such as AUX: Windows code would open the device.)
# OUTDIR/<name>/ is each archive's source tree (the tests compare unpacked files with it),
# OUTDIR/<name>.7z the archive. PEFILE is a real program, so that BCJ2 meets real code.
set -eu
out=$1
pe=$2
rm -rf "$out"
mkdir -p "$out/ui/lang/1033" "$out/product/bin" "$out/install/InstallPackage/setup" "$out/extra"

printf 'install ui\r\n' > "$out/ui/SetupShell.txt"
seq 1 30000 > "$out/ui/lang/1033/SetupShell.loc"
head -c 5000 /dev/urandom > "$out/ui/lang/1033/strings.bin"

cp "$pe" "$out/product/bin/app.exe"
seq 1 50000 > "$out/product/data.txt"
printf 'install package\n' > "$out/install/InstallPackage/setup/layout.txt"
head -c 70000 /dev/urandom > "$out/extra/scanner.bin"

a7z() {
    archive=$1
    dir=$2
    shift 2
    (cd "$dir" && 7z a -t7z -bd -y "$@" "$archive" . >/dev/null)
}
a7z "$out/ui.7z" "$out/ui" -m0=LZMA -ms=on -mhc=on
a7z "$out/product.7z" "$out/product" -mf=BCJ2 -m0=LZMA -ms=on -mhc=on
a7z "$out/install.7z" "$out/install" -m0=LZMA -ms=off -mhc=on
a7z "$out/extra.7z" "$out/extra" -m0=Copy -ms=off -mhc=on
