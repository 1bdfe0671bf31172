#!/usr/bin/env bash
# 1,000 files of 10 KiB: files per second through velmoupload-cli (one upload at a time) to the
# stand-in, next to rclone copying the same folder to rclone's webdav server with its defaults.
# Usage: small_files_bench.sh [BUILD-DIR]   (default build)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_lib.sh"

build=${1:-build}
cli=$build/bin/velmoupload-cli
standin=$build/bin/velmo-standin
for tool in "$cli" "$standin"; do
    [ -x "$tool" ] || { echo "$tool not found; build first" >&2; exit 2; }
done
bench_need rclone curl openssl /usr/bin/time
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")

bench_init small-files-bench
w=$bench_work
count=1000
mkdir -p "$w/files"
# distinct contents, so that no upload is rapid
openssl rand -out "$w/blob" $((count * 10240))
(cd "$w/files" && split -b 10240 -a 4 -d "$w/blob" f && rm "$w/blob")
[ "$(ls "$w/files" | wc -l)" -eq $count ] || { echo "could not create the files" >&2; exit 1; }
printf 'pw\n' >"$w/password"

bench_start_rclone "$w/rclone-root"
bench_rclone_opts

best_rclone= best_cli= peak_rss=0
for round in 1 2; do
    sync
    bench_run rclone copy "$w/files" ":webdav:round$round" "${rclone_opts[@]}"
    [ $run_rc -eq 0 ] || { echo "rclone copy failed" >&2; cat "$w/run.err" >&2; exit 1; }
    [ "$(ls "$w/rclone-root/round$round" | wc -l)" -eq $count ] ||
        { echo "rclone stored a wrong number of files" >&2; exit 1; }
    rm -rf "$w/rclone-root/round$round"
    best_rclone=$(bench_min "$best_rclone" "$run_secs")

    # a fresh service and configuration each round: nothing is known, nothing to resume
    rm -rf "$w/standin" "$w/home"
    mkdir -p "$w/home"
    bench_start_standin "$standin" "$w/standin" "$w/standin.log" --user bench:pw
    sync
    bench_run env HOME="$w/home" "$cli" --server "127.0.0.1:$standin_port" --user bench \
        --password-stdin --jobs 1 "$w"/files/f* <"$w/password" >"$w/cli.out"
    [ $run_rc -eq 0 ] || { echo "velmoupload-cli failed:" >&2; tail "$w/cli.out" "$w/run.err" >&2; exit 1; }
    [ "$(grep -c '^OK ' "$w/cli.out")" -eq $count ] &&
        [ "$(grep -c ' stored ' "$w/standin.log")" -eq $count ] ||
        { echo "the stand-in did not store every file" >&2; exit 1; }
    best_cli=$(bench_min "$best_cli" "$run_secs")
    peak_rss=$(bench_max "$peak_rss" "$run_rss_kib")
    bench_stop "$standin_pid"
done

awk -v n=$count -v r="$best_rclone" -v c="$best_cli" -v m="$peak_rss" 'BEGIN {
    fr = n / r; fc = n / c; ratio = fc / fr;
    printf "%d files of 10 KiB, best of 2, on loopback\n", n;
    printf "  rclone copy to rclone serve webdav  %7.1f files/s  (%.3f s)\n", fr, r;
    printf "  velmoupload-cli --jobs 1            %7.1f files/s  (%.3f s, peak RSS %d KiB)\n", fc, c, m;
    printf "  client / rclone                     %7.2f          target >= 2.00  %s\n", ratio,
        (ratio >= 2) ? "ok" : "MISSED";
}'
