#!/usr/bin/env bash
# Installs what is missing, builds, starts the stand-in service, uploads a sample file (or the
# files given) to its demo account with the headless client, and keeps the service running
# until Ctrl-C so that other clients can be pointed at it.
# usage: scripts/run.sh [FILE...]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh build

port=36080                       # the stand-in's default, the client's built-in API host
data="$HOME/.velmo-standin"      # the stand-in's default data folder
mkdir -p "$data"
log="$data/standin.log"

# only checks for a listener; it sends nothing
answers() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }

if answers; then
    echo "run: something already listens on 127.0.0.1:$port; stop it first" >&2
    exit 1
fi

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

files=("$@")
if [ ${#files[@]} -eq 0 ]; then
    sample=$(mktemp /tmp/velmo-sample-XXXXXX)
    trap 'rm -f "$sample"; kill "$standin" 2>/dev/null; wait "$standin" 2>/dev/null || true' EXIT
    head -c 3000000 /dev/urandom >"$sample"
    files=("$sample")
fi

# the stand-in's demo account (see velmo-standin --help)
status=0
printf 'demo\n' | build/bin/velmoupload-cli --user demo --password-stdin "${files[@]}" || status=$?
echo "velmoupload-cli exit status: $status"

echo "stand-in still running (account demo, password demo); press Ctrl-C to stop it"
wait "$standin"
