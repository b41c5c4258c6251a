#!/usr/bin/env bash
# Runs a command and then says how long it took, so that make test's log
# shows where the time goes: timed.sh LABEL COMMAND [ARG]...
set -uo pipefail
label=${1:?usage: timed.sh LABEL COMMAND [ARG]...}
shift
start=$(date +%s)
"$@"
rc=$?
outcome=""
[ "$rc" -eq 0 ] || outcome=", failed"
echo "time: $label $(($(date +%s) - start)) s$outcome"
exit "$rc"
