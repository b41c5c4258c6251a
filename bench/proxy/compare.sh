#!/usr/bin/env bash
# dnt-proxy side by side with Privoxy, in one run, within a minute or two:
# wrk with 64 keep-alive connections for 10 s each over the requests of the
# bundled page load (served by the local origin) through dnt-proxy
# --no-engine, dnt-proxy on the default bases (default settings: trackers
# detected and stripped; then every category blocked) and Privoxy blocking
# the same tracker hosts (an action file made from the bundled entity list
# by the default bases' own import): requests/s, p50, p99, CPU time per
# request and resident memory. Then, with --intercept, the rate of TLS
# handshakes through the proxy with its leaf certificates made anew (cold)
# and reused (warm). Runs as root in a network namespace of its own.
#   bash bench/proxy/compare.sh [BUILD_DIR]     (SECONDS_PER_RUN=10 CONNECTIONS=64)
set -euo pipefail
build=${1:-build/default}
seconds=${SECONDS_PER_RUN:-10}
connections=${CONNECTIONS:-64}
handshake_seconds=${HANDSHAKE_SECONDS:-5}
command -v privoxy >/dev/null || PATH=$PATH:/usr/sbin
command -v privoxy >/dev/null || { echo "bench/proxy: privoxy is missing (scripts/bootstrap.sh installs it)" >&2; exit 1; }
source "$(dirname "$0")/common.sh"

row() { printf '| %-40s | %10s | %7s | %7s | %10s | %7s | %7s | %6s |\n' "$@"; }

# measure NAME PID PORT: one wrk run through PORT, with the CPU time and
# memory of process PID; keeps requests/s and p99 in rps_NAME and p99_NAME.
measure() {
  local label=$1 pid=$2 port=$3 var=$4 before after cpu rss
  before=$(cpu_ticks "$pid")
  wrk_run "$var" "$port"
  after=$(cpu_ticks "$pid")
  rss=$(resident_kib "$pid")
  cpu=$(awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v n="$requests" 'BEGIN { printf "%.1f", t / hz / n * 1e6 }')
  row "$label" "$rps" "$p50" "$p99" "$cpu" "$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')" "$non2xx" "$errors"
  eval "rps_$var=$rps p99_$var=$p99"
}

start_privoxy() {
  "$build/bench/proxy/proxy_load" privoxy-actions third_party/third-party-web/entities.json >"$work/trackers.action" \
    2>"$work/privoxy-actions.out"
  cat >"$work/privoxy.conf" <<CONF
confdir $work
templdir /etc/privoxy/templates
actionsfile trackers.action
listen-address 127.0.0.1:8118
forward / 127.0.0.1:$origin
toggle 1
enable-remote-toggle 0
enable-edit-actions 0
enable-remote-http-toggle 0
keep-alive-timeout 300
socket-timeout 300
default-server-timeout 300
connection-sharing 1
max-client-connections 512
CONF
  privoxy --no-daemon "$work/privoxy.conf" >"$work/privoxy.out" 2>&1 &
  privoxy_pid=$!
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/8118) 2>/dev/null && return; sleep 0.1; done
  echo "bench/proxy: privoxy did not start: $(cat "$work/privoxy.out")" >&2
  exit 1
}

echo "wrk: $connections connections, ${seconds} s each, the $(grep -c '^  {' "$work/requests.lua") requests of $har in turn; $(nproc) cores for everything"
echo
row "run" "requests/s" "p50 ms" "p99 ms" "CPU µs/req" "RSS MiB" "non-2xx" "errors"
echo "|------------------------------------------|------------|---------|---------|------------|---------|---------|--------|"
measure "origin directly" "$origin_pid" "$origin" origin
start_proxy pass --no-engine
measure "dnt-proxy --no-engine" "$proxy_pid" "$proxy_port" pass
stop_proxy
start_proxy engine
measure "dnt-proxy, default bases" "$proxy_pid" "$proxy_port" engine
stop_proxy
start_proxy blocking --block social --block analytics --block ad --block web-bug
measure "dnt-proxy, default bases, all blocked" "$proxy_pid" "$proxy_port" blocking
stop_proxy
start_privoxy
measure "Privoxy $(privoxy --version 2>/dev/null | awk '{ print $3; exit }'), same trackers blocked" "$privoxy_pid" 8118 privoxy
kill "$privoxy_pid"
wait "$privoxy_pid" 2>/dev/null || true
echo
echo "Privoxy's action file: $(tail -1 "$work/privoxy-actions.out" | sed 's/^proxy_load: //')"
awk -v e="$rps_engine" -v p="$rps_pass" -v b="$rps_blocking" -v x="$rps_privoxy" -v eq="$p99_engine" \
  -v bq="$p99_blocking" -v xq="$p99_privoxy" 'BEGIN {
  printf "engine: %.1f%% of --no-engine throughput (target >= 95%%)\n", 100 * e / p
  printf "against Privoxy (target >= 2x at a lower p99): default settings %.2fx, p99 %.3f vs %.3f ms; all blocked %.2fx, p99 %.3f vs %.3f ms\n", e / x, eq, xq, b / x, bq, xq }'

echo
echo "TLS handshakes through dnt-proxy --intercept (CONNECT, then a whole handshake, verified; 4 clients, ${handshake_seconds} s each):"
"$build/tools/dnt_proxy/dnt-proxy" ca init "$work/ca" >/dev/null
start_proxy tls --intercept "$work/ca" --leaf-cache 1000
for cache in cold warm; do
  printf '  leaf cache %s: ' "$cache"
  timeout $((handshake_seconds + 30)) "$build/bench/proxy/proxy_load" handshakes "$proxy_port" "$work/ca/ca.crt" "$cache" 4 \
    "$handshake_seconds"
done
stop_proxy
