# Sourced by the scripts that start dnt-proxy or dnt-local-origin on port 0.
# port_in FILE: waits for "listening on 127.0.0.1:PORT" in FILE (10 s at
# most) and prints PORT.
port_in() {
  local port
  for _ in $(seq 100); do
    port=$(grep -o 'listening on 127\.0\.0\.1:[0-9]*' "$1" 2>/dev/null | head -1 | cut -d: -f2 || true)
    [ -n "$port" ] && { echo "$port"; return; }
    sleep 0.1
  done
  echo "nothing listens in $1" >&2
  exit 1
}
