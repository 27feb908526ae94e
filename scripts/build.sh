#!/usr/bin/env bash
# Configures and builds one flavour of the tree.
#   scripts/build.sh [app|test|asan|tsan] [extra cmake args...]
# app is what a user runs; the other flavours compile in the scripted dialogs
# that the tests drive. Output: build/<flavour>/bin/{sealdesk,tlsprobe,...}
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
flavour=${1:-app}
shift || true
case "$flavour" in
  app)  args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSEALDESK_SCRIPTED_DIALOGS=OFF) ;;
  test) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSEALDESK_SCRIPTED_DIALOGS=ON) ;;
  asan) args=(-DCMAKE_BUILD_TYPE=Debug -DSEALDESK_SCRIPTED_DIALOGS=ON -DSEALDESK_SANITIZE=address,undefined) ;;
  tsan) args=(-DCMAKE_BUILD_TYPE=Debug -DSEALDESK_SCRIPTED_DIALOGS=ON -DSEALDESK_SANITIZE=thread) ;;
  *) echo "unknown flavour $flavour" >&2; exit 2 ;;
esac
dir="$top/build/$flavour"
cmake -S "$top" -B "$dir" "${args[@]}" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
