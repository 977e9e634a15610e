#!/bin/sh
# Checks that tools/bootpack hands arguments that only look like Linux paths to bootpack as they
# are: a setting's value "/q /norestart" and the help switch "/?".
#   wrapper-values.sh BOOTPACK_WRAPPER PACKAGE   (PACKAGE absolute; a copy of it is edited)
set -eu
bootpack=$1
copy="$2.wrapper-values.exe"
trap 'rm -f "$copy"' EXIT
cp "$2" "$copy"
"$bootpack" settings set "$copy" FirstCommandLine "/q /norestart"
value=$("$bootpack" settings get "$copy" FirstCommandLine | tr -d '\r')
if [ "$value" != "/q /norestart" ]; then
    echo "wrapper-values: FirstCommandLine reads back as \"$value\", not \"/q /norestart\"" >&2
    exit 1
fi
"$bootpack" "/?" | grep -q "bootpack settings set" || { echo "wrapper-values: \"/?\" shows no help" >&2; exit 1; }
echo "wrapper-values: passed"
