#!/usr/bin/env bash
# Test code against product code. Product: every .cpp/.h under Velmoupload/, client/, cli/ and
# standin/. Tests: the .cpp/.h/.py/.sh under tests/. Code lines leave out blank lines and
# comment-only lines; the physical count keeps them and adds the fuzz targets under fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."

physical() { find "$@" -type f -print0 | xargs -0 cat 2>/dev/null | wc -l; }
# code COMMENT-PATTERN FIND-ARGS...: lines neither blank nor a comment alone
code() {
    local comment=$1
    shift
    find "$@" -type f -print0 | xargs -0 cat 2>/dev/null | grep -cvE "^\s*(\$|$comment)" || true
}
product_files=(Velmoupload client cli standin \( -name '*.cpp' -o -name '*.h' \))
test_files=(tests \( -name '*.cpp' -o -name '*.h' -o -name '*.py' -o -name '*.sh' \))
fuzz_files=(fuzz \( -name '*.cpp' -o -name '*.h' \))

ratio() { awk -v t="$1" -v p="$2" 'BEGIN { printf "%.2f", t / p }'; }
p=$(code // "${product_files[@]}")
t=$(($(code // tests \( -name '*.cpp' -o -name '*.h' \)) + $(code '#' tests \( -name '*.py' -o -name '*.sh' \))))
printf 'code lines      product %6d  tests %6d  ratio %s\n' "$p" "$t" "$(ratio "$t" "$p")"
p=$(physical "${product_files[@]}")
t=$(physical "${test_files[@]}")
f=$(physical "${fuzz_files[@]}")
printf 'physical lines  product %6d  tests %6d  ratio %s  (with fuzz/ %d: %s)\n' "$p" "$t" \
    "$(ratio "$t" "$p")" "$f" "$(ratio $((t + f)) "$p")"
