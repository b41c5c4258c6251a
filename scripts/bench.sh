#!/usr/bin/env bash
# Runs every benchmark program once.
set -euo pipefail
build=${1:-build/default}
for b in "$build"/bench/*/*_bench; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
