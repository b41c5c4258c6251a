#!/usr/bin/env bash
# Bases kept fresh from a signed feed, measured: a static server (python3's
# http.server on loopback) serves what dntbases publishes; then
#   1. the time from publishing a version to its serving on all of 4
#      proxies polling the feed every $EVERY,
#   2. the requests failed under wrk while one proxy takes 20 versions
#      (target 0),
#   3. the CPU time and resident memory one update costs an idle proxy
#      (the mean of 10).
# Runs as root in a network namespace of its own with only loopback up.
#   bash bench/proxy/feed.sh [BUILD_DIR]    (EVERY=2s ROUNDS=5 CONNECTIONS=64)
set -euo pipefail
build=${1:-build/default}
every=${EVERY:-2s}
rounds=${ROUNDS:-5}
connections=${CONNECTIONS:-64}
seconds=60
source "$(dirname "$0")/common.sh"
dntbases="$build/tools/dntbases/dntbases"
bases=$build/default_bases
[ -x "$dntbases" ] && [ -f "$bases/dntbugs.dat" ] || { echo "bench/proxy: dntbases and the default bases were not built" >&2; exit 1; }

"$dntbases" keygen "$work/keys" >/dev/null
mkdir -p "$work/feed"
version=0
publish() {
  version=$((version + 1))
  "$dntbases" publish "$bases" "$work/feed" --key "$work/keys/bases.key" >/dev/null
}
publish
python3 -u -m http.server --bind 127.0.0.1 --directory "$work/feed" 0 >"$work/feed.out" 2>&1 &
for _ in $(seq 300); do grep -q "port" "$work/feed.out" && break; sleep 0.1; done
feed_port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/feed.out" | head -1)

# fed NAME EVERY: a proxy on the feed; sets proxy_pid and proxy_port.
fed() {
  start_proxy "$1" --update-url "http://127.0.0.1:$feed_port/" --update-key "$work/keys/bases.pub" \
    --update-state "$work/state-$1" --update-every "$2"
}

# await_version LOG N: waits (at most 60 s) until LOG says version N serves.
await_version() {
  for _ in $(seq 6000); do grep -q " version $2 from " "$1" && return 0; sleep 0.01; done
  echo "bench/proxy: $1 never served version $2" >&2
  exit 1
}

now_ms() { date +%s%3N; }

echo "1. publish to serving on 4 proxies polling every $every ($rounds versions)"
pids=()
for i in 1 2 3 4; do
  fed "fleet$i" "$every"
  pids+=("$proxy_pid")
  await_version "$work/fleet$i.log" "$version"
done
worst=()
for _ in $(seq "$rounds"); do
  sleep 0.$((RANDOM % 10))
  start=$(now_ms)
  publish
  for i in 1 2 3 4; do await_version "$work/fleet$i.log" "$version"; done
  worst+=($(($(now_ms) - start)))
done
kill "${pids[@]}"
wait "${pids[@]}" 2>/dev/null || true
printf '   all 4 serving after (ms): %s\n' "${worst[*]}"
echo "   the check and update itself, as the proxies log it (ms): $(grep -ho 'expires [^;]*; [0-9]* ms' "$work"/fleet*.log | awk '{ print $(NF-1) }' | sort -n | tr '\n' ' ')"

echo
echo "2. 20 versions under wrk ($connections connections) through one proxy polling every 1s"
fed load 1s
await_version "$work/load.log" "$version"
wrk -t2 -c"$connections" -d"${seconds}s" -s "$work/requests.lua" "http://127.0.0.1:$proxy_port/" >"$work/load.wrk" &
wrk_pid=$!
sleep 2
first=$((version + 1))
for _ in $(seq 20); do
  publish
  await_version "$work/load.log" "$version"
done
kill -INT "$wrk_pid" 2>/dev/null || true
wait "$wrk_pid" || true
requests=$(awk '/ requests in / { print $1 }' "$work/load.wrk")
non2xx=$(awk '/Non-2xx or 3xx responses:/ { n += $NF } END { print n + 0 }' "$work/load.wrk")
errors=$(awk '/Socket errors:/ { gsub(/,/, ""); n += $4 + $6 + $8 + $10 } END { print n + 0 }' "$work/load.wrk")
echo "   versions $first to $version applied: $(grep -c ' serves now ' "$work/load.log") updates logged, $(grep -c ' bases-refused ' "$work/load.log" || true) refused"
echo "   wrk: $requests requests, $non2xx non-2xx, $errors socket errors (target 0 failed)"
stop_proxy

echo
echo "3. the cost of one update to an idle proxy (mean of 10)"
fed idle 1s
await_version "$work/idle.log" "$version"
sleep 1
ticks=$(cpu_ticks "$proxy_pid")
rss=$(resident_kib "$proxy_pid")
for _ in $(seq 10); do
  publish
  await_version "$work/idle.log" "$version"
done
sleep 1
ticks_after=$(cpu_ticks "$proxy_pid")
rss_after=$(resident_kib "$proxy_pid")
hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$proxy_pid/status")
hz=$(getconf CLK_TCK)
awk -v t=$((ticks_after - ticks)) -v hz="$hz" -v r="$rss" -v ra="$rss_after" -v h="$hwm" -v b="$(du -sk "$bases" | cut -f1)" 'BEGIN {
  printf "   CPU: %.1f ms per update (10 checks a second between them included)\n", 1000 * t / hz / 10
  printf "   resident: %.1f MiB before, %.1f MiB after 10 updates (peak %.1f MiB); bases of %d KiB\n", r / 1024, ra / 1024, h / 1024, b }'
stop_proxy
