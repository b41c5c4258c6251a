#!/usr/bin/env bash
# The Windows target, built and tested on this machine: its libraries from
# Debian's source packages, the cross build, every GoogleTest suite under
# wine in a wine prefix of its own, and dnt-scan.exe on the bundled page load,
# whose JSON report must be the Linux build's byte for byte.
# Usage: test_windows.sh [LINUX_BUILD]   (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build/default}
jobs=$(nproc)

# The libraries built from Debian's source packages depend only on the
# script that builds them and the cross compiler: they are kept in the user's
# cache folder under a key of both, so that a fresh clone on this machine (CI's)
# does not fetch and compile them again. The preset reads them at
# build/windows-deps.
key=$( { cat scripts/windows_deps.sh cmake/mingw-w64.cmake; x86_64-w64-mingw32-g++-posix --version; } |
  sha256sum | cut -c1-16)
deps="${XDG_CACHE_HOME:-$HOME/.cache}/dnt-engine/windows-deps-$key"
bash scripts/windows_deps.sh "$deps"
mkdir -p build
rm -rf build/windows-deps
ln -s "$deps" build/windows-deps
WINEPREFIX=$(mktemp -d)
export WINEPREFIX
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
# Made once before the build, which runs programs under wine in parallel: two
# first starts on an empty prefix race each other.
scripts/wine_run.sh wineboot --init
"$wineserver" -w
# Then one wine server and wine's own services for the whole run, started
# with none of our output open. Started by a test program instead, they would
# inherit its output, and Ninja and ctest wait until every holder has closed
# it: three seconds after its last program for a server, never for a service.
"$wineserver" -p </dev/null >/dev/null 2>&1
scripts/wine_run.sh wineboot </dev/null >/dev/null 2>&1

cmake --preset windows
scripts/timed.sh "windows build" cmake --build --preset windows -j "$jobs"
scripts/timed.sh "windows tests" ctest --preset windows

har=examples/ferguson.com-2022.har
expected=$(mktemp)
actual=$(mktemp)
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$WINEPREFIX" "$expected" "$actual"' EXIT
"$linux_build/tools/dnt_scan/dnt-scan" "$har" --json >"$expected"
scripts/wine_run.sh build/windows/tools/dnt_scan/dnt-scan.exe "$har" --json >"$actual"
if ! cmp -s "$expected" "$actual"; then
  echo "test-windows: dnt-scan.exe's JSON report differs from the Linux build's:" >&2
  diff "$expected" "$actual" | head -20 >&2
  exit 1
fi
echo "test-windows: dnt-scan.exe gives the Linux build's JSON report byte for byte"
