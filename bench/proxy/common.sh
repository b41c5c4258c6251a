# What the proxy benchmarks share; sourced by run.sh, compare.sh and soak.sh
# with the build folder in $build. Enters a network namespace of its own
# with only loopback up, and a mount namespace of its own so that a script
# may give names its own /etc/hosts (re-running the script there), checks the programs,
# makes $work (removed at exit, with every program started), starts the
# local origin ($origin is its port) and defines the helpers below.
if [ "${DNT_BENCH_NETNS:-}" != 1 ]; then
  exec unshare -n -m env DNT_BENCH_NETNS=1 bash "$0" "$@"
fi
ip link set lo up
for program in "$build/tools/dnt_proxy/dnt-proxy" "$build/tools/local_origin/dnt-local-origin" "$build/bench/proxy/proxy_load"; do
  [ -x "$program" ] || { echo "bench/proxy: $program was not built" >&2; exit 1; }
done
command -v wrk >/dev/null || { echo "bench/proxy: wrk is missing (scripts/bootstrap.sh installs it)" >&2; exit 1; }
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

source "$(dirname "$0")/../../scripts/listening_port.sh"

har=examples/ferguson.com-2022.har
"$build/bench/proxy/proxy_load" urls "$har" >"$work/requests.lua"
"$build/tools/local_origin/dnt-local-origin" --quiet >"$work/origin.out" &
origin_pid=$!
origin=$(port_in "$work/origin.out")

# start_proxy NAME [OPTIONS...]: sets proxy_pid and proxy_port; every
# server is $servers (the local origin unless a script says otherwise); the
# dashboard listens where $admin says (off unless set).
servers=127.0.0.1:$origin
start_proxy() {
  local name=$1
  shift
  "$build/tools/dnt_proxy/dnt-proxy" --listen 127.0.0.1:0 --admin "${admin:-off}" --log "$work/$name.log" \
    --map-host "*=$servers" "$@" &
  proxy_pid=$!
  proxy_port=$(port_in "$work/$name.log")
}

# admin_port_in LOG: the port of the dashboard a proxy's log names.
admin_port_in() {
  local port=""
  for _ in $(seq 100); do
    port=$(grep -o 'dashboard on http://127\.0\.0\.1:[0-9]*' "$1" | head -1 | cut -d: -f3 || true)
    [ -n "$port" ] && { echo "$port"; return; }
    sleep 0.1
  done
  echo "bench/proxy: no dashboard in $1" >&2
  exit 1
}

stop_proxy() {
  kill "$proxy_pid"
  wait "$proxy_pid" || true
}

# Milliseconds from wrk's "1.23ms", "456.00us" or "1.01s".
to_ms() {
  awk '{ v = $1; if (v ~ /us$/) { sub(/us$/, "", v); v /= 1000 } else if (v ~ /ms$/) { sub(/ms$/, "", v) } else if (v ~ /s$/) { sub(/s$/, "", v); v *= 1000 } printf "%.3f", v }'
}

# wrk_run NAME PORT [WRK OPTIONS...]: one wrk run through the proxy (or
# server) at PORT over the page load's requests; sets rps, p50, p99,
# requests, non2xx and errors.
wrk_run() {
  local name=$1 port=$2 out="$work/$1.wrk"
  shift 2
  wrk -t2 -c"$connections" -d"${seconds}s" --latency -s "$work/requests.lua" "$@" "http://127.0.0.1:$port/" >"$out"
  rps=$(awk '/^Requests\/sec:/ { print $2 }' "$out")
  p50=$(awk '$1 == "50%" { print $2 }' "$out" | to_ms)
  p99=$(awk '$1 == "99%" { print $2 }' "$out" | to_ms)
  requests=$(awk '/ requests in / { print $1 }' "$out")
  non2xx=$(awk '/Non-2xx or 3xx responses:/ { n += $NF } END { print n + 0 }' "$out")
  errors=$(awk '/Socket errors:/ { gsub(/,/, ""); n += $4 + $6 + $8 + $10 } END { print n + 0 }' "$out")
}

# CPU time of process PID so far, in clock ticks.
cpu_ticks() {
  awk '{ print $14 + $15 }' "/proc/$1/stat"
}

resident_kib() {
  awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"
}
