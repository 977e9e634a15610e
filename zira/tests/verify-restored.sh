#!/bin/sh
# Verifies with osslsigncode the signed programs that had a settings block saved into them and
# removed again: each must verify against the certificate it was signed with.
#   verify-restored.sh RESTORED_FOLDER SIGNED_FOLDER
# RESTORED_FOLDER/<fixture>/<program> is checked with SIGNED_FOLDER/<fixture>/cert.pem. The
# copies with a block (block-<program>) are verified too, and the answer printed, without
# judging it: osslsigncode refuses any bytes after the first certificate by design.
set -u
[ $# -eq 2 ] || { echo "usage: $0 RESTORED_FOLDER SIGNED_FOLDER" >&2; exit 2; }
restored=$1
signed=$2
checked=0
failed=0
for dir in "$restored"/*/; do
    [ -d "$dir" ] || continue
    fixture=$(basename "$dir")
    cert="$signed/$fixture/cert.pem"
    for file in "$dir"*.exe; do
        [ -f "$file" ] || continue
        name=$(basename "$file")
        echo "== osslsigncode verify -CAfile $fixture/cert.pem -in $fixture/$name"
        osslsigncode verify -CAfile "$cert" -in "$file" </dev/null 2>&1
        status=$?
        echo "== exit status $status"
        case "$name" in
        block-*) ;;
        *)
            checked=$((checked + 1))
            [ $status -eq 0 ] || failed=$((failed + 1))
            ;;
        esac
    done
done
echo "$checked restored programs verified, $failed failed"
[ $checked -gt 0 ] && [ $failed -eq 0 ]
