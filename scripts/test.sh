#!/usr/bin/env bash
# Builds every flavour the tests need and runs the whole suite in each:
# the plain build, then the AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
status=0
for flavour in test asan; do
  echo "=== $flavour build" >&2
  "$top/scripts/build.sh" "$flavour"
  echo "=== $flavour tests" >&2
  (cd "$top/build/$flavour" && ctest --output-on-failure -j "$(nproc)") || status=1
done
exit $status
