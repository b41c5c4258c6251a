#!/usr/bin/env bash
# Runs every libFuzzer target briefly; each must finish without a finding.
# The targets run side by side, one per core (FUZZ_JOBS to change that).
set -euo pipefail
dir=${1:-build/fuzz}
jobs=${FUZZ_JOBS:-$(nproc)}
shopt -s nullglob

# smoke TARGET: its seed corpus copied, 20,000 runs; the log's tail on failure.
smoke() {
  local f=$1 name corpus seeds
  name=$(basename "$f")
  corpus=$(mktemp -d)
  seeds="fuzz/corpus/${name#fuzz_}"
  [ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/
  echo "fuzz-smoke: $name"
  # A failing input lands beside the build, not in the folder make ran in.
  mkdir -p "$FUZZ_ARTIFACTS"
  if ! "$f" -runs=20000 -max_len=4096 -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$FUZZ_ARTIFACTS/$name-" \
    "$corpus" >"$corpus.log" 2>&1; then
    echo "fuzz-smoke: $name failed (its input is kept in $FUZZ_ARTIFACTS):"
    tail -50 "$corpus.log"
    rm -rf "$corpus" "$corpus.log"
    return 1
  fi
  rm -rf "$corpus" "$corpus.log"
}
export -f smoke
export FUZZ_ARTIFACTS="$dir/artifacts"

targets=()
for f in "$dir"/fuzz/fuzz_*; do
  [ -x "$f" ] && targets+=("$f")
done
[ ${#targets[@]} -gt 0 ] || { echo "fuzz-smoke: no targets in $dir/fuzz" >&2; exit 1; }
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'smoke "$1"' _ {}
echo "fuzz-smoke: ${#targets[@]} targets ran clean"
