# Shared parts of the upload benchmarks, sourced by bash scripts in bench/: a private work folder
# removed on exit with every server started here, loopback servers, timing with peak memory.

bench_work=
bench_pids=()

# bench_init NAME: the work folder, and the trap that tears everything down however we exit.
bench_init() {
    bench_work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-$1.XXXXXX")
    # nginx's workers may run as another user and must reach their folders below this one
    chmod 755 "$bench_work"
    : >"$bench_work/rclone.conf"
    trap bench_cleanup EXIT
    # set -e alone would end the script without a word
    set -E
    trap 'echo "$0: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
    trap 'exit 130' INT TERM HUP
}

bench_cleanup() {
    local pid
    for pid in "${bench_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${bench_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
        # a grandchild (the program under time(1)) cannot be waited for: watch it end
        local i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 400 ]; do
            sleep 0.1
            i=$((i + 1))
        done
    done
    [ -n "$bench_work" ] && rm -rf "$bench_work"
}

bench_need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || [ -x "$tool" ] ||
            { echo "$tool is needed (scripts/setup.sh installs it)" >&2; exit 2; }
    done
}

# A port nobody answers on; a server that then fails to bind is caught by bench_wait_http.
# Below Linux's ephemeral range (32768 up), so no client connection of the run holds it.
bench_free_port() {
    local port i
    for i in $(seq 200); do
        port=$((20000 + RANDOM % 12000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    echo "no free loopback port" >&2
    return 1
}

bench_wait_http() {
    local i
    for i in $(seq 400); do
        curl -s -o /dev/null "$1" && return 0
        sleep 0.05
    done
    echo "$2 did not start" >&2
    exit 1
}

# Ends one server started here: killed and reaped, so a later round gets its port and files.
bench_stop() {
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
    bench_forget "$1"
}

# A process that ended by itself is no longer ours to kill.
bench_forget() {
    local pid=$1 keep=() p
    for p in "${bench_pids[@]}"; do
        [ "$p" = "$pid" ] || keep+=("$p")
    done
    bench_pids=("${keep[@]}")
}

# bench_start_standin BINARY DATA-DIR LOG [OPTION...]: sets standin_pid and standin_port.
bench_start_standin() {
    local bin=$1 data=$2 log=$3 i
    shift 3
    "$bin" --port 0 --data "$data" "$@" >"$log" 2>&1 &
    standin_pid=$!
    bench_pids+=("$standin_pid")
    standin_port=
    for i in $(seq 400); do
        standin_port=$(sed -n 's/^listening on http:\/\/.*:\([0-9]*\)$/\1/p' "$log" | head -n 1)
        [ -n "$standin_port" ] && return 0
        kill -0 "$standin_pid" 2>/dev/null || break
        sleep 0.05
    done
    echo "velmo-standin did not start:" >&2
    cat "$log" >&2
    exit 1
}

# bench_start_nginx ROOT: a private nginx storing PUT bodies below ROOT; sets nginx_port.
bench_start_nginx() {
    local root=$1 dir="$bench_work/nginx" user_line= bin
    bin=$(command -v nginx || echo /usr/sbin/nginx)
    nginx_port=$(bench_free_port)
    mkdir -p "$root" "$dir/tmp" "$dir/logs"
    chmod -R 777 "$root" "$dir"
    [ "$(id -u)" -eq 0 ] && user_line="user root;"
    cat >"$dir/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/logs/error.log;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path $dir/tmp/body;
    proxy_temp_path $dir/tmp/proxy;
    fastcgi_temp_path $dir/tmp/fastcgi;
    uwsgi_temp_path $dir/tmp/uwsgi;
    scgi_temp_path $dir/tmp/scgi;
    server {
        listen 127.0.0.1:$nginx_port;
        client_max_body_size 0;
        location / {
            root $root;
            dav_methods PUT;
        }
    }
}
CONF
    "$bin" -p "$dir" -c "$dir/nginx.conf" -g 'daemon off;' 2>>"$dir/logs/error.log" &
    bench_pids+=("$!")
    bench_wait_http "http://127.0.0.1:$nginx_port/" nginx
}

# bench_start_rclone ROOT: `rclone serve webdav` with its defaults; sets rclone_port.
bench_start_rclone() {
    rclone_port=$(bench_free_port)
    mkdir -p "$1"
    rclone serve webdav "$1" --addr "127.0.0.1:$rclone_port" --config "$bench_work/rclone.conf" \
        >"$bench_work/rclone-serve.log" 2>&1 &
    bench_pids+=("$!")
    bench_wait_http "http://127.0.0.1:$rclone_port/" "rclone serve webdav"
}

# The options that point `rclone copy SRC :webdav:FOLDER` at the server, an on-the-fly remote.
bench_rclone_opts() {
    rclone_opts=(--webdav-url "http://127.0.0.1:$rclone_port/" --config "$bench_work/rclone.conf")
}

# bench_run COMMAND...: sets run_secs (wall), run_cpu_secs (user + system), run_rss_kib (peak
# RSS) and run_rc; stdin and
# stdout are the caller's, stderr goes to $bench_work/run.err.
bench_run() {
    local t0 t1
    t0=$EPOCHREALTIME
    if /usr/bin/time -f '%U %S %M' -o "$bench_work/run.time" "$@" 2>"$bench_work/run.err"; then
        run_rc=0
    else
        run_rc=$?
    fi
    t1=$EPOCHREALTIME
    run_secs=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    run_rss_kib=$(tail -n 1 "$bench_work/run.time" | awk '{ print $3 }')
    run_cpu_secs=$(tail -n 1 "$bench_work/run.time" | awk '{ printf "%.2f", $1 + $2 }')
    return 0
}

bench_min() {
    if [ -z "$1" ]; then echo "$2"; else awk -v a="$1" -v b="$2" 'BEGIN { print (a < b) ? a : b }'; fi
}

bench_max() {
    if [ -z "$1" ]; then echo "$2"; else awk -v a="$1" -v b="$2" 'BEGIN { print (a > b) ? a : b }'; fi
}

# bench_check VALUE OP LIMIT: "ok" or "MISSED".
bench_check() {
    awk -v v="$1" -v l="$3" -v op="$2" 'BEGIN {
        if (op == "<=") r = v <= l; else if (op == "<") r = v < l;
        else if (op == ">=") r = v >= l; else r = v > l;
        print r ? "ok" : "MISSED" }'
}

