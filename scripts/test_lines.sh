#!/usr/bin/env bash
# Lines of product code and of tests, and their ratio: product is every .cpp/.h under
# Velmoupload/, client/, cli/ and standin/; tests are .cpp/.h/.py/.sh under tests/ plus the
# fuzz targets' .cpp/.h.
set -euo pipefail
cd "$(dirname "$0")/.."

count() { find "$@" -type f -print0 | xargs -0 cat 2>/dev/null | wc -l; }
product=$(count Velmoupload client cli standin \( -name '*.cpp' -o -name '*.h' \))
tests=$(count tests \( -name '*.cpp' -o -name '*.h' -o -name '*.py' -o -name '*.sh' \))
fuzz=$(count fuzz \( -name '*.cpp' -o -name '*.h' \))
printf 'product lines  %7d\n' "$product"
printf 'test lines     %7d  (tests/ %d, fuzz/ %d)\n' $((tests + fuzz)) "$tests" "$fuzz"
awk -v t=$((tests + fuzz)) -v p="$product" 'BEGIN { printf "ratio          %7.2f\n", t / p }'
