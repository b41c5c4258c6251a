#!/usr/bin/env bash
# Builds the Windows target's libraries from Debian's source packages with the
# MinGW-w64 cross compiler: Lua 5.2 (compiled as C++, as the Linux build links
# lua5.2-c++) and GoogleTest. Header-only Boost, nlohmann-json and CLI11 come
# from the host's packages. Usage: windows_deps.sh PREFIX
set -euo pipefail
prefix=$(realpath -m "${1:?usage: windows_deps.sh PREFIX}")
root=$(cd "$(dirname "$0")/.." && pwd)
stamp="$prefix/.built"
if [ -f "$stamp" ]; then
  echo "windows deps: present in $prefix"
  exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# Source packages need a deb-src entry; derive one from the machine's own
# binary sources so that it points at the same archive.
if ! apt-get source --print-uris -qq lua5.2 >/dev/null 2>&1; then
  tmp=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    case "$f" in */dnt-deb-src.sources) continue ;; esac
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /(^|\n)Types:[^\n]*deb([ \n]|$)/ && !/deb-src/ { sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
  done >"$tmp"
  [ -s "$tmp" ] && $SUDO install -m 0644 "$tmp" /etc/apt/sources.list.d/dnt-deb-src.sources
  { cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true; } | sed -n "s/^deb /deb-src /p" >"$tmp"
  [ -s "$tmp" ] && $SUDO install -m 0644 "$tmp" /etc/apt/sources.list.d/dnt-deb-src.list
  rm -f "$tmp"
  # A third-party repository without sources only warns; the check below is
  # what counts.
  $SUDO apt-get update -qq || true
  apt-get source --print-uris -qq lua5.2 >/dev/null ||
    { echo "windows deps: no source package for lua5.2 in the apt sources" >&2; exit 1; }
fi

src="$prefix/src"
rm -rf "$src"
mkdir -p "$src" "$prefix/lib" "$prefix/include/lua5.2"
(cd "$src" && apt-get source -qq lua5.2 googletest >/dev/null 2>&1)
lua=$(find "$src" -maxdepth 1 -type d -name 'lua5.2-*' | head -n 1)
gtest=$(find "$src" -maxdepth 1 -type d -name 'googletest-*' | head -n 1)
[ -n "$lua" ] && [ -n "$gtest" ] || { echo "windows deps: source packages not found" >&2; exit 1; }

echo "windows deps: Lua from $(basename "$lua")"
cxx=x86_64-w64-mingw32-g++-posix
objects=()
mkdir -p "$src/lua-obj"
for c in "$lua"/src/l*.c; do
  case "$(basename "$c")" in lua.c | luac.c) continue ;; esac
  o="$src/lua-obj/$(basename "$c" .c).o"
  "$cxx" -x c++ -O2 -DLUA_COMPAT_ALL -c "$c" -o "$o"
  objects+=("$o")
done
rm -f "$prefix/lib/liblua5.2-c++.a"
x86_64-w64-mingw32-ar rcs "$prefix/lib/liblua5.2-c++.a" "${objects[@]}"
cp "$lua"/src/lua.h "$lua"/src/luaconf.h "$lua"/src/lualib.h "$lua"/src/lauxlib.h "$lua"/src/lua.hpp \
  "$prefix/include/lua5.2/" 2>/dev/null || cp "$lua"/src/lua.h "$lua"/src/luaconf.h "$lua"/src/lualib.h \
  "$lua"/src/lauxlib.h "$prefix/include/lua5.2/"

echo "windows deps: GoogleTest from $(basename "$gtest")"
cmake -S "$gtest" -B "$src/gtest-build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_CROSSCOMPILING_EMULATOR= >/dev/null
cmake --build "$src/gtest-build" -j "$(nproc)" >/dev/null
cmake --install "$src/gtest-build" >/dev/null
rm -rf "$src"

# Header-only libraries are the host's own packages, seen through links so
# that the cross build never searches the host's include folder as a whole.
mkdir -p "$prefix/share/cmake"
ln -sfn /usr/include/boost "$prefix/include/boost"
ln -sfn /usr/include/nlohmann "$prefix/include/nlohmann"
ln -sfn /usr/include/CLI "$prefix/include/CLI"
ln -sfn /usr/share/cmake/nlohmann_json "$prefix/share/cmake/nlohmann_json"
ln -sfn /usr/share/cmake/CLI11 "$prefix/share/cmake/CLI11"
touch "$stamp"
echo "windows deps: built in $prefix"
