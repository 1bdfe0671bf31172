#!/usr/bin/env bash
# Churn at full length, under ThreadSanitizer and under AddressSanitizer with leak detection:
# the engine's churn test (eight uploads at once while tasks are stopped, started and cancelled
# and the user logs out and in) for SECONDS, then velmoupload-cli --jobs 8 on a mixed tree,
# interrupted again and again and resumed until it is done, every file checked on the stand-in.
# usage: scripts/churn.sh [SECONDS]   (default 120; the test run does a short churn itself)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-120}

scripts/setup.sh
scripts/build.sh build-tsan -DVELMO_TSAN=ON
scripts/build.sh build-asan -DVELMO_SANITIZE=ON

work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-churn.XXXXXX")
standin_pid=
cleanup() {
    [ -z "$standin_pid" ] || kill "$standin_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
status=0
report() { printf '%-44s %s\n' "$1" "$2"; }

for build in build-tsan build-asan; do
    log="$work/$build-engine.log"
    if VELMO_CHURN_SECONDS=$seconds "$build/bin/engine_tests" \
        --gtest_filter='ChurnTest.*' >"$log" 2>&1; then
        report "$build: engine churn, $seconds s" "ok"
    else
        report "$build: engine churn, $seconds s" "FAILED (see below)"
        tail -40 "$log"
        status=1
    fi
done

# a mixed tree: many small files, some of several pieces
mkdir -p "$work/tree"
perl -e 'my ($dir) = @ARGV; srand(11);
    for my $i (1 .. 300) {
        my $sub = sprintf("%s/d%d", $dir, $i % 7); mkdir $sub;
        my $n = $i % 25 == 0 ? 3 * 1048576 + $i : 500 + int(rand(40000));
        open(my $f, ">", "$sub/f$i.bin") or die; print $f pack("N", $i) x int($n / 4);
    }' "$work/tree"

for build in build-tsan build-asan; do
    data="$work/$build-standin"
    "$build/bin/velmo-standin" --port 0 --data "$data" --quota 100000000000 >"$work/standin.log" 2>&1 &
    standin_pid=$!
    for _ in $(seq 100); do
        port=$(sed -n 's/^listening on http:\/\/.*:\([0-9]*\)$/\1/p' "$work/standin.log")
        [ -n "$port" ] && break
        sleep 0.1
    done
    export HOME="$work/$build-home" VELMO_API_HOST="127.0.0.1:$port"
    mkdir -p "$HOME"
    cli=("$build/bin/velmoupload-cli")
    printf 'demo\n' | "${cli[@]}" --user demo --password-stdin --remember >/dev/null 2>&1
    runs=0
    deadline=$((SECONDS + seconds))
    args=(--jobs 8 "$work/tree")
    while :; do
        runs=$((runs + 1))
        "${cli[@]}" "${args[@]}" >"$work/cli.out" 2>"$work/cli.err" &
        pid=$!
        if [ $SECONDS -lt $deadline ]; then
            sleep "$(awk -v r=$RANDOM 'BEGIN { printf "%.1f", 0.5 + (r % 30) / 10 }')"
            kill -INT "$pid" 2>/dev/null || true
        fi
        rc=0
        wait "$pid" || rc=$?
        if grep -q 'Sanitizer' "$work/cli.err"; then
            report "$build: velmoupload-cli --jobs 8" "FAILED: a sanitizer report"
            cat "$work/cli.err"
            status=1
            break
        fi
        [ $rc -eq 0 ] && break
        if [ $rc -ne 130 ] && [ $SECONDS -ge $deadline ]; then
            report "$build: velmoupload-cli --jobs 8" "FAILED: exit status $rc"
            tail -5 "$work/cli.out" "$work/cli.err"
            status=1
            break
        fi
        args=(--jobs 8 --resume)
    done
    # every file on the stand-in, byte for byte
    page=$(curl -s "http://127.0.0.1:$port/")
    missing=0
    while IFS= read -r file; do
        rel=${file#"$work/"}
        sha=$(sha1sum "$file" | cut -c1-40 | tr a-f A-F)
        grep -q "<tr><td>/$rel</td><td>[0-9]*</td><td><code>$sha</code>" <<<"$page" ||
            { missing=$((missing + 1)); echo "not on the stand-in as it is: $rel"; }
    done < <(find "$work/tree" -type f)
    if [ $missing -eq 0 ] && [ $status -eq 0 ]; then
        report "$build: velmoupload-cli --jobs 8, $runs runs" "ok, 300 files byte-exact"
    else
        report "$build: velmoupload-cli --jobs 8, $runs runs" "FAILED: $missing files differ"
        status=1
    fi
    kill "$standin_pid"
    wait "$standin_pid" 2>/dev/null || true
    standin_pid=
done
exit $status
