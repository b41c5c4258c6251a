#!/usr/bin/env bash
# dnt-proxy under load, in one run: wrk with 64 keep-alive connections for
# 10 s over the requests of the bundled page load (served by the local
# origin), against the origin directly, through dnt-proxy --no-engine and
# through dnt-proxy on the default bases; then the proxy's resident memory
# with 4,096 open sessions. Runs as root in a network namespace of its own
# with only loopback up.
#   bash bench/proxy/run.sh [BUILD_DIR]      (SECONDS=10 CONNECTIONS=64)
set -euo pipefail
build=${1:-build/default}
seconds=${SECONDS_PER_RUN:-10}
connections=${CONNECTIONS:-64}
sessions=${SESSIONS:-4096}
source "$(dirname "$0")/common.sh"

# load NAME PORT VAR: one wrk run; prints a table row and keeps requests/s
# and p99 in rps_VAR and p99_VAR.
load() {
  wrk_run "$1" "$2"
  printf '| %-26s | %10s | %8s | %8s | %6s |\n' "$1" "$rps" "$p50" "$p99" "$((non2xx + errors))"
  eval "rps_$3=$rps p99_$3=$p99"
}

echo "wrk: $connections connections, ${seconds} s, $(grep -c '^  {' "$work/requests.lua") requests of examples/ferguson.com-2022.har in turn"
echo
printf '| %-26s | %10s | %8s | %8s | %6s |\n' "run" "requests/s" "p50 ms" "p99 ms" "errors"
echo "|----------------------------|------------|----------|----------|--------|"
load "origin directly" "$origin" origin
start_proxy pass --no-engine
load "dnt-proxy --no-engine" "$proxy_port" pass
stop_proxy
start_proxy engine
load "dnt-proxy, default bases" "$proxy_port" engine
stop_proxy
echo
echo "engine log of its run: $(grep -c ' modified ' "$work/engine.log") requests modified, $(grep -c ' blocked ' "$work/engine.log") blocked, $(grep -c ' verdict ' "$work/engine.log") session verdicts"
awk -v e="$rps_engine" -v p="$rps_pass" -v ep="$p99_engine" -v pp="$p99_pass" 'BEGIN {
  printf "engine: %.1f%% of --no-engine throughput (target >= 95%%), p99 %+.1f%% (target <= +10%%)\n", 100 * e / p, 100 * (ep - pp) / pp }'

# memory NAME [OPTIONS...]: resident memory of a fresh proxy, idle and
# holding $sessions sessions.
memory() {
  local name=$1
  shift
  # Every session comes from one address: the caps per address are lifted.
  start_proxy "memory-$name" --max-clients-per-address "$sessions" --max-sessions-per-client "$sessions" \
    --max-sessions "$sessions" "$@"
  local idle held
  idle=$(awk '/^VmRSS:/ { print $2 }' "/proc/$proxy_pid/status")
  mkfifo "$work/hold-$name"
  "$build/bench/proxy/proxy_load" sessions "$proxy_port" "$sessions" <"$work/hold-$name" >"$work/held-$name" &
  local loader=$!
  exec 9>"$work/hold-$name"
  for _ in $(seq 600); do grep -q held "$work/held-$name" && break; sleep 0.1; done
  grep -q held "$work/held-$name" || { echo "bench/proxy: the sessions did not open" >&2; exit 1; }
  held=$(awk '/^VmRSS:/ { print $2 }' "/proc/$proxy_pid/status")
  exec 9>&-
  wait "$loader"
  stop_proxy
  awk -v n="$name" -v i="$idle" -v h="$held" -v s="$sessions" 'BEGIN {
    printf "| %-26s | %9.1f | %12.1f | %11.1f |\n", n, i / 1024, h / 1024, (h - i) / s }'
}

echo
echo "resident memory with $sessions open sessions (one client connection and one server each):"
echo
printf '| %-26s | %9s | %12s | %11s |\n' "proxy" "idle MiB" "sessions MiB" "KiB/session"
echo "|----------------------------|-----------|--------------|-------------|"
memory "--no-engine" --no-engine
memory "default bases"
