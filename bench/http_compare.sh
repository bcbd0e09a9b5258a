#!/usr/bin/env bash
# The card's web server against nginx, by hand, on a release build:
#
#   ./bench/http_compare.sh [seconds per run, default 5] [rounds, default 5]
#
# Both servers serve the same file from the same folder on a loopback port,
# with the same keep-alive limit (16 requests per connection, the card's
# default) and no access log, one process, one worker. wrk measures
#   - static: GET of the placeholder page (index.html),
#   - post:   a small POST of "GetSubboardReadyStatus.w", which the card
#             hands to its web application and nginx answers with `return`
#             and the very body the card sent (fetched once before the runs),
# and the script prints requests/s of each and the ratio card / nginx.
#
# One run of a few seconds swings by a fifth with whatever else the machine
# does, so the runs come in rounds: each round measures both servers back to
# back, in alternating order, and the result is the median of the rounds'
# ratios. Both servers are pinned to the same two cores (the card's other
# threads, its SI sender and timers, take the second) and wrk to the rest, so
# neither server gets cores that the other lacks.
#
# nginx (Debian's nginx-light) is only the yardstick: it runs with its own
# configuration, prefix and pid file in a temporary folder, never as the
# system's instance, and is stopped by its process id at the end. The card
# program runs in its own temporary data root, started and stopped the same way.
source "$(dirname "$0")/../scripts/lib/common.sh"
cd "$HX_ROOT"

hx_install_bench_packages

seconds="${1:-5}"
rounds="${2:-5}"
server_cpus="0-1"
client_cpus="2-$(($(nproc) - 1))"
connections=64
threads=2
keep_alive=16

hx_configure_release build/release -DHX_BENCH=OFF
cmake --build build/release --target hx_qam -j "$HX_JOBS"

work="$(mktemp -d /tmp/hx-http-compare-XXXXXX)"
card_pid=""
nginx_pid=""
cleanup() {
  for pid in "$nginx_pid" "$card_pid"; do
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$work"
}
trap cleanup EXIT

# A port the kernel hands out on loopback, free again when this returns.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

wait_for_port() {
  local port="$1"
  for _ in $(seq 1 600); do
    if curl -s -o /dev/null --noproxy '*' "http://127.0.0.1:$port/index.html"; then
      return 0
    fi
    sleep 0.1
  done
  echo "nothing answers on port $port" >&2
  return 1
}

# --- the card -------------------------------------------------------------
# At its real speed: its other threads (SI sender, timers, the simulated
# hardware) then cost under 1 % of a core, as on the card. Sped up they would
# take a good part of the cores it shares with nginx; start-up takes about
# 30 s instead (the serial request for network settings runs out first).
card_root="$work/card"
mkdir -p "$card_root"
card_port="$(free_port)"
cmake --install build/release --component webserver_modules --prefix "$card_root" >/dev/null
# The card seeds its placeholder page and its configuration, whose keep-alive
# limit is the server's default of 16, at start-up.
taskset -c "$server_cpus" build/release/src/hx_qam --data-root "$card_root" --http-port "$card_port" \
  --inter-board-port "$(free_port)" --nms-port "$(free_port)" --snmp-port "$(free_port)" \
  >"$work/card.out" 2>&1 &
card_pid=$!
wait_for_port "$card_port"
docroot="$card_root/vandik_app/web"

post_name="GetSubboardReadyStatus.w"
post_body='{"token":"bench"}'
card_reply="$work/card_reply"
curl -s --noproxy '*' -d "$post_body" -o "$card_reply" "http://127.0.0.1:$card_port/$post_name"
# The reply as a single-quoted nginx string: backslash, quote and the control
# characters escaped. nginx would take a "$" for a variable; the card's JSON
# has none.
if grep -q '[$]' "$card_reply"; then
  echo "the card's reply holds a \$, which nginx's return cannot carry" >&2
  exit 1
fi
nginx_reply="$(python3 -c '
import sys
text = open(sys.argv[1], "rb").read().decode("latin-1")
for raw, escaped in (("\\", "\\\\"), ("\x27", "\\\x27"), ("\n", "\\n"), ("\t", "\\t"), ("\r", "\\r")):
    text = text.replace(raw, escaped)
print(text, end="")
' "$card_reply")"

