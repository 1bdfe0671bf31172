#!/bin/sh
# Upload throughput of velmo-standin next to nginx, both on loopback in the same run: a 1 GiB
# file posted as 1 MiB piece uploads to the stand-in (bench/standin_bench), and the same file
# sent with `curl -T` to a private nginx that stores PUT bodies. Prints MB/s of each, the
# ratio and its target (0.5).
# Usage: standin_bench.sh [BUILD-DIR]   (default build)
set -eu

build=${1:-build}
standin=$build/bin/velmo-standin
driver=$build/bin/standin_bench
for tool in "$standin" "$driver"; do
    [ -x "$tool" ] || { echo "$tool not found; build first" >&2; exit 2; }
done
command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || { echo "nginx is needed" >&2; exit 2; }
command -v curl >/dev/null || { echo "curl is needed" >&2; exit 2; }
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-standin-bench.XXXXXX")
standin_pid=
nginx_pid=
cleanup() {
    [ -n "$standin_pid" ] && kill "$standin_pid" 2>/dev/null || true
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

file="$work/data.bin"
echo "creating a 1 GiB file in $work ..."
head -c 1073741824 /dev/urandom >"$file"
cat "$file" >/dev/null   # both peers read it from the page cache

# A private nginx on a free loopback port that writes each PUT body to a file.
nginx_port=$("$driver" --free-port)
mkdir -p "$work/nginx/dav" "$work/nginx/tmp" "$work/nginx/logs"
chmod -R 777 "$work/nginx"
chmod 755 "$work"
user_line=
[ "$(id -u)" -eq 0 ] && user_line="user root;"
cat >"$work/nginx/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    server {
        listen 127.0.0.1:$nginx_port;
        client_max_body_size 0;
        location / {
            root $work/nginx/dav;
            dav_methods PUT;
        }
    }
}
CONF
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
nginx_pid=$!

# The stand-in on a free port, in a data folder of its own.
"$standin" --port 0 --data "$work/standin" >"$work/standin.log" 2>&1 &
standin_pid=$!
i=0
until grep -q '^listening on' "$work/standin.log" 2>/dev/null; do
    i=$((i + 1)); [ $i -gt 200 ] && { echo "velmo-standin did not start" >&2; exit 1; }
    sleep 0.05
done
standin_port=$(sed -n 's/^listening on http:\/\/.*:\([0-9]*\)$/\1/p' "$work/standin.log" | head -n 1)
i=0
until curl -s -o /dev/null "http://127.0.0.1:$nginx_port/"; do
    i=$((i + 1)); [ $i -gt 200 ] && { echo "nginx did not start" >&2; exit 1; }
    sleep 0.05
done

bytes=1073741824
best_nginx=
best_standin=
# Round 0 warms both up and is not counted: on a virtual machine the first write to memory
# the guest has never touched costs several times a later one, and that would go to whichever
# peer ran first.
for round in 0 1 2 3; do
    # write back what the last round left dirty, so that neither peer pays for the other
    sync
    t=$(curl -s -o /dev/null -w '%{time_total}' -T "$file" "http://127.0.0.1:$nginx_port/up$round.bin")
    rm -f "$work/nginx/dav/up$round.bin"
    [ $round -gt 0 ] && best_nginx=$(echo "$t ${best_nginx:-$t}" | awk '{print ($1 < $2) ? $1 : $2}')
    # each round is a new file name but the same content: wipe the store so nothing is rapid
    curl -s -o /dev/null -X POST "http://127.0.0.1:$standin_port/_standin/reset?all=1"
    sync
    cpu_before=$(awk '{print $14 + $15}' "/proc/$standin_pid/stat")
    set -- $("$driver" "$standin_port" "$file")
    cpu_ticks=$(( $(awk '{print $14 + $15}' "/proc/$standin_pid/stat") - cpu_before ))
    if [ $round -gt 0 ] && [ "$(echo "$2 ${best_standin:-$2}" | awk '{print ($1 <= $2)}')" = 1 ]; then
        best_standin=$2
        best_cpu=$cpu_ticks
    fi
done

hz=$(getconf CLK_TCK)
awk -v b=$bytes -v n="$best_nginx" -v s="$best_standin" -v c="$best_cpu" -v hz="$hz" 'BEGIN {
    mn = b / n / 1e6; ms = b / s / 1e6;
    printf "curl -T to nginx (PUT stored)        %8.1f MB/s  (best of 3, %.3f s)\n", mn, n;
    printf "velmo-standin, 1 MiB piece uploads   %8.1f MB/s  (best of 3, %.3f s, %.2f s of its CPU)\n", ms, s, c / hz;
    printf "ratio stand-in / nginx               %8.2f     (target >= 0.50)\n", ms / mn;
}'