# The resume file of the one user who has one under HOME, or nothing.
bench_resume_file() {
    local f
    for f in "$1"/.Vurozudeduz/upload/*_upload.ini; do
        [ -f "$f" ] && echo "$f"
        return 0
    done
}

# bench_register_and_stop HOME STANDIN_LOG N NAME CMD...: runs CMD (velmoupload-cli with HOME,
# reading its password from $bench_work/password) under time(1) into $bench_work/NAME.time, .out
# and .err, waits until its resume file holds all N records (those the service stored meanwhile
# count too), then Ctrl-C. Sets reg_written (when the records were all on disk, as
# $EPOCHREALTIME) and stop_secs (how long the client took to end after Ctrl-C).
bench_register_and_stop() {
    local home=$1 standin_log=$2 n=$3 name=$4
    shift 4
    local base=$bench_work/$name
    /usr/bin/time -f '%M' -o "$base.time" "$@" <"$bench_work/password" >"$base.out" 2>"$base.err" &
    local time_pid=$!
    bench_pids+=("$time_pid")
    # time(1) ignores Ctrl-C and dies of a TERM without passing it on: signal the client itself
    local cli_pid= i
    for i in $(seq 200); do
        cli_pid=$(pgrep -P "$time_pid" || true)
        [ -n "$cli_pid" ] && break
        sleep 0.01
    done
    [ -n "$cli_pid" ] || { echo "velmoupload-cli did not start" >&2; exit 1; }
    bench_pids+=("$cli_pid")
    # Counted only when the file was rewritten, so that polling a large file does not take the
    # client's core.
    local f stamp seen= have stored
    reg_written=
    for i in $(seq 12000); do
        f=$(bench_resume_file "$home")
        stamp=
        [ -n "$f" ] && stamp=$(stat -c '%.9Y' "$f" 2>/dev/null || true)
        if [ -n "$stamp" ] && [ "$stamp" != "$seen" ]; then
            seen=$stamp
            have=$(grep -c '^\[' "$f" || true)
            stored=$(grep -c ' stored ' "$standin_log" || true)
            if [ $((have + stored)) -ge "$n" ]; then
                reg_written=$stamp
                break
            fi
        fi
        kill -0 "$cli_pid" 2>/dev/null || break
        sleep 0.05
    done
    [ -n "$reg_written" ] ||
        { echo "the resume file never held all $n records" >&2; cat "$base.err" >&2; exit 1; }
    local t1=$EPOCHREALTIME rc=0
    kill -INT "$cli_pid"
    wait "$time_pid" || rc=$?
    local t2=$EPOCHREALTIME
    bench_forget "$time_pid"
    bench_forget "$cli_pid"
    [ $rc -eq 130 ] || { echo "Ctrl-C ended the client with $rc" >&2; cat "$base.err" >&2; exit 1; }
    stop_secs=$(awk -v a="$t1" -v b="$t2" 'BEGIN { printf "%.3f", b - a }')
}
