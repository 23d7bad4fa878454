#!/bin/sh
# Lines of tests against lines of code in the files git tracks, blank lines included.
#   tests: everything under tests/ and every *_test.cpp / *_test.h elsewhere
#   code:  src/, tools/, bench/, the fuzz targets' sources (not their corpus),
#          scripts/ and schema/, less their tests
# Usage: scripts/count-lines.sh [repository folder]   (default: this checkout)
set -eu
cd "${1:-$(dirname "$0")/..}"

is_test='(^tests/|_test\.(cpp|h)$)'
tests=$(git ls-files | grep -E "$is_test" | tr '\n' '\0' | xargs -0 -r cat | wc -l)
code=$(git ls-files src tools bench scripts schema fuzz | grep -v -E "$is_test" \
         | grep -v '^fuzz/corpus/' | tr '\n' '\0' | xargs -0 -r cat | wc -l)

awk -v t="$tests" -v c="$code" 'BEGIN {
  printf "tests %d lines, code %d lines: %.2f of the code\n", t, c, t / c }'
