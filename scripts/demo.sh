#!/usr/bin/env bash
# The main job: the engine deciding on a real page load (dnt-scan on the
# bundled HAR with the default bases), then the bases toolchain on the
# sample bases.
set -euo pipefail
build=${1:-build/default}
tool="$build/tools/dntbases/dntbases"
scan="$build/tools/dnt_scan/dnt-scan"
source_json=bases/sample/source.json
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for program in "$tool" "$scan"; do
  if [ ! -x "$program" ]; then
    echo "demo: $program was not built" >&2
    exit 1
  fi
done

echo "== dnt-scan examples/ferguson.com-2022.har --block ad --dnt"
report="$build/dnt-scan-report.html"
if "$scan" examples/ferguson.com-2022.har --block ad --dnt --html "$report" --stats; then
  echo "(the same report as a page: $report)"
else
  echo "demo: dnt-scan could not run the engine (above); the toolchain part follows" >&2
fi

echo
echo "== dntbases check $build/default_bases (the default bases, from third_party/third-party-web)"
"$tool" check "$build/default_bases"

echo
echo "== dntbases build $source_json"
"$tool" build "$source_json" "$out"
ls -l "$out"

echo
echo "== dntbases dump"
"$tool" dump "$out/dntbugs.dat"

echo
echo "== dntbases match"
urls=(
  "http://connect.friendface.test/en_US/sdk.js"
  "https://ads.adbroker.example/serve/banner?id=42"
  "https://www.adbroker.example/optout?all=1"
  "http://cdn.pixel-beacon.test/1x1.gif?r=7"
  "http://www.news.example/beacon.gif?uid=1234"
  "https://www.shop.example/cart"
  "http://www.example.test/index.html"
)
"$tool" match "$out/dntbugs.dat" "${urls[@]}"

echo
echo "== dntbases check (scripts and bug database loaded as the component loads them)"
"$tool" check "$out"

echo
echo "== dntbases run GetVerdict (a session host on the sample bases)"
"$tool" run "$out" GetVerdict

echo
echo "== dntbases run RequestProcessor --request (a request built on the command line)"
"$tool" run "$out" RequestProcessor --setting addDntHttpHeader=1 --setting blockTrackingServiceCategories=1 \
  --request 'GET /en_US/sdk.js HTTP/1.1' --header 'Host: connect.friendface.test' --header 'Cookie: c_user=1'

echo
echo "== dntbases mask-match"
printf '*.tracker.test\nads.example/banner/*\nsite.test\n' >"$out/masks.txt"
printf 'http://www.x.tracker.test/p\nhttps://ads.example/banner/1.gif\nhttp://site.test\nhttp://other.test/\n' |
  "$tool" mask-match "$out/masks.txt"

echo
echo "== dntbases import (an adblock filter list and a hosts file into a bases source)"
printf '! a filter list\n||ads.example.com^$third-party\n@@||ads.example.com/optout^\nexample.com##.banner\n' >"$out/filters.txt"
printf '0.0.0.0 tracker.example.net\n127.0.0.1 localhost\n' >"$out/hosts"
"$tool" import --adblock "$out/filters.txt" --hosts "$out/hosts" -o "$out/imported.json"
"$tool" build "$out/imported.json" "$out/imported"
"$tool" match "$out/imported" http://ads.example.com/banner.gif http://ads.example.com/optout http://tracker.example.net/

echo
echo "== dnt-proxy: the engine on live traffic (a local origin, no internet)"
bash scripts/demo_proxy.sh "$build"
