#!/bin/sh
# Makes the 7z archives the adapter's tests extract, with the 7z command:
#   make-7z-archives.sh OUTDIR PEFILE
# OUTDIR/tree is the source tree (the tests compare extracted files with it), OUTDIR/*.7z the
# archives. PEFILE is a real program, so that the x86 filters meet real code.
set -eu
out=$1
pe=$2
rm -rf "$out"
mkdir -p "$out/tree/sub/deeper" "$out/tree/emptydir" "$out/folder/InstallPackage/a" \
    "$out/folder/installpackage2" "$out/folder/Other" "$out/small" "$out/names"
tree=$out/tree

printf 'hello from the archive\r\n' > "$tree/readme.txt"
touch -d '2001-02-03 04:05:06 UTC' "$tree/readme.txt"
: > "$tree/empty.txt"
printf 'read only\n' > "$tree/ro.txt"
chmod 444 "$tree/ro.txt"
# More than one 64 KB write piece, and compressible.
seq 1 150000 > "$tree/sub/big.txt"
# Incompressible.
head -c 300001 /dev/urandom > "$tree/sub/deeper/data.bin"
cp "$pe" "$tree/app.exe"
touch -d '2010-06-07 08:09:10 UTC' "$tree/app.exe"

printf 'b\n' > "$out/folder/InstallPackage/a/b.txt"
printf 'x\n' > "$out/folder/installpackage2/x.txt"
printf 'y\n' > "$out/folder/Other/y.txt"
printf 'top\n' > "$out/folder/top.txt"

printf 'small one\n' > "$out/small/one.txt"
seq 1 2000 > "$out/small/two.txt"
head -c 6000 "$pe" > "$out/small/code.bin"

# Names the tests rewrite inside an uncompressed header: same length, 24 characters.
printf 'first\n' > "$out/names/aaaa-first.txt"
printf 'placeholder\n' > "$out/names/PLACEHOLDER-PLACEHOLDER-"

a7z() {
    archive=$1
    dir=$2
    shift 2
    (cd "$dir" && 7z a -t7z -bd -y "$@" "$archive" . >/dev/null)
}
a7z "$out/copy.7z" "$tree" -m0=Copy -ms=off -mhc=on
a7z "$out/lzma_solid.7z" "$tree" -m0=LZMA -ms=on -mhc=on
a7z "$out/lzma_nonsolid.7z" "$tree" -m0=LZMA -ms=off -mhc=on
a7z "$out/lzma2.7z" "$tree" -m0=LZMA2 -ms=on -mhc=on
a7z "$out/bcj_lzma.7z" "$tree" -m0=BCJ -m1=LZMA -ms=on -mhc=on
a7z "$out/bcj2.7z" "$tree" -mf=BCJ2 -m0=LZMA -ms=on -mhc=on
a7z "$out/folder.7z" "$out/folder" -m0=LZMA -ms=on -mhc=on
a7z "$out/small_lzma.7z" "$out/small" -m0=LZMA -ms=on -mhc=on
a7z "$out/small_bcj2.7z" "$out/small" -mf=BCJ2 -m0=LZMA -ms=on -mhc=on
a7z "$out/names.7z" "$out/names" -m0=Copy -ms=off -mhc=off
