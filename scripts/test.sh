#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a plain build, once with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=$(nproc)

scripts/build.sh build
(cd build && ctest -j"$jobs" --output-on-failure --timeout 300)

scripts/build.sh build-asan -DVELMO_SANITIZE=ON
(cd build-asan && ctest -j"$jobs" --output-on-failure --timeout 600)
