#!/usr/bin/env bash
# Folder uploads at scale through velmoupload-cli. (a) 10,000 files of 1-10 KiB in 100
# directories: files per second next to rclone copying the same tree to rclone's webdav server,
# the client's peak memory and its resume file's size. (b) 10,000 and 100,000 tiny files: the
# time to list, register and write their resume records, and to load them after a new login.
# (c) 100,000 files of 1-10 KiB uploaded next to 10,000: the rate must hold as the service's
# store fills.
# Usage: [PARTS="a b c"] [SKIP_RCLONE=1] folder_scale_bench.sh [BUILD-DIR]   (default build)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_lib.sh"

build=${1:-build}
cli=$build/bin/velmoupload-cli
standin=$build/bin/velmo-standin
for tool in "$cli" "$standin"; do
    [ -x "$tool" ] || { echo "$tool not found; build first" >&2; exit 2; }
done
bench_need rclone curl perl /usr/bin/time
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")

bench_init folder-scale-bench
w=$bench_work
printf 'pw\n' >"$w/password"

# make_tree ROOT FILES DIRS MIN MAX: FILES files of MIN..MAX random bytes, spread evenly over
# DIRS directories (two levels, so that remote folders nest).
make_tree() {
    perl -e '
        my ($root, $n, $dirs, $min, $max) = @ARGV;
        open(my $rnd, "<:raw", "/dev/urandom") or die "urandom: $!";
        my $per = int(($n + $dirs - 1) / $dirs);
        for my $i (0 .. $n - 1) {
            my $d = int($i / $per);
            my $dir = sprintf("%s/g%02d/d%04d", $root, $d % 10, $d);
            unless (-d $dir) { system("mkdir", "-p", $dir) == 0 or die "mkdir $dir"; }
            my $size = $min + int(rand($max - $min + 1));
            # the index first: no two files alike, so none is a rapid upload
            my $data = "$i:";
            my $more = $size - length($data);
            if ($more > 0) {
                sysread($rnd, my $tail, $more) == $more or die "short read";
                $data .= $tail;
            }
            open(my $out, ">:raw", sprintf("%s/f%06d.bin", $dir, $i)) or die "$dir: $!";
            print $out $data;
            close($out);
        }' "$@"
}

