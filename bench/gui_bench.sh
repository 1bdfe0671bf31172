#!/usr/bin/env bash
# The desktop client under a real backup, next to the headless client on the same data in the
# same run, both against the stand-in on loopback:
#   a folder of 10,000 files of 1-10 KiB handed to the window by a second start, and
#   2,000 single files dropped on the window at once (2,000 rows).
# For the window: total time (to the last file's success report), the longest pause of its main
# loop (gaps between beats of a 50 ms timer inside the process) and its peak memory; for the
# drop also the time until all 2,000 rows are shown.
# usage: bench/gui_bench.sh [BUILD_DIR]   (runs on a display of its own)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

if [ -z "${VELMO_BENCH_ON_DISPLAY:-}" ]; then
    exec tests/gui/with_display.py --no-bus env VELMO_BENCH_ON_DISPLAY=1 bash "$0" "$@"
fi

. bench/bench_lib.sh
bench_need "$build/bin/vurozudeduz" "$build/bin/velmo-standin" "$build/bin/velmoupload-cli" \
    perl xdotool curl /usr/bin/time
bench_init gui

folder_files=${VELMO_BENCH_FOLDER_FILES:-10000}
drop_files=${VELMO_BENCH_DROP_FILES:-2000}

# files of 1-10 KiB, different content each (the stand-in would take equal content at once)
make_files() {
    perl -e 'my ($dir, $n) = @ARGV; srand(7 + $n);
        for my $i (1 .. $n) {
            my $sub = sprintf("%s/d%02d", $dir, $i % 50); mkdir $sub;
            open(my $f, ">", sprintf("%s/f%05d.bin", $sub, $i)) or die;
            print $f pack("N", $i) . join("", map { chr(int(rand(256))) } 1 .. (1024 + int(rand(9 * 1024)) - 4));
        }' "$1" "$2"
}
mkdir -p "$bench_work/folder" "$bench_work/drop"
echo "making $folder_files + $drop_files files..."
make_files "$bench_work/folder" "$folder_files"
make_files "$bench_work/drop" "$drop_files"
mapfile -t dropped < <(find "$bench_work/drop" -type f | sort)

# Each round gets a stand-in of its own on the same port: one that has stored files before
# answers more slowly, which would favour whichever client goes first.
port=$(bench_free_port)
host="127.0.0.1:$port"
round=0
standin_pid=
fresh_standin() {
    [ -z "$standin_pid" ] || bench_stop "$standin_pid"
    round=$((round + 1))
    bench_start_standin "$build/bin/velmo-standin" "$bench_work/standin-$round" \
        "$bench_work/standin-$round.log" --port "$port" --quota 1000000000000
}
fresh_standin
export HOME="$bench_work/home" XDG_RUNTIME_DIR="$bench_work/run" VELMO_API_HOST="$host"
export LC_ALL=C.UTF-8 LANGUAGE=en
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
printf 'demo\n' | "$build/bin/velmoupload-cli" --user demo --password-stdin --remember --auto \
    >/dev/null 2>&1

headless() {  # headless NAME PATH...
    local name=$1
    shift
    fresh_standin
    bench_run "$build/bin/velmoupload-cli" "$@" >/dev/null
    [ "$run_rc" -eq 0 ] || { echo "velmoupload-cli failed:" >&2; tail -5 "$bench_work/run.err" >&2; exit 1; }
    eval "${name}_cli_secs=$run_secs ${name}_cli_rss=$run_rss_kib ${name}_cli_cpu=$run_cpu_secs"
}

# The window, logged in and idle; sets app_pid, app_log, stall_log.
start_window() {
    app_log="$bench_work/window-$1.log"
    stall_log="$bench_work/stall-$1"
    fresh_standin
    VELMO_STALL_LOG="$stall_log" "$build/bin/vurozudeduz" >"$app_log" 2>&1 &
    app_pid=$!
    bench_pids+=("$app_pid")
    local i
    for i in $(seq 600); do
        grep -q '^LoginFinish' "$app_log" && return 0
        sleep 0.05
    done
    echo "the window did not log in" >&2
    exit 1
}

count() { grep -c "$1" "$app_log" || true; }

# waits for N lines matching PATTERN in the window's output; prints the seconds since T0
wait_lines() {
    local pattern=$1 n=$2 t0=$3
    while [ "$(count "$pattern")" -lt "$n" ]; do
        kill -0 "$app_pid" 2>/dev/null || { echo "the window ended" >&2; exit 1; }
        sleep 0.05
    done
    awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f", b - a }'
}

