#!/usr/bin/env bash
# Configures a preset's build folder: configure.sh PRESET [-DNAME=VALUE]...
# A folder configured earlier with another generator (before the presets
# chose Ninja) is reconfigured from scratch instead of failing.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:?usage: configure.sh PRESET [cmake options]}
shift
mkdir -p build
dir=build/$preset
cache=$dir/CMakeCache.txt
if [ -f "$cache" ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$cache"; then
  echo "configure: $dir was made by another generator; configuring it anew"
  rm -rf "$cache" "$dir/CMakeFiles"
fi
cmake --preset "$preset" "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log" >&2; exit 1; }
tail -n 1 "$dir.configure.log"
