#!/usr/bin/env bash
# Throughput and latency of "/echo" on SealDesk beside nginx answering the same
# small body on loopback, over HTTP and HTTPS, with keep-alive and with one
# request per connection. Prints requests/s, p50 and p99 and each SealDesk/nginx
# ratio. Runs in a private network namespace; needs root (as the tests do).
#   bench/http_bench.sh [seconds-per-run]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "${SEALDESK_IN_NETNS:-}" != 1 ]; then
  "$top/scripts/install-deps.sh"
  "$top/scripts/build.sh" app >/dev/null
  exec "$top/tests/tools/netns.sh" "$0" "$@"
fi
seconds=${1:-5}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null; rm -rf "$work"' EXIT

cp "$top/build/app/bin/sealdesk" "$work/"
"$top/scripts/make-server-cert.sh" "$work" 2>/dev/null
openssl pkey -in "$work/server.key" -passin pass:velocamber -out "$work/plain.key"
"$work/sealdesk" --headless >"$work/sealdesk.out" 2>&1 &
cat >"$work/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx.pid;
error_log $work/nginx.err;
events { worker_connections 1024; }
http {
  access_log off;
  server {
    listen 127.0.0.1:18007;
    listen 127.0.0.1:18407 ssl;
    ssl_certificate $work/server.crt;
    ssl_certificate_key $work/plain.key;
    location /echo { add_header Access-Control-Allow-Origin "*"; return 200 "abc"; }
  }
}
CONF
nginx -c "$work/nginx.conf" -p "$work"
for port in 14007 14407 18007 18407; do
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.1; done
done

cat >"$work/post.lua" <<'LUA'
wrk.method = "POST"
wrk.body = "value=abc"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
LUA
cat >"$work/post_close.lua" <<'LUA'
wrk.method = "POST"
wrk.body = "value=abc"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
wrk.headers["Connection"] = "close"
LUA

# run URL SCRIPT -> "requests/s p50_ms p99_ms"
run() {
  wrk -t1 -c8 -d"${seconds}s" --latency -s "$2" "$1" 2>&1 | awk '
    function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v }
    /^ +50%/ { p50 = ms($2) } /^ +99%/ { p99 = ms($2) } /^Requests\/sec/ { rps = $2 }
    END { printf "%.0f %.3f %.3f\n", rps, p50, p99 }'
}

printf '%-26s %12s %9s %9s | %12s %9s %9s | %8s %8s %8s\n' case "SealDesk r/s" p50ms p99ms "nginx r/s" p50ms p99ms "r/s x" "p50 x" "p99 x"
for row in "http keep-alive|http://127.0.0.1:14007/echo|http://127.0.0.1:18007/echo|post.lua" \
           "http one per connection|http://127.0.0.1:14007/echo|http://127.0.0.1:18007/echo|post_close.lua" \
           "https keep-alive|https://127.0.0.1:14407/echo|https://127.0.0.1:18407/echo|post.lua" \
           "https one per connection|https://127.0.0.1:14407/echo|https://127.0.0.1:18407/echo|post_close.lua"; do
  IFS='|' read -r name ours theirs script <<<"$row"
  read -r a_rps a_p50 a_p99 <<<"$(run "$ours" "$work/$script")"
  read -r b_rps b_p50 b_p99 <<<"$(run "$theirs" "$work/$script")"
  awk -v n="$name" -v ar="$a_rps" -v a5="$a_p50" -v a9="$a_p99" -v br="$b_rps" -v b5="$b_p50" -v b9="$b_p99" 'BEGIN {
    printf "%-26s %12d %9.3f %9.3f | %12d %9.3f %9.3f | %8.2f %8.2f %8.2f\n", n, ar, a5, a9, br, b5, b9,
      (br ? ar / br : 0), (b5 ? a5 / b5 : 0), (b9 ? a9 / b9 : 0) }'
done
