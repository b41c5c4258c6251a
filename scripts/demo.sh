#!/usr/bin/env bash
# The main job on the bundled sample data: build the sample bases with the
# toolchain and show what the engine reads from them.
set -euo pipefail
build=${1:-build/default}
tool="$build/tools/dntbases/dntbases"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if [ ! -x "$tool" ]; then
  echo "demo: $tool was not built" >&2
  exit 1
fi
"$tool" --help
