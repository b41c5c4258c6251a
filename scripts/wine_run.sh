#!/usr/bin/env bash
# Runs a Windows program under wine64 with a wine prefix of its own build
# (WINEPREFIX, else one per user in the system's temporary folder), quietly.
set -euo pipefail
wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
export WINEPREFIX=${WINEPREFIX:-${TMPDIR:-/tmp}/dnt-wine-$(id -u)}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
exec "$wine" "$@"
