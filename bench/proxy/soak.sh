#!/usr/bin/env bash
# The proxy's soak (not part of CI: it takes minutes): 1,000,000 requests
# over 10,000 sessions (client connections of 100 requests to one server of
# the bundled page load each, 8 at a time) through dnt-proxy on the default
# bases, which are swapped in place 100 times during the run (SIGHUP). No
# request may fail; the proxy's resident memory is printed every 100,000
# requests. Runs as root in a network namespace of its own.
#   bash bench/proxy/soak.sh [BUILD_DIR]    (SESSIONS=10000 PER_SESSION=100 SWAPS=100)
set -euo pipefail
build=${1:-build/default}
sessions=${SESSIONS:-10000}
per_session=${PER_SESSION:-100}
swaps=${SWAPS:-100}
source "$(dirname "$0")/common.sh"

total=$((sessions * per_session))
start_proxy soak
echo "soak: $total requests over $sessions sessions, $swaps bases swaps"
echo
status=0
timeout 3600 "$build/bench/proxy/proxy_load" soak "$proxy_port" "$proxy_pid" "$har" "$sessions" "$per_session" \
  $((total / swaps)) $((total / 10)) || status=$?
stop_proxy
echo "the proxy's log: $(grep -c ' bases updated from ' "$work/soak.log") bases updates, $(grep -c ' bases-error ' "$work/soak.log" || true) failed;" \
  "$(grep -c ' modified ' "$work/soak.log" || true) requests modified, $(grep -c ' verdict ' "$work/soak.log" || true) session verdicts"
exit $status
