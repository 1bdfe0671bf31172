#!/usr/bin/env bash
# Builds the parsers' fuzzing programs (fuzz/) with clang into build-fuzz/ and runs each in turn
# for SECONDS on its seed corpus and dictionary, then prints per target its executions, corpus
# size and "ok" or "FINDING" with the input that failed; exits non-zero on any finding.
# New inputs collect in build-fuzz/corpus/<name>/ from run to run; --merge folds those that
# reach new code into fuzz/corpus/<name>/.
# usage: scripts/fuzz.sh [--merge] SECONDS [TARGET...]   (targets: the names in fuzz/*_fuzz.cpp)
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    sed -n 's/^# usage: //p' "$0" >&2
    exit 2
}

merge=0
if [ "${1:-}" = --merge ]; then
    merge=1
    shift
fi
[ $# -ge 1 ] && [[ "$1" =~ ^[0-9]+$ ]] && [ "$1" -gt 0 ] || usage
seconds=$1
shift

all=()
for src in fuzz/*_fuzz.cpp; do
    name=${src#fuzz/}
    all+=("${name%_fuzz.cpp}")
done
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")
for t in "${targets[@]}"; do
    [ -f "fuzz/${t}_fuzz.cpp" ] || { echo "fuzz: no target $t (known: ${all[*]})" >&2; exit 2; }
done

scripts/setup.sh
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer - -o /dev/null 2>/dev/null; then
    echo "fuzz: needs clang and its fuzzer runtime (Debian: clang, libclang-rt-14-dev)" >&2
    exit 2
fi

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMO_FUZZ=ON -DVELMO_SANITIZE=ON -DVELMO_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/%/_fuzz}"

# a leak is a finding too; sanitizer reports name the source line
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

findings=0
report=()
for t in "${targets[@]}"; do
    scratch=$build/corpus/$t
    found=$build/findings/$t
    log=$build/logs/$t.log
    mkdir -p "$scratch" "$found" "$(dirname "$log")"
    rm -f "$found"/*
    args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
          -close_fd_mask=1 -artifact_prefix="$found/")
    [ -f "fuzz/$t.dict" ] && args+=(-dict="fuzz/$t.dict")
    echo "fuzz: $t for ${seconds}s (log: $log)"
    status=0
    # one process at a time: the first folder receives new inputs, the seeds are only read
    "$build/bin/${t}_fuzz" "${args[@]}" "$scratch" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?

    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    corpus=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' "$log" | tail -1)
    artifact=$(find "$found" -type f -print -quit)
    if [ "$status" -ne 0 ] || [ -n "$artifact" ]; then
        findings=$((findings + 1))
        report+=("$(printf '%-16s FINDING  %s (exit %d; log %s)' "$t" "${artifact:-no input saved}" \
            "$status" "$log")")
    else
        report+=("$(printf '%-16s ok       executions %-10s corpus %s' "$t" "${runs:-?}" \
            "${corpus:-?}")")
        if [ "$merge" -eq 1 ]; then
            "$build/bin/${t}_fuzz" -merge=1 -close_fd_mask=1 "fuzz/corpus/$t" "$scratch" \
                >>"$log" 2>&1
        fi
    fi
done

echo
printf '%s\n' "${report[@]}"
[ "$findings" -eq 0 ]
