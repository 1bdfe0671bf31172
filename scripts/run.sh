#!/usr/bin/env bash
# The main job: installs what is missing, builds the programs, starts the stand-in service (unless
# one already answers), and opens the desktop client logged in to its demo account. Without a
# display it uploads a sample file (or the files given) with the headless client instead and
# keeps the service running until Ctrl-C, so that other clients can be pointed at it.
# usage: scripts/run.sh [FILE...]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
# only the programs this job runs; the tests build with scripts/test.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vurozudeduz velmo-standin velmoupload-cli

port=36080                       # the stand-in's default, the client's built-in API host
data="$HOME/.velmo-standin"      # the stand-in's default data folder
mkdir -p "$data"
log="$data/standin.log"

# only checks for a listener; it sends nothing
answers() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }

standin=
if answers; then
    echo "stand-in: one already answers on http://127.0.0.1:$port; using it"
else
    build/bin/velmo-standin >>"$log" 2>&1 &
    standin=$!
    trap 'kill "$standin" 2>/dev/null; wait "$standin" 2>/dev/null || true' EXIT
    trap 'exit 130' INT TERM
    for _ in $(seq 100); do
        answers && break
        kill -0 "$standin" 2>/dev/null || { echo "run: the stand-in did not start:" >&2; tail -5 "$log" >&2; exit 1; }
        sleep 0.1
    done
    answers || { echo "run: the stand-in does not answer on port $port" >&2; exit 1; }
    echo "stand-in: http://127.0.0.1:$port, data in $data, requests logged to $log"
fi
# the clients go where the stand-in is, whatever their environment says
unset VELMO_API_HOST

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ $# -eq 0 ]; then
    # a first run remembers the stand-in's demo account (demo:demo) with automatic login, so
    # the window opens logged in; an account remembered earlier is left as it is
    if [ ! -s "$HOME/.Vurozudeduz/upload/account.ini" ]; then
        printf 'demo\n' | build/bin/velmoupload-cli --user demo --password-stdin --remember --auto >/dev/null
        echo "remembered the demo account (password demo) with automatic login"
    fi
    echo "vurozudeduz: drop files or folders on the window, or press Add; close it to stop"
    status=0
    build/bin/vurozudeduz >/dev/null || status=$?
    exit "$status"
fi

files=("$@")
if [ ${#files[@]} -eq 0 ]; then
    sample=$(mktemp /tmp/velmo-sample-XXXXXX)
    trap 'rm -f "$sample"; [ -z "$standin" ] || { kill "$standin" 2>/dev/null; wait "$standin" 2>/dev/null || true; }' EXIT
    head -c 3000000 /dev/urandom >"$sample"
    files=("$sample")
fi

# the stand-in's demo account (see velmo-standin --help)
status=0
printf 'demo\n' | build/bin/velmoupload-cli --user demo --password-stdin "${files[@]}" || status=$?
echo "velmoupload-cli exit status: $status"

if [ -n "$standin" ]; then
    echo "stand-in still running (account demo, password demo); press Ctrl-C to stop it"
    wait "$standin"
fi
