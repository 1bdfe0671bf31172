#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs every test there: one build keeps the run short, and every case is checked for memory
# and undefined-behaviour faults as it runs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=$(nproc)

scripts/build.sh build-asan -DVELMO_SANITIZE=ON
(cd build-asan && ctest -j"$jobs" --output-on-failure --timeout 600)
