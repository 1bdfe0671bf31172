#!/bin/sh
# Whole-file SHA-1 speed of velmo-hash against sha1sum and openssl on one cached 1 GiB file,
# all measured in the same run; prints throughputs, the ratios with their targets, and peak RSS.
# Usage: hash_bench.sh [PATH-TO-velmo-hash]   (default build/bin/velmo-hash)
set -eu

tool=${1:-build/bin/velmo-hash}
[ -x "$tool" ] || { echo "velmo-hash not found at $tool" >&2; exit 2; }
command -v sha1sum >/dev/null || { echo "sha1sum is needed" >&2; exit 2; }
have_openssl=0
command -v openssl >/dev/null && have_openssl=1

work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-hash-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
file="$work/data.bin"
bytes=1073741824

echo "creating a 1 GiB file in $work ..."
if [ $have_openssl -eq 1 ]; then
    openssl rand -out "$file" $bytes
else
    head -c $bytes /dev/urandom >"$file"
fi
# Every tool reads from the page cache, so the figures compare hashing, not the disk.
cat "$file" >/dev/null
cat "$file" >/dev/null

now() { date +%s.%N; }

# Best wall-clock seconds of three runs of the command; output discarded.
best_of_3() {
    best=""
    for run in 1 2 3; do
        start=$(now)
        "$@" >/dev/null
        end=$(now)
        best=$(awk -v s="$start" -v e="$end" -v b="$best" \
            'BEGIN { t = e - s; if (b == "" || t < b) print t; else print b }')
    done
    echo "$best"
}

mbps() { awk -v b=$bytes -v t="$1" 'BEGIN { printf "%.1f", b / t / 1e6 }'; }

t_fast=$(best_of_3 "$tool" --bench "$file")
t_portable=$(best_of_3 "$tool" --bench --portable "$file")
t_sha1sum=$(best_of_3 sha1sum "$file")
t_openssl=""
[ $have_openssl -eq 1 ] && t_openssl=$(best_of_3 openssl dgst -sha1 "$file")

path=$("$tool" --bench "$file" | awk '{ print $NF }')
echo
echo "throughput, MB/s (10^6 bytes), best of 3, wall clock including start-up:"
printf '  %-34s %8s\n' "velmo-hash GetFileHash ($path)" "$(mbps "$t_fast")"
printf '  %-34s %8s\n' "velmo-hash GetFileHash (portable)" "$(mbps "$t_portable")"
printf '  %-34s %8s\n' "sha1sum" "$(mbps "$t_sha1sum")"
[ -n "$t_openssl" ] && printf '  %-34s %8s\n' "openssl dgst -sha1" "$(mbps "$t_openssl")"

missed=0
# ratio NAME NUMERATOR-SECONDS DENOMINATOR-SECONDS TARGET: throughput ratio = inverse time ratio.
ratio() {
    verdict=$(awk -v a="$2" -v b="$3" -v t="$4" \
        'BEGIN { r = b / a; printf "%.2f (target >= %s) %s", r, t, (r >= t ? "ok" : "MISSED") }')
    printf '  %-34s %s\n' "$1" "$verdict"
    case "$verdict" in *MISSED) missed=1 ;; esac
}
echo
echo "ratios:"
[ -n "$t_openssl" ] && ratio "GetFileHash / openssl" "$t_fast" "$t_openssl" 0.85
ratio "GetFileHash / sha1sum" "$t_fast" "$t_sha1sum" 2
ratio "portable / sha1sum" "$t_portable" "$t_sha1sum" 0.9

if [ -x /usr/bin/time ]; then
    head -c 1048576 "$file" >"$work/small.bin"
    rss() { /usr/bin/time -v "$tool" --bench "$1" 2>&1 >/dev/null | awk -F: '/Maximum resident/ { gsub(/ /, "", $2); print $2 }'; }
    echo
    echo "peak RSS of velmo-hash --bench: $(rss "$work/small.bin") KiB on 1 MiB, $(rss "$file") KiB on 1 GiB"
else
    echo
    echo "peak RSS: /usr/bin/time not found, skipped"
fi

exit $missed
