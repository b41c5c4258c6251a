#!/usr/bin/env bash
# A day of browsing through dnt-proxy, compressed: 8 clients (each from an
# address of its own), each with 32 keep-alive connections, over 2,000
# server hosts of the bundled entity list (all served by the local origin),
# an hour of one person's requests each paced over a few minutes; the
# proxy's resident memory and open sessions are reported every minute, and
# must stay flat. Not part of CI: it runs for minutes. Runs as root in a
# network namespace of its own.
#   bash bench/proxy/browsing_day.sh [BUILD_DIR] [PROXY OPTIONS...]
#     (CLIENTS=8 CONNECTIONS=32 HOSTS=2000 MINUTES=5 REQUESTS_PER_CLIENT=6000)
set -euo pipefail
build=${1:-build/default}
shift || true
clients=${CLIENTS:-8}
connections=${CONNECTIONS:-32}
host_count=${HOSTS:-2000}
minutes=${MINUTES:-5}
per_client=${REQUESTS_PER_CLIENT:-6000}
source "$(dirname "$0")/common.sh"

"$build/tools/dnt_proxy/dnt-proxy" --listen 127.0.0.1:0 --admin 127.0.0.1:0 --log "$work/day.log" \
  --map-host "*=127.0.0.1:$origin" --max-clients-per-address "$connections" "$@" &
proxy_pid=$!
proxy_port=$(port_in "$work/day.log")
admin_port=$(admin_port_in "$work/day.log")

# report MINUTE: one row of the proxy's figures.
report() {
  local metrics
  metrics=$(curl -s --max-time 5 "http://127.0.0.1:$admin_port/metrics" || true)
  printf '| %6s | %8.1f | %13s | %15s | %18s | %12s |\n' "$1" "$(awk '/^VmRSS:/ { print $2 / 1024 }' "/proc/$proxy_pid/status")" \
    "$(awk '$1 == "dnt_proxy_sessions_open" { print $2 }' <<<"$metrics")" \
    "$(awk '$1 ~ /^dnt_proxy_sessions_total/ { n += $2 } END { print n + 0 }' <<<"$metrics")" \
    "$(awk '$1 == "dnt_proxy_server_connections_open" { print $2 }' <<<"$metrics")" \
    "$(awk '$1 ~ /^dnt_proxy_requests_total/ { n += $2 } END { print n + 0 }' <<<"$metrics")"
}

echo "$clients clients x $connections connections, $host_count hosts of the entity list, $per_client requests per client over $minutes minutes"
echo
printf '| %6s | %8s | %13s | %15s | %18s | %12s |\n' "minute" "RSS MiB" "sessions open" "sessions ended" "server connections" "requests"
echo "|--------|----------|---------------|-----------------|--------------------|--------------|"
report 0
"$build/bench/proxy/proxy_load" browsing-day "$proxy_port" third_party/third-party-web/entities.json "$clients" "$connections" \
  "$host_count" $((minutes * 60)) "$per_client" >"$work/day.out" 2>&1 &
load_pid=$!
for minute in $(seq "$minutes"); do
  sleep 60
  report "$minute"
done
wait "$load_pid" || { cat "$work/day.out"; exit 1; }
report end
echo
cat "$work/day.out"
