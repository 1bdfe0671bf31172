#!/usr/bin/env bash
# Configures and builds into a folder (default build/); extra arguments go to cmake.
# usage: scripts/build.sh [BUILD_DIR] [-DOPTION=VALUE ...]
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
if [ $# -gt 0 ] && [[ "$1" != -* ]]; then dir=$1; shift; fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
