#!/usr/bin/env bash
# Runs a command in a fresh network and mount namespace with only loopback up.
# Needs root (the test command runs as root on CI and on a developer machine).
set -euo pipefail
if [ "${SEALDESK_IN_NETNS:-}" = 1 ]; then
  exec "$@"
fi
exec unshare --net --mount --propagation private -- env SEALDESK_IN_NETNS=1 bash -c '
  ip link set lo up
  exec "$@"' netns "$@"
