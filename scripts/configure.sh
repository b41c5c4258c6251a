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
configure() { cmake --preset "$preset" "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log" >&2; exit 1; }; }
configure "$@"
# A folder configured with another compiler: CMake starts its cache anew
# itself, but without the preset's variables (a sanitizer build would come
# out unsanitized), so it is configured from scratch once more.
if grep -q "require your cache to be deleted" "$dir.configure.log"; then
  echo "configure: $dir was made with another compiler; configuring it anew"
  rm -rf "$cache" "$dir/CMakeFiles"
  configure "$@"
fi
tail -n 1 "$dir.configure.log"
