#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
set -euo pipefail
# libssl-dev: the proxy's TLS (OpenSSL 3). curl, chromium, wrk: the proxy's
# tests and benchmark; openssl: the certificates of the tests' stand-in web;
# libnss3-tools: certutil, which makes a browser trust the proxy's CA in the
# HTTPS browser test; privoxy: the proxy compared against in
# bench/proxy/compare.sh; iproute2 and util-linux: the network namespace
# those run in. The MinGW-w64 cross compiler, wine64 and dpkg-dev (for
# apt-get source): the Windows target.
packages=(cmake make g++ pkg-config liblua5.2-dev libboost-dev libgtest-dev libgmock-dev
          libbenchmark-dev nlohmann-json3-dev libcli11-dev clang libclang-rt-14-dev gcovr libssl-dev
          curl chromium wrk openssl libnss3-tools privoxy iproute2 util-linux
          g++-mingw-w64-x86-64-posix wine64 dpkg-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all packages present"
  exit 0
fi
echo "bootstrap: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
