#!/usr/bin/env bash
# A short proxied exchange, self-contained: dnt-proxy on the default bases
# between curl and a local origin that prints what reaches it. Every server
# name is mapped to that origin, so nothing leaves this machine.
set -euo pipefail
build=${1:-build/default}
proxy="$build/tools/dnt_proxy/dnt-proxy"
origin="$build/tools/local_origin/dnt-local-origin"
for program in "$proxy" "$origin"; do
  [ -x "$program" ] || { echo "demo: $program was not built" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

source "$(dirname "$0")/listening_port.sh"

"$origin" >"$work/origin.out" &
origin_port=$(port_in "$work/origin.out")
"$proxy" --listen 127.0.0.1:0 --admin off --log "$work/proxy.log" --map-host "*=127.0.0.1:$origin_port" --block ad &
proxy_pid=$!
proxy_port=$(port_in "$work/proxy.log")
echo "(dnt-proxy --block ad on 127.0.0.1:$proxy_port; every server is the local origin on 127.0.0.1:$origin_port)"

# exchange WHAT URL: one request through the proxy with the cookie and page
# address a browser would send; what came back, and what reached the server.
exchange() {
  echo
  echo "-- $1: $2"
  local seen
  seen=$(wc -l <"$work/origin.out")
  curl -s -x "http://127.0.0.1:$proxy_port" -H 'Cookie: visitor=42' -H 'Referer: http://www.shop.test/cart' \
    -o /dev/null -D - "$2" | tr -d '\r' | grep -E '^(HTTP|Set-Cookie)' | sed 's/^/   client got:    /'
  sleep 0.2
  tail -n +"$((seen + 1))" "$work/origin.out" | sed 's/^/   server got:    /'
  [ "$(wc -l <"$work/origin.out")" -gt "$seen" ] || echo "   server got:    nothing"
}

exchange "untouched (the shop itself)" "http://www.shop.test/cart"
exchange "modified (an analytics tracker)" "http://www.google-analytics.com/collect?v=1&t=pageview"
exchange "blocked (an ad tracker, --block ad)" "http://match.adsrvr.org/track/cmf/generic"

kill -TERM "$proxy_pid"
wait "$proxy_pid" || true
echo
echo "-- the proxy's log"
sed 's/^/   /' "$work/proxy.log"