stop_window() {  # sets the window's peak memory (KiB), longest stall (ms) and CPU seconds
    win_rss=$(awk '/^VmHWM/ { print $2 }' "/proc/$app_pid/status")
    win_cpu=$(awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$app_pid/stat")
    [ -z "${VELMO_BENCH_SHOW_X:-}" ] || echo "Xvfb CPU: $(awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$(pgrep -n Xvfb)/stat") s, window CPU $win_cpu s"
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    bench_forget "$app_pid"
    win_stall=$(awk '/^max_gap_ms/ { print $2 }' "$stall_log")
}

# Each measurement is taken ROUNDS times, the two clients taking turns; the best time of each
# counts (this machine's timings vary from run to run), the worst stall and memory.
rounds=${VELMO_BENCH_ROUNDS:-2}
best() { bench_min "${!1:-}" "$2"; }
worst() { bench_max "${!1:-}" "$2"; }

drag_files() {  # a drag of every file of the drop set from a small source onto the window
    /usr/bin/python3 tests/gui/e2e/drag_source.py "${dropped[@]}" &
    source_pid=$!
    bench_pids+=("$source_pid")
    sleep 1.5
    xdotool mousemove 40 40 mousedown 1
    local step
    for step in $(seq 1 10); do
        xdotool mousemove $((40 + 600 * step / 10)) $((40 + 472 * step / 10))
        sleep 0.05
    done
    t0=$EPOCHREALTIME
    xdotool mouseup 1
}

window_folder() {
    start_window folder
    t0=$EPOCHREALTIME
    "$build/bin/vurozudeduz" "$bench_work/folder"
    secs=$(wait_lines '^status=5$' 1 "$t0")
    stop_window
    [ "$(best folder_win_best "$secs")" = "$secs" ] && folder_win_cpu=$win_cpu
    folder_win_best=$(best folder_win_best "$secs")
    folder_win_stall=$(worst folder_win_stall "$win_stall")
    folder_win_rss=$(worst folder_win_rss "$win_rss")
}

window_drop() {
    start_window drop
    drag_files
    rows=$(wait_lines '^add_listview$' "$drop_files" "$t0")
    secs=$(wait_lines '^status=5$' "$drop_files" "$t0")
    stop_window
    bench_stop "$source_pid"
    [ "$(best drop_win_best "$secs")" = "$secs" ] && drop_win_cpu=$win_cpu
    drop_win_best=$(best drop_win_best "$secs")
    drop_rows_secs=$(worst drop_rows_secs "$rows")
    drop_win_stall=$(worst drop_win_stall "$win_stall")
    drop_win_rss=$(worst drop_win_rss "$win_rss")
}

headless_folder() {
    headless folder "$bench_work/folder"
    folder_cli_best=$(best folder_cli_best "$folder_cli_secs")
}

headless_drop() {
    headless drop "${dropped[@]}"
    drop_cli_best=$(best drop_cli_best "$drop_cli_secs")
}

for round in $(seq "$rounds"); do
    echo "round $round of $rounds..."
    # the two clients take turns going first
    if [ $((round % 2)) -eq 1 ]; then
        headless_folder; window_folder; headless_drop; window_drop
    else
        window_folder; headless_folder; window_drop; headless_drop
    fi
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
report() {  # report LABEL WIN_SECS CLI_SECS STALL RSS WIN_CPU CLI_CPU
    local r
    r=$(ratio "$2" "$3")
    printf '%-34s window %7.2f s  headless %7.2f s  ratio %s (<= 1.15: %s)\n' "$1" "$2" "$3" "$r" \
        "$(bench_check "$r" '<=' 1.15)"
    printf '%-34s CPU time: window %s s, headless %s s\n' "" "$6" "$7"
    printf '%-34s longest main-loop stall %s ms (< 250: %s), window peak memory %s MiB\n' "" "$4" \
        "$(bench_check "$4" '<' 250)" "$(mib "$5")"
}
echo
report "folder of $folder_files files" "$folder_win_best" "$folder_cli_best" "$folder_win_stall" "$folder_win_rss" \
    "$folder_win_cpu" "$folder_cli_cpu"
report "$drop_files files dropped" "$drop_win_best" "$drop_cli_best" "$drop_win_stall" "$drop_win_rss" "$drop_win_cpu" \
    "$drop_cli_cpu"
printf '%-34s all %s rows shown %s s after the drop (the slowest round)\n' "" "$drop_files" "$drop_rows_secs"
printf '%-34s headless peak memory: folder %s MiB, files %s MiB\n' "" "$(mib "$folder_cli_rss")" "$(mib "$drop_cli_rss")"
