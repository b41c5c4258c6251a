#!/usr/bin/env bash
# dnt-proxy side by side with Privoxy, in one run, within a minute or two:
# wrk with 64 keep-alive connections for 10 s each over the requests of the
# bundled page load (served by the local origin) through dnt-proxy
# --no-engine, dnt-proxy on the default bases (default settings: trackers
# detected and stripped; then every category blocked) and Privoxy blocking
# the same tracker hosts (an action file made from the bundled entity list
# by the default bases' own import): requests/s, p50, p99, CPU time per
# request and resident memory. Then the same over HTTPS, to a local TLS
# origin on port 443 that every server name of the page resolves to: every
# request goes through a tunnel, dnt-proxy --intercept decrypts the trackers
# its engine asks to see, Privoxy (+https-inspection) the tracker hosts it
# blocks. Last, the rate of new TLS handshakes through each proxy, with its
# leaf certificates made anew (cold) and reused (warm). Runs as root in
# network and mount namespaces of its own.
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

# measure LABEL PID PORT VAR [RUNNER]: one run of the load (wrk_run unless
# RUNNER is given) through PORT, with the CPU time and memory of process
# PID; keeps requests/s, p99, CPU µs per request and resident KiB in
# rps_VAR, p99_VAR, cpu_VAR and rss_VAR.
measure() {
  local label=$1 pid=$2 port=$3 var=$4 runner=${5:-wrk_run} before after cpu rss
  before=$(cpu_ticks "$pid")
  "$runner" "$var" "$port"
  after=$(cpu_ticks "$pid")
  rss=$(resident_kib "$pid")
  cpu=$(awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v n="$requests" 'BEGIN { printf "%.1f", t / hz / n * 1e6 }')
  row "$label" "$rps" "$p50" "$p99" "$cpu" "$(awk -v k="$rss" 'BEGIN { printf "%.1f", k / 1024 }')" "$non2xx" "$errors"
  eval "rps_$var=$rps p99_$var=$p99 cpu_$var=$cpu rss_$var=$rss"
}

# start_privoxy [ACTION FILE] [CONFIGURATION LINES]: the tracker hosts blocked
# unless another action file is given; sets privoxy_pid.
start_privoxy() {
  cat >"$work/privoxy.conf" <<CONF
confdir $work
templdir /etc/privoxy/templates
actionsfile ${1:-trackers.action}
listen-address 127.0.0.1:8118
${2:-forward / 127.0.0.1:$origin}
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

"$build/bench/proxy/proxy_load" privoxy-actions third_party/third-party-web/entities.json >"$work/trackers.action" \
  2>"$work/privoxy-actions.out"

stop_privoxy() {
  kill "$privoxy_pid"
  wait "$privoxy_pid" 2>/dev/null || true
}

echo "wrk: $connections connections, ${seconds} s each, the $(grep -c '^  {' "$work/requests.lua") requests of $har in turn; $(nproc) cores for everything"
echo
row "run" "requests/s" "p50 ms" "p99 ms" "CPU µs/req" "RSS MiB" "non-2xx" "errors"
echo "|------------------------------------------|------------|---------|---------|------------|---------|---------|--------|"
measure "origin directly" "$origin_pid" "$origin" origin
start_proxy pass --no-engine
measure "dnt-proxy --no-engine" "$proxy_pid" "$proxy_port" pass
stop_proxy
admin=127.0.0.1:0 start_proxy engine
measure "dnt-proxy, default bases" "$proxy_pid" "$proxy_port" engine
# The engine's own calls, as the proxy timed them, per request.
engine_us=$(curl -s --max-time 5 "http://127.0.0.1:$(admin_port_in "$work/engine.log")/metrics" |
  awk -v n="$requests" '$1 ~ /^dnt_proxy_engine_seconds_sum/ { s += $2 } END { printf "%.1f", s / n * 1e6 }')
stop_proxy
start_proxy blocking --block social --block analytics --block ad --block web-bug
measure "dnt-proxy, default bases, all blocked" "$proxy_pid" "$proxy_port" blocking
stop_proxy
start_privoxy
privoxy_name="Privoxy $(privoxy --version 2>/dev/null | awk '{ print $3; exit }')"
measure "$privoxy_name, same trackers blocked" "$privoxy_pid" 8118 privoxy
stop_privoxy
echo
echo "Privoxy's action file: $(tail -1 "$work/privoxy-actions.out" | sed 's/^proxy_load: //')"
awk -v e="$rps_engine" -v p="$rps_pass" -v b="$rps_blocking" -v x="$rps_privoxy" -v eq="$p99_engine" \
  -v bq="$p99_blocking" -v xq="$p99_privoxy" -v pq="$p99_pass" -v ec="$cpu_engine" -v pc="$cpu_pass" \
  -v em="$rss_engine" -v pm="$rss_pass" -v eu="$engine_us" 'BEGIN {
  printf "engine: %.1f%% of --no-engine throughput (target >= 90%%), p99 %+.1f%% (target <= +25%%), CPU per request %.2fx (target <= 1.25x), resident memory %.2fx (target <= 1.5x)\n", 100 * e / p, 100 * (eq - pq) / pq, ec / pc, em / pm
  printf "engine calls (the component itself, as the proxy timed them): %.1f µs per request; CPU the engine added per request: %.1f µs\n", eu, ec - pc
  printf "against Privoxy (target >= 2x at a lower p99): default settings %.2fx, p99 %.3f vs %.3f ms; all blocked %.2fx, p99 %.3f vs %.3f ms\n", e / x, eq, xq, b / x, bq, xq }'

