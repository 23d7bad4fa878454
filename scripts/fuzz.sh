#!/bin/sh
# Runs each fuzz target for a bounded time over the seed corpus in fuzz/corpus/
# (read only) and a working corpus in the build folder. Fails when a target
# finds a crash; the input that crashed it is left in BUILD/fuzz-artifacts/.
# Usage: scripts/fuzz.sh BUILD SECONDS TARGET...
set -eu
build=$1; seconds=$2; shift 2
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/fuzz-artifacts"
failed=""
for target in "$@"; do
  work="$build/fuzz-corpus/$target"
  mkdir -p "$work"
  echo "== $target: $seconds s"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-" \
      "$work" "$top/fuzz/corpus/$target" 2>"$build/fuzz-artifacts/$target.log"; then
    failed="$failed $target"
    tail -n 40 "$build/fuzz-artifacts/$target.log"
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|cov: ' "$build/fuzz-artifacts/$target.log" | tail -n 3
done
if [ -n "$failed" ]; then
  echo "fuzzing found failures in:$failed" >&2
  exit 1
fi
