#!/usr/bin/env bash
# Runs the 7z extraction benchmark by hand: for each payload size (MB) makes mildly compressible
# data, packs it with the 7z command into one LZMA solid block, puts the archive into a larger
# package file and lets bench7z.exe extract it through the adapter (from a window on the
# package) and with 7-Zip's reference extractor, alternating.
#   bootling/tests/bench/bench7z.sh [BUILD_DIR] [RUNS] [SIZES...]     e.g. bench7z.sh build/x86_64 3 50 200 400
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build/x86_64}
runs=${2:-3}
shift $(( $# > 2 ? 2 : $# ))
sizes=${*:-50 200 400}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
bin=$build/bin
[ -x "$bin/bench7z.exe" ] && [ -x "$bin/7zdec.exe" ] || { echo "build bench7z and 7zdec first" >&2; exit 1; }
if grep -q 'x86-64' <(file -b "$bin/bench7z.exe" 2>/dev/null || echo x86-64); then wine=/usr/lib/wine/wine64; else wine=wine; fi

work=$(mktemp -d /tmp/bench7z.XXXXXX)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all KQ_WINE=$wine
for mb in $sizes; do
    rm -rf "$work"/*
    mkdir -p "$work/src"
    # Base64 text of random bytes: LZMA gets it to about three quarters of its size.
    (base64 -w 76 /dev/urandom || true) | head -c $((mb * 1048576)) > "$work/src/payload.bin"
    (cd "$work/src" && 7z a -t7z -bd -m0=LZMA:d=16m:mf=hc4 -ms=on -mhc=on -mmt=2 "$work/payload.7z" payload.bin >/dev/null)
    rm -rf "$work/src"
    head -c 1048576 /dev/urandom > "$work/package.bin"
    cat "$work/payload.7z" >> "$work/package.bin"
    head -c 524288 /dev/urandom >> "$work/package.bin"
    length=$(stat -c %s "$work/payload.7z")
    echo "== payload ${mb} MB, archive $((length / 1048576)) MB, $runs runs"
    "$root/tools/wine-session" "$wine" "$bin/bench7z.exe" run "Z:${work//\//\\}\\package.bin" 1048576 "$length" \
        "Z:${work//\//\\}\\payload.7z" "Z:${work//\//\\}" "$runs"
done
