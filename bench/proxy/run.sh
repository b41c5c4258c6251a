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
if [ "${DNT_BENCH_NETNS:-}" != 1 ]; then
  exec unshare -n env DNT_BENCH_NETNS=1 bash "$0" "$@"
fi
ip link set lo up
for program in "$build/tools/dnt_proxy/dnt-proxy" "$build/tools/local_origin/dnt-local-origin" "$build/bench/proxy/proxy_load"; do
  [ -x "$program" ] || { echo "bench/proxy: $program was not built" >&2; exit 1; }
done
command -v wrk >/dev/null || { echo "bench/proxy: wrk is missing (scripts/bootstrap.sh installs it)" >&2; exit 1; }
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

source "$(dirname "$0")/../../scripts/listening_port.sh"

"$build/bench/proxy/proxy_load" urls examples/ferguson.com-2022.har >"$work/requests.lua"
"$build/tools/local_origin/dnt-local-origin" --quiet >"$work/origin.out" &
origin=$(port_in "$work/origin.out")

# start_proxy NAME [OPTIONS...]: sets proxy_pid and proxy_port.
start_proxy() {
  local name=$1
  shift
  "$build/tools/dnt_proxy/dnt-proxy" --listen 127.0.0.1:0 --log "$work/$name.log" --map-host "*=127.0.0.1:$origin" "$@" &
  proxy_pid=$!
  proxy_port=$(port_in "$work/$name.log")
}

stop_proxy() {
  kill "$proxy_pid"
  wait "$proxy_pid" || true
}

# Milliseconds from wrk's "1.23ms", "456.00us" or "1.01s".
to_ms() {
  awk '{ v = $1; if (v ~ /us$/) { sub(/us$/, "", v); v /= 1000 } else if (v ~ /ms$/) { sub(/ms$/, "", v) } else if (v ~ /s$/) { sub(/s$/, "", v); v *= 1000 } printf "%.3f", v }'
}

# load NAME PORT: one wrk run; prints a table row and keeps requests/s.
load() {
  local name=$1 port=$2 out="$work/$1.wrk"
  wrk -t2 -c"$connections" -d"${seconds}s" --latency -s "$work/requests.lua" "http://127.0.0.1:$port/" >"$out"
  local rps p50 p99 bad
  rps=$(awk '/^Requests\/sec:/ { print $2 }' "$out")
  p50=$(awk '$1 == "50%" { print $2 }' "$out" | to_ms)
  p99=$(awk '$1 == "99%" { print $2 }' "$out" | to_ms)
  bad=$(awk '/Non-2xx or 3xx responses:/ { n += $NF } /Socket errors:/ { gsub(/,/, ""); n += $4 + $6 + $8 + $10 } END { print n + 0 }' "$out")
  printf '| %-26s | %10s | %8s | %8s | %6s |\n' "$name" "$rps" "$p50" "$p99" "$bad"
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
  start_proxy "memory-$name" "$@"
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
