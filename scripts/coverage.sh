#!/usr/bin/env bash
# Line and branch coverage of the product code (not tests, fuzzers or
# benchmarks) from a build made with the coverage preset, after its tests ran.
set -euo pipefail
build=${1:-build/coverage}
mkdir -p "$build/html"
product='^(include|orv|mask_engine|url_parser|squeeze|source|private_include|exports|host|tools)/'
gcovr --root . --object-directory "$build" --filter "$product" \
  --exclude-unreachable-branches --exclude-throw-branches \
  --html-details "$build/html/index.html" --print-summary
echo "coverage: $build/html/index.html"
