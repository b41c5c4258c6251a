#!/usr/bin/env bash
# Runs every libFuzzer target briefly; each must finish without a finding.
set -euo pipefail
dir=${1:-build/fuzz}
shopt -s nullglob
count=0
for f in "$dir"/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus=$(mktemp -d)
  seeds="fuzz/corpus/${name#fuzz_}"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/
  echo "fuzz-smoke: $name"
  "$f" -runs=20000 -max_len=4096 -rss_limit_mb=2048 -timeout=10 "$corpus" >"$corpus.log" 2>&1 || { tail -50 "$corpus.log"; exit 1; }
  rm -rf "$corpus" "$corpus.log"
  count=$((count + 1))
done
echo "fuzz-smoke: $count targets ran clean"
