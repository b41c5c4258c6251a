#!/usr/bin/env bash
# The main job on the bundled sample data: build the sample bases with the
# toolchain and show what the engine reads from them.
set -euo pipefail
build=${1:-build/default}
tool="$build/tools/dntbases/dntbases"
source_json=bases/sample/source.json
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if [ ! -x "$tool" ]; then
  echo "demo: $tool was not built" >&2
  exit 1
fi

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
