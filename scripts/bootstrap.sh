#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
#   bootstrap.sh build   what building the module and the tools needs, and the
#                        demo and the proxy run (make demo, make proxy, make install)
#   bootstrap.sh test    everything: the above, and what only the tests and
#                        benchmarks need (make test)
set -euo pipefail
profile=${1:-test}
# ccache: compiles are cached outside the clone (scripts/ccache_env.sh), so a
# second build of the same sources on this machine is mostly cache hits.
# libssl-dev: the proxy's TLS (OpenSSL 3). curl: the demo's exchange through
# the proxy.
build_packages=(cmake make g++ pkg-config ccache liblua5.2-dev libboost-dev nlohmann-json3-dev
                libcli11-dev libssl-dev curl)
# GoogleTest and Google Benchmark; clang and its runtime: the fuzz targets;
# gcovr: make coverage. chromium, wrk: the proxy's tests and benchmark;
# openssl: the certificates of the tests' stand-in web; libnss3-tools:
# certutil, which makes a browser trust the proxy's CA in the HTTPS browser
# test; privoxy: the proxy compared against in bench/proxy/compare.sh;
# iproute2 and util-linux: the network namespace those run in. The MinGW-w64
# cross compiler, wine64 and dpkg-dev (for apt-get source): the Windows target.
# lld: links the many test programs of each build several times faster than
# the default linker (builds without it use the default one).
test_packages=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev gcovr lld
               chromium wrk openssl libnss3-tools privoxy iproute2 util-linux
               g++-mingw-w64-x86-64-posix wine64 dpkg-dev)
case "$profile" in
  build) packages=("${build_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: bootstrap.sh build|test" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all packages present ($profile)"
  exit 0
fi
echo "bootstrap: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
