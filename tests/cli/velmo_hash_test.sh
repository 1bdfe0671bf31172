#!/bin/sh
# velmo-hash end to end: line format against sha1sum, and a missing file among good ones.
# Usage: velmo_hash_test.sh PATH-TO-velmo-hash
set -u

tool=${1:?usage: $0 PATH-TO-velmo-hash}
work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-hash-test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT INT TERM
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

printf 'abc' >"$work/abc"
: >"$work/empty"
head -c 100000 /dev/urandom >"$work/random file"

# Small files: MDVelmo is the whole-file SHA-1; a larger file's is another 40 hex digits.
for name in abc empty "random file"; do
    path="$work/$name"
    sum=$(sha1sum "$path" | cut -c1-40 | tr 'abcdef' 'ABCDEF')
    line=$("$tool" "$path") || fail "$name: non-zero exit"
    md=$(echo "$line" | cut -d' ' -f2)
    [ "$line" = "$sum $md $(wc -c <"$path") $path" ] || fail "$name: got '$line'"
    case "$name:${#md}" in
        "random file:40") [ "$md" != "$sum" ] || fail "$name: MDVelmo is the SHA-1" ;;
        *:40) [ "$md" = "$sum" ] || fail "$name: MDVelmo '$md' is not the SHA-1" ;;
        *) fail "$name: bad MDVelmo '$md'" ;;
    esac
done

# One missing file: reported on stderr, the others still printed, failure at the end.
"$tool" "$work/abc" "$work/missing" "$work/empty" >"$work/out" 2>"$work/err" &&
    fail "missing file: exit status 0"
[ "$(wc -l <"$work/out")" -eq 2 ] || fail "missing file: other files not printed"
grep -q "missing" "$work/err" || fail "missing file: nothing on stderr"
grep -q "missing" "$work/out" && fail "missing file: reported on stdout"

[ $failures -eq 0 ] && echo "velmo-hash: all checks passed"
exit $((failures != 0))
