#!/bin/sh
# Makes Authenticode-signed copies of programs for the tests.
#   sign-copies.sh [--skip-missing] OUTPUT_FOLDER FILE...
# A throwaway self-signed code-signing certificate and its key are made in a private temporary
# folder, which is removed on every way out: no key outlives the run. Each FILE is signed into
# OUTPUT_FOLDER under its own name; the certificate alone (cert.pem, no key) is left there too,
# for verifying the copies with osslsigncode. --skip-missing passes over FILEs that do not
# exist (programs of another build that may not have been made).
set -eu
skip_missing=
if [ "${1:-}" = --skip-missing ]; then skip_missing=1; shift; fi
[ $# -ge 2 ] || { echo "usage: $0 [--skip-missing] OUTPUT_FOLDER FILE..." >&2; exit 2; }
out=$1; shift

work=$(mktemp -d "${TMPDIR:-/tmp}/kqsign.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM HUP
chmod 700 "$work"

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 \
    -subj "/CN=Test Code Signing" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key.pem" -out "$work/cert.pem" </dev/null >/dev/null 2>&1 \
    || { echo "$0: openssl could not make the test certificate" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
cp "$work/cert.pem" "$out/cert.pem"
for file in "$@"; do
    if [ -n "$skip_missing" ] && [ ! -f "$file" ]; then
        echo "$0: $file does not exist; not signed"
        continue
    fi
    name=$(basename "$file")
    osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -h sha256 \
        -in "$file" -out "$out/$name" </dev/null >"$work/log" 2>&1 \
        || { cat "$work/log" >&2; echo "$0: could not sign $file" >&2; exit 1; }
done