# HTTPS: one certificate for every server of the page (and every name below
# the tracker domain of the handshake runs), from an authority of the web's
# own; every name resolves to the local TLS origin on port 443, for Privoxy,
# which resolves names itself, and dnt-proxy is sent there by --map-host.
cold_names=${COLD_NAMES:-3000}
handshake_names() {
  awk -v n="$cold_names" 'BEGIN { for (i = 0; i < 16; ++i) print "w" i ".doubleclick.net"
    for (c = 0; c < 4; ++c) for (i = 0; i < n; ++i) print "c" c "-" i ".doubleclick.net" }'
}
hosts=$("$build/bench/proxy/proxy_load" hosts "$har")
mkdir "$work/web" "$work/privoxy-ca" "$work/privoxy-certs"
(
  cd "$work/web"
  new_key="-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2"
  openssl req -x509 $new_key -keyout ca.key -out ca.crt -subj '/CN=bench web CA' \
    -addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign' 2>/dev/null
  openssl req $new_key -keyout origin.key -out origin.csr -subj '/CN=bench origin' 2>/dev/null
  { printf 'subjectAltName=DNS:*.doubleclick.net'; printf ',DNS:%s' $hosts; printf '\nextendedKeyUsage=serverAuth\n'; } >origin.ext
  openssl x509 -req -in origin.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile origin.ext -out origin.crt 2>/dev/null
)
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$work/privoxy-ca/ca.key" -out "$work/privoxy-ca/ca.crt" \
  -subj '/CN=bench Privoxy CA' -addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign' 2>/dev/null
cp "$work/web/ca.crt" "$work/privoxy-ca/trusted.pem"
"$build/tools/dnt_proxy/dnt-proxy" ca init "$work/ca" >/dev/null
cat "$work/ca/ca.crt" "$work/privoxy-ca/ca.crt" "$work/web/ca.crt" >"$work/trusted.pem"
{ echo "127.0.0.1 localhost"; printf '127.0.0.1 %s\n' $hosts; handshake_names | sed 's/^/127.0.0.1 /'; } >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts
"$build/tools/local_origin/dnt-local-origin" --quiet --port 443 --certificate "$work/web/origin.crt" \
  --key "$work/web/origin.key" >"$work/tls-origin.out" &
