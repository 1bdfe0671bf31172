#!/usr/bin/env bash
# Installs what is missing, builds, and shows the digests the client sends for a file:
# the given one, or a sample made on the spot.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh build

if [ $# -gt 0 ]; then
    exec build/bin/velmo-hash "$@"
fi
sample=$(mktemp /tmp/velmo-sample-XXXXXX)
trap 'rm -f "$sample"' EXIT
head -c 3000000 /dev/urandom >"$sample"
build/bin/velmo-hash "$sample"