# --- nginx ----------------------------------------------------------------
nginx_port="$(free_port)"
mkdir -p "$work/nginx/logs" "$work/nginx/tmp"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon off;
master_process off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  keepalive_requests $keep_alive;
  keepalive_timeout 5s;
  client_body_temp_path $work/nginx/tmp/body;
  proxy_temp_path $work/nginx/tmp/proxy;
  fastcgi_temp_path $work/nginx/tmp/fastcgi;
  uwsgi_temp_path $work/nginx/tmp/uwsgi;
  scgi_temp_path $work/nginx/tmp/scgi;
  types { text/html html; }
  server {
    listen 127.0.0.1:$nginx_port;
    root $docroot;
    index index.html;
    location ~ \.w\$ {
      default_type application/json;
      return 200 '$nginx_reply';
    }
  }
}
CONF
taskset -c "$server_cpus" /usr/sbin/nginx -p "$work/nginx" -e "$work/nginx/logs/error.log" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
wait_for_port "$nginx_port"

# --- measurements ---------------------------------------------------------
cat >"$work/post.lua" <<LUA
wrk.method = "POST"
wrk.body = '$post_body'
wrk.headers["Content-Type"] = "application/json"
LUA

# Requests per second of one wrk run; non-2xx answers or socket errors fail it.
measure() {
  local url="$1"
  shift
  local out
  out="$(taskset -c "$client_cpus" wrk -t "$threads" -c "$connections" -d "${seconds}s" "$@" "$url")"
  if grep -q -e "Socket errors" -e "Non-2xx" <<<"$out"; then
    echo "$out" >&2
    echo "errors during the run against $url" >&2
    exit 1
  fi
  awk '/^Requests\/sec:/ { print $2 }' <<<"$out"
}

for name in card nginx; do
  port_var="${name}_port"
  port="${!port_var}"
  curl -s --noproxy '*' -o /dev/null -w "$name static: %{http_code} %{size_download} bytes\n" \
    "http://127.0.0.1:$port/index.html"
  curl -s --noproxy '*' -d "$post_body" -o "$work/$name.post" -w "$name post: %{http_code} %{size_download} bytes\n" \
    "http://127.0.0.1:$port/$post_name"
done
if ! cmp -s "$work/card.post" "$work/nginx.post"; then
  echo "nginx's POST reply differs from the card's" >&2
  exit 1
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo
echo "wrk -t $threads -c $connections -d ${seconds}s, keep-alive limit $keep_alive, one worker each,"
echo "servers on cores $server_cpus, wrk on cores $client_cpus, $rounds rounds"
printf '%-6s %-7s %12s %12s %7s\n' "round" "" "card req/s" "nginx req/s" "ratio"
static_ratios=""
post_ratios=""
for round in $(seq 1 "$rounds"); do
  # Alternate who goes first, so a load that comes and goes favours neither.
  if [ $((round % 2)) -eq 1 ]; then
    card_static="$(measure "http://127.0.0.1:$card_port/index.html")"
    nginx_static="$(measure "http://127.0.0.1:$nginx_port/index.html")"
    card_post="$(measure "http://127.0.0.1:$card_port/$post_name" -s "$work/post.lua")"
    nginx_post="$(measure "http://127.0.0.1:$nginx_port/$post_name" -s "$work/post.lua")"
  else
    nginx_static="$(measure "http://127.0.0.1:$nginx_port/index.html")"
    card_static="$(measure "http://127.0.0.1:$card_port/index.html")"
    nginx_post="$(measure "http://127.0.0.1:$nginx_port/$post_name" -s "$work/post.lua")"
    card_post="$(measure "http://127.0.0.1:$card_port/$post_name" -s "$work/post.lua")"
  fi
  static_ratio="$(ratio "$card_static" "$nginx_static")"
  post_ratio="$(ratio "$card_post" "$nginx_post")"
  static_ratios+="$static_ratio"$'\n'
  post_ratios+="$post_ratio"$'\n'
  printf '%-6s %-7s %12s %12s %7s\n' "$round" "static" "$card_static" "$nginx_static" "$static_ratio"
  printf '%-6s %-7s %12s %12s %7s\n' "" "post" "$card_post" "$nginx_post" "$post_ratio"
done
echo
echo "median ratio card / nginx: static $(printf '%s' "$static_ratios" | median)," \
  "post $(printf '%s' "$post_ratios" | median)"