tls_origin_pid=$!
port_in "$work/tls-origin.out" >/dev/null
servers=127.0.0.1:443
intercepting=(--intercept "$work/ca" --upstream-ca "$work/web/ca.crt")
privoxy_tls="ca-directory $work/privoxy-ca
ca-cert-file ca.crt
ca-key-file ca.key
trusted-cas-file trusted.pem
certificate-directory $work/privoxy-certs"
sed 's/^{+block{\(.*\)}}$/{+block{\1} +https-inspection}/' "$work/trackers.action" >"$work/trackers-https.action"

# https_run NAME PORT: the page load over HTTPS through PORT (see wrk_run);
# also keeps the TLS handshakes the client made in handshakes_NAME.
https_run() {
  local out="$work/$1.https" seen
  timeout $((seconds + 120)) "$build/bench/proxy/proxy_load" https "$2" "$work/trusted.pem" "$connections" "$seconds" \
    "$har" >"$out"
  read -r _ requests _ rps _ p50 _ p99 _ non2xx _ errors _ seen _ resumed _ <"$out"
  eval "handshakes_$1='$seen handshakes ($resumed resumed)'"
}

echo
echo "HTTPS: $connections tunnels spread over the page's $(echo "$hosts" | wc -l) servers, ${seconds} s each, kept alive, TLS sessions resumed"
echo
row "run" "requests/s" "p50 ms" "p99 ms" "CPU µs/req" "RSS MiB" "non-2xx" "errors"
echo "|------------------------------------------|------------|---------|---------|------------|---------|---------|--------|"
start_proxy https-pass --no-engine "${intercepting[@]}"
measure "dnt-proxy --no-engine (blind tunnels)" "$proxy_pid" "$proxy_port" https_pass https_run
stop_proxy
start_proxy https-engine "${intercepting[@]}"
measure "dnt-proxy --intercept, default bases" "$proxy_pid" "$proxy_port" https_engine https_run
stop_proxy
start_proxy https-blocking "${intercepting[@]}" --block social --block analytics --block ad --block web-bug
measure "dnt-proxy --intercept, all blocked" "$proxy_pid" "$proxy_port" https_blocking https_run
stop_proxy
start_privoxy trackers-https.action "$privoxy_tls"
measure "$privoxy_name, inspected, blocked" "$privoxy_pid" 8118 https_privoxy https_run
stop_privoxy
echo
echo "TLS handshakes the client made: dnt-proxy --no-engine $handshakes_https_pass; default bases $handshakes_https_engine;" \
  "all blocked $handshakes_https_blocking; Privoxy $handshakes_https_privoxy"
awk -v e="$rps_https_engine" -v b="$rps_https_blocking" -v x="$rps_https_privoxy" -v eq="$p99_https_engine" \
  -v bq="$p99_https_blocking" -v xq="$p99_https_privoxy" 'BEGIN {
  printf "against Privoxy over HTTPS (target >= 2x at a lower p99): default settings %.2fx, p99 %.3f vs %.3f ms; all blocked %.2fx, p99 %.3f vs %.3f ms\n", e / x, eq, xq, b / x, bq, xq }'

echo
echo "New TLS handshakes through each proxy (CONNECT, then a whole handshake, verified; 4 clients, ${handshake_seconds} s each;"
echo "cold: a new server name every time, so a new leaf certificate; warm: 16 names over and over):"
start_proxy tls "${intercepting[@]}" --leaf-cache 1000
for cache in cold warm; do
  printf '  dnt-proxy, %s: ' "$cache"
  timeout $((handshake_seconds + 30)) "$build/bench/proxy/proxy_load" handshakes "$proxy_port" "$work/ca/ca.crt" "$cache" 4 \
    "$handshake_seconds"
done
stop_proxy
printf '{+https-inspection}\n.doubleclick.net\n' >"$work/inspect.action"
start_privoxy inspect.action "$privoxy_tls"
for cache in cold warm; do
  printf '  %s, %s: ' "$privoxy_name" "$cache"
  timeout $((handshake_seconds + 30)) "$build/bench/proxy/proxy_load" handshakes 8118 "$work/privoxy-ca/ca.crt" "$cache" 4 \
    "$handshake_seconds" || true
done
stop_privoxy
