#!/usr/bin/env bash
# A first run: builds Bootling and bootpack, makes the sample package from the sample product in
# tools/samplepackage (7z archives made now, stub and package signed with a throwaway
# certificate), test-extracts it with Bootling under Wine and shows what came out: the exit
# code, where the files went and where the log is.
#   ./demo.sh            (after ./setup.sh; BUILD_DIR as for test.sh)
# Everything lands in BUILD_DIR/demo; a second run starts that folder afresh.
set -euo pipefail
cd "$(dirname "$0")"
. tools/kqenv.sh
build=$kq_build
arch=$kq_arch
export BUILD_DIR=$build KQ_TEST_ARCH=$arch BOOTPACK_ARCH=$arch
bin="$build/$arch/bin"
echo "== building Bootling, bootpack and the exit-code runner ($arch) in $build/$arch"
kq_configure "$arch"
cmake --build "$build/$arch" -j "$(nproc)" --target Bootling bootpack winrun | tail -n 1

kq_wine_environment

demo="$build/demo"
package="$demo/package/VantrySetup.exe"
extracted="$demo/extracted"
logs="$demo/logs"
[ ! -d "$demo" ] || { chmod -R u+w "$demo"; rm -rf "$demo"; }
echo "== making the sample package"
tools/samplepackage/make.sh "$demo/package" "$bin/Bootling.exe"
tools/bootpack inspect "$package" | sed 's/^/   /'

# Bootling logs when the debug options of its isolation ask for it. An isolate.ini beside the
# package names the package's own isolation; its options (in Wine's registry, through the
# 64-bit view, which a 32-bit Bootling reads as well) send the log to $logs.
# The id is the one the package carries, read back by bootpack; without one the options key
# below would be the whole isolation tree, which the clean-up would then remove.
silo=$(tools/bootpack settings get "$package" IsolationId | tr -d '\r')
if ! [[ "$silo" =~ ^\{[0-9A-Fa-f-]{36}\}$ ]]; then
    echo "demo.sh: the package has no usable IsolationId (\"$silo\")" >&2
    exit 1
fi
printf '[isolation]\r\nsilo=%s\r\n' "$silo" > "$demo/package/isolate.ini"
mkdir -p "$logs"
options="HKLM\\Software\\Quillane\\Isolation\\$silo"
reg() { /usr/lib/wine/wine64 reg "$@" >/dev/null 2>&1; }
winlogs="Z:${logs//\//\\}"
trap 'reg delete "$options" /f || true' EXIT
reg add "$options\\Orvane\\Debug\\DebugOutput" /v DebugType /t REG_DWORD /d 1 /f
reg add "$options\\Orvane\\Debug\\DebugOutput" /v OutputToFile /t REG_DWORD /d 1 /f
reg add "$options\\Orvane\\Debug\\DebugOutput" /v AppendProcessIdToFile /t REG_DWORD /d 0 /f
reg add "$options\\Orvane\\Debug\\DebugOutput" /v Directory /t REG_SZ /d "$winlogs" /f

echo "== test extraction: VantrySetup.exe /qn /TEST <folder> /TESTMODE 1"
status=0
if ! tools/testextract "$package" "$extracted" --product | sed 's/^/   /'; then status=1; fi

echo "== results"
echo "   package:         $package"
echo "   extracted into:  $extracted"
echo "   product files:   $extracted/Archive"
if [ -f "$extracted/CacheStub.exe" ]; then
    if osslsigncode verify -CAfile "$demo/package/cert.pem" -in "$extracted/CacheStub.exe" >/dev/null 2>&1; then
        echo "   CacheStub.exe:   its own signature verifies again (osslsigncode verify)"
    else
        echo "   CacheStub.exe:   its signature does NOT verify"
        status=1
    fi
fi
log="$logs/CacheStub.log"
if [ -f "$log" ]; then
    echo "   log (UTF-16):    $log"
    echo "== the log's lines of the test extraction"
    iconv -f UTF-16 -t UTF-8 "$log" | tr -d '\r' | grep -E "test extraction|Returned" | sed 's/^/   /' || true
else
    echo "   no log was written"
fi
exit $status