# The resume file's largest size while the client runs, sampled into a file.
sample_resume() {
    local home=$1 out=$2 max=0 size f
    echo 0 >"$out"
    while :; do
        for f in "$home"/.Vurozudeduz/upload/*_upload.ini; do
            size=$(stat -c %s "$f" 2>/dev/null) || continue
            if [ "$size" -gt "$max" ]; then max=$size; echo "$max" >"$out"; fi
        done
        sleep 0.1
    done
}


records_in() {
    local f
    f=$(bench_resume_file "$1")
    if [ -n "$f" ]; then grep -c '^\[' "$f" || true; else echo 0; fi
}

# cli_as HOME: the command line of the client logged in as the bench account, in cli_cmd.
cli_as() {
    cli_cmd=(env HOME="$1" "$cli" --server "127.0.0.1:$standin_port" --user bench --password-stdin)
}

# ------------------------------------------------------------------ (a) 10,000 small files
part_a() {
    echo "creating 10,000 files of 1-10 KiB in 100 directories ..."
    make_tree "$w/tree" 10000 100 1024 10240
    count=$(find "$w/tree" -type f | wc -l)

    rclone_secs=
    if [ "${SKIP_RCLONE:-0}" != 1 ]; then
        bench_start_rclone "$w/rclone-root"
        bench_rclone_opts
        sync
        bench_run rclone copy "$w/tree" ":webdav:tree" "${rclone_opts[@]}"
        [ $run_rc -eq 0 ] || { echo "rclone copy failed" >&2; cat "$w/run.err" >&2; exit 1; }
        [ "$(find "$w/rclone-root/tree" -type f | wc -l)" -eq "$count" ] ||
            { echo "rclone stored a wrong number of files" >&2; exit 1; }
        rm -rf "$w/rclone-root/tree"
        rclone_secs=$run_secs
    fi

    mkdir -p "$w/home-a"
    bench_start_standin "$standin" "$w/standin-a" "$w/standin-a.log" --user bench:pw
    sample_resume "$w/home-a" "$w/resume-max" &
    sampler=$!
    bench_pids+=("$sampler")
    sync
    cli_as "$w/home-a"
    bench_run "${cli_cmd[@]}" --jobs 1 "$w/tree" <"$w/password" >"$w/cli-a.out"
    bench_stop "$sampler"
    [ $run_rc -eq 0 ] || { echo "velmoupload-cli failed:" >&2; tail "$w/cli-a.out" "$w/run.err" >&2; exit 1; }
    stored=$(grep -c ' stored ' "$w/standin-a.log" || true)
    [ "$stored" -eq "$count" ] || { echo "the stand-in stored $stored of $count files" >&2; exit 1; }
    cli_secs=$run_secs
    cli_rss=$run_rss_kib
    resume_max=$(cat "$w/resume-max")
    resume_end=$(stat -c %s "$(bench_resume_file "$w/home-a")" 2>/dev/null || echo 0)
    bench_stop "$standin_pid"

    echo "(a) a folder of $count files of 1-10 KiB in 100 directories, on loopback"
    if [ -n "$rclone_secs" ]; then
        awk -v n="$count" -v s="$rclone_secs" 'BEGIN {
            printf "  rclone copy to rclone serve webdav  %7.1f files/s  (%.3f s)\n", n / s, s }'
    fi
    awk -v n="$count" -v s="$cli_secs" -v m="$cli_rss" 'BEGIN {
        printf "  velmoupload-cli --jobs 1, folder    %7.1f files/s  (%.3f s, peak RSS %d KiB)\n",
            n / s, s, m }'
    if [ -n "$rclone_secs" ]; then
        ratio=$(awk -v c="$cli_secs" -v r="$rclone_secs" 'BEGIN { printf "%.2f", r / c }')
        printf '  client / rclone                     %7s          target >= 4.00  %s\n' \
            "$ratio" "$(bench_check "$ratio" '>=' 4)"
    fi
    awk -v a="$resume_max" -v b="$resume_end" 'BEGIN {
        printf "  resume file: largest %.1f MiB during the upload, %d bytes at the end\n",
            a / 1048576, b }'
}

# ------------------------------------------------------------------ (b) registering at scale
part_b() {
    # The service stalls every dispatch for 2 s, so the client lists and registers the whole
    # folder while hardly anything uploads; Ctrl-C then leaves every record in the resume file.
    echo "(b) a folder of tiny files (1-32 bytes, 100 a directory): register, stop, load"
    for n in 10000 100000; do
        rm -rf "$w/tiny" "$w/standin-b" "$w/home-b"
        mkdir -p "$w/home-b" "$w/home-empty"
        make_tree "$w/tiny" $n $((n / 100)) 1 32
        bench_start_standin "$standin" "$w/standin-b" "$w/standin-b.log" --user bench:pw
        curl -sf -o /dev/null -X POST \
            "http://127.0.0.1:$standin_port/_standin/fault?action=stall&on=dispatch&seconds=2&count=1000000"
        sync

        t0=$EPOCHREALTIME
        # every file has its record once the count falls short of n only by the files stored
        bench_register_and_stop "$w/home-b" "$w/standin-b.log" "$n" cli-b \
            env HOME="$w/home-b" "$cli" --server "127.0.0.1:$standin_port" --user bench \
            --password-stdin "$w/tiny"
        reg_secs=$(awk -v a="$t0" -v b="$reg_written" 'BEGIN { printf "%.3f", b - a }')
        bytes=$(stat -c %s "$(bench_resume_file "$w/home-b")")

        upload_rss=$(tail -n 1 "$w/cli-b.time")
        kept=$(records_in "$w/home-b")
        curl -sf -o /dev/null -X POST "http://127.0.0.1:$standin_port/_standin/reset"

        # listing the unfinished uploads logs in and loads every record; an empty configuration
        # gives the login alone
        best_list= best_login= list_rss=
        for round in 1 2 3; do
            cli_as "$w/home-b"
            bench_run "${cli_cmd[@]}" <"$w/password" >"$w/list.out"
            [ $run_rc -eq 0 ] && [ "$(cat "$w/list.out")" = "$w/tiny" ] ||
                { echo "listing failed:" >&2; cat "$w/list.out" "$w/run.err" >&2; exit 1; }
            best_list=$(bench_min "$best_list" "$run_secs")
            list_rss=$run_rss_kib
            rm -rf "$w/home-empty"/.Vurozudeduz
            cli_as "$w/home-empty"
            bench_run "${cli_cmd[@]}" <"$w/password" >/dev/null
            best_login=$(bench_min "$best_login" "$run_secs")
        done
        bench_stop "$standin_pid"

        awk -v n="$n" -v r="$reg_secs" -v b="$bytes" -v s="$stop_secs" -v k="$kept" \
            -v u="$upload_rss" -v l="$best_list" -v g="$best_login" -v m="$list_rss" 'BEGIN {
            printf "  %6d files: listed, registered and written in %.3f s (save thread: once a second)\n", n, r;
            printf "                resume file %.1f MiB, %d records kept after Ctrl-C (stop took %.3f s), peak RSS %d KiB\n",
                b / 1048576, k, s, u;
            printf "                list after a new login %.3f s, login alone %.3f s: load %.3f s, peak RSS %d KiB\n",
                l, g, l - g, m;
        }' | tee -a "$w/scale.txt"
        echo "$n $reg_secs $best_list $best_login" >>"$w/scale.dat"
    done
    awk '{ n[NR] = $1; r[NR] = $2; l[NR] = $3 - $4 }
        END {
            f = n[2] / n[1];
            rr = r[2] / r[1]; lr = (l[1] > 0) ? l[2] / l[1] : 0;
            printf "  x%d files: register x%.1f, load x%.1f (linear: x%d; quadratic: x%d)  %s\n",
                f, rr, lr, f, f * f, (rr <= 2 * f && lr <= 2 * f) ? "ok" : "MISSED";
        }' "$w/scale.dat"
}

# ------------------------------------------------------------------ (c) uploading at scale
# upload_rate N: files per second of a folder of N files of 1-10 KiB, uploaded into a fresh
# stand-in, in rate_fps.
upload_rate() {
    local n=$1
    rm -rf "$w/scale" "$w/standin-c" "$w/home-c"
    mkdir -p "$w/home-c"
    make_tree "$w/scale" "$n" $((n / 100)) 1024 10240
    bench_start_standin "$standin" "$w/standin-c" "$w/standin-c.log" --user bench:pw
    sync
    cli_as "$w/home-c"
    bench_run "${cli_cmd[@]}" --jobs 1 "$w/scale" <"$w/password" >"$w/cli-c.out"
    [ $run_rc -eq 0 ] || { echo "velmoupload-cli failed:" >&2; tail "$w/cli-c.out" "$w/run.err" >&2; exit 1; }
    stored=$(grep -c ' stored ' "$w/standin-c.log" || true)
    [ "$stored" -eq "$n" ] || { echo "the stand-in stored $stored of $n files" >&2; exit 1; }
    # the service's own share: its CPU time per file must not grow with the files it holds
    standin_ticks=$(awk '{ print $14 + $15 }' "/proc/$standin_pid/stat")
    bench_stop "$standin_pid"
    rate_fps=$(awk -v n="$n" -v s="$run_secs" 'BEGIN { printf "%.1f", n / s }')
    standin_ms=$(awk -v n="$n" -v t="$standin_ticks" -v hz="$(getconf CLK_TCK)" \
        'BEGIN { printf "%.2f", t * 1000 / hz / n }')
    printf '  %6d files  %7.1f files/s  (%.3f s; the stand-in %.2f ms of CPU a file, client %.2f)\n' \
        "$n" "$rate_fps" "$run_secs" "$standin_ms" \
        "$(awk -v c="$run_cpu_secs" -v n="$n" 'BEGIN { printf "%.2f", c * 1000 / n }')"
}

part_c() {
    echo "(c) folders of 1-10 KiB files (100 a directory), each into a fresh stand-in"
    upload_rate 10000
    small_fps=$rate_fps
    small_ms=$standin_ms
    upload_rate 100000
    ratio=$(awk -v a="$rate_fps" -v b="$small_fps" 'BEGIN { printf "%.2f", a / b }')
    printf '  100,000 / 10,000 files: rate x%s          target >= 0.80  %s\n' \
        "$ratio" "$(bench_check "$ratio" '>=' 0.8)"
    cost=$(awk -v a="$standin_ms" -v b="$small_ms" 'BEGIN { printf "%.2f", a / b }')
    printf '  100,000 / 10,000 files: stand-in CPU a file x%s  target <= 1.20  %s\n' \
        "$cost" "$(bench_check "$cost" '<=' 1.2)"
}

for part in ${PARTS:-a b c}; do
    part_$part
done
