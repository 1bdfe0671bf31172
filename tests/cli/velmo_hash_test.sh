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

upper() { tr 'abcdef' 'ABCDEF'; }

printf 'abc' >"$work/abc"
: >"$work/empty"
head -c 100000 /dev/urandom >"$work/random file"

# Small files: MDVelmo is the whole-file SHA-1.
for name in abc empty; do
    path="$work/$name"
    sum=$(sha1sum "$path" | cut -c1-40 | upper)
    size=$(wc -c <"$path" | tr -d ' ')
    line=$("$tool" "$path") || fail "$name: non-zero exit"
    [ "$line" = "$sum $sum $size $path" ] || fail "$name: got '$line', want '$sum $sum $size $path'"
done

# A larger file: the SHA-1 and the size are checkable, the MDVelmo must be another 40 hex digits.
path="$work/random file"
sum=$(sha1sum "$path" | cut -c1-40 | upper)
line=$("$tool" "$path") || fail "random file: non-zero exit"
case "$line" in
    "$sum "[0-9A-F]*" 100000 $path") ;;
    *) fail "random file: got '$line'" ;;
esac
mdvelmo=$(echo "$line" | cut -d' ' -f2)
[ ${#mdvelmo} -eq 40 ] && [ "$mdvelmo" != "$sum" ] || fail "random file: bad MDVelmo '$mdvelmo'"
[ "$("$tool" --portable "$path")" = "$line" ] || fail "--portable gives another line"

# One missing file: reported on stderr, the others still printed, failure at the end.
"$tool" "$work/abc" "$work/missing" "$work/empty" >"$work/out" 2>"$work/err"
status=$?
[ $status -ne 0 ] || fail "missing file: exit status 0"
[ "$(wc -l <"$work/out" | tr -d ' ')" -eq 2 ] || fail "missing file: other files not printed: $(cat "$work/out")"
grep -q "missing" "$work/err" || fail "missing file: nothing on stderr"
grep -q "missing" "$work/out" && fail "missing file: reported on stdout"

# Bench prints a digest and a rate; no arguments is a usage error.
"$tool" --bench "$work/abc" | grep -q '^A9993E364706816ABA3E25717850C26C9CD0D89D .* MB/s' ||
    fail "--bench output"
"$tool" >/dev/null 2>"$work/err"
[ $? -eq 2 ] || fail "no arguments: exit status not 2"
grep -q usage "$work/err" || fail "no arguments: no usage on stderr"
"$tool" --help | grep -q usage || fail "--help prints no usage"

[ $failures -eq 0 ] && echo "velmo-hash: all checks passed"
exit $((failures != 0))
