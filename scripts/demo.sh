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

# The subcommands are listed in the tool's help, one per line.
has_command() { "$tool" --help | grep -qE "^ +$1( |$)"; }

echo "== dntbases build $source_json"
"$tool" build "$source_json" "$out"
ls -l "$out"

echo
echo "== dntbases dump"
if has_command dump; then
  "$tool" dump "$out"
else
  echo "demo: this dntbases has no 'dump' subcommand yet; skipped"
fi

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
if has_command match; then
  for url in "${urls[@]}"; do
    "$tool" match "$out" "$url"
  done
else
  echo "demo: this dntbases has no 'match' subcommand yet; skipped"
fi
