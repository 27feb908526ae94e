#!/usr/bin/env bash
# Builds SealDesk and starts it from its program folder (build/app/bin): the
# desktop program when a display is reachable, else the headless service.
# Without a registered token it uses a demo software token.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" app
bin="$top/build/app/bin"
"$top/scripts/make-server-cert.sh" "$bin"
if [ -x "$top/scripts/demo-token.sh" ]; then
  # Prints the environment the service needs to see the demo token, if any.
  eval "$("$top/scripts/demo-token.sh")"
fi
args=()
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  args+=(--headless)
fi
echo "starting $bin/sealdesk ${args[*]} (Ctrl-C stops it)" >&2
exec "$bin/sealdesk" "${args[@]}"
