#!/bin/bash
# One load run against a bridge with the perf harness's fake plug-in, measured from outside.
#
#   bench/profile.sh BIN CONNS [RESULT_BYTES] [SECONDS]
#     prints: req/s, p50, p99, bridge CPU per request, context switches per request
#   MODE=record  also `perf record -g` the bridge into /tmp/cutrelay-profile.data
#   MODE=syscalls  count the bridge's socket and epoll system calls instead
#   WRK_BODY='{"command":"premiere_describe"}'  another request body; WRK_CLOSE=1 no keep-alive
#
# Needs wrk, perf (Debian: linux-perf) and the harness's tools: run ../shared/perf/run.sh
# once, or set PERF_WORK to where it built them.
set -euo pipefail
BIN=$1; CONNS=$2; RESULT_BYTES=${3:-0}; SECONDS_=${4:-4}
TOOLS=${PERF_WORK:-/tmp/cutrelay-perf}
# The harness's wrk script, beside the project as ../shared/perf (or PERF_DIR).
LOAD=${PERF_DIR:-$(cd "$(dirname "$0")/.." && pwd)/../shared/perf}/load/post.lua
home=$(mktemp -d /tmp/cutrelay-profile.XXXX)
stat=$home/stat
HOME=$home "$BIN" 2>/dev/null &
bridge=$!
trap 'kill $plugin $bridge 2>/dev/null; wait $bridge 2>/dev/null; rm -rf "$home"' EXIT
for _ in $(seq 100); do [ -f "$home/.quor/cutrelay/connection.json" ] && break; sleep 0.05; done
"$TOOLS/bin/fake_plugin" --home "$home" --result-bytes "$RESULT_BYTES" >/dev/null 2>&1 &
plugin=$!
port=$(python3 -c "import json,sys;print(json.load(open(sys.argv[1]))['port'])" "$home/.quor/cutrelay/connection.json")
url=http://127.0.0.1:$port/command
for _ in $(seq 50); do
  curl -s -XPOST -H 'Content-Type: application/json' -d '{"command":"premiere_ping"}' "$url" | grep -q pong && break
  sleep 0.1
done
wrk -t1 -c"$CONNS" -d1s -s "$LOAD" "$url" >/dev/null
case ${MODE:-} in
  record) perf record -F 1999 -g -p $bridge -o /tmp/cutrelay-profile.data -- sleep "$SECONDS_" >/dev/null 2>&1 & ;;
  syscalls) perf stat -e 'syscalls:sys_enter_sendmsg,syscalls:sys_enter_recvmsg,syscalls:sys_enter_epoll_wait,syscalls:sys_enter_write,syscalls:sys_enter_futex' \
              -p $bridge -o "$stat" -- sleep "$SECONDS_" & ;;
  *) perf stat -e task-clock,context-switches -p $bridge -o "$stat" -- sleep "$SECONDS_" & ;;
esac
watcher=$!
summary=$(wrk -t1 -c"$CONNS" -d"${SECONDS_}s" -s "$LOAD" "$url" | sed -n 's/^WRKJSON //p')
wait $watcher
python3 - "$summary" "$stat" "${MODE:-}" <<'PY'
import json, re, sys
d = json.loads(sys.argv[1]); n = d['requests']; secs = d['duration_us'] / 1e6
line = '%7.0f req/s  p50 %.3f ms  p99 %.3f ms' % (n / secs, d['p50_us'] / 1000, d['p99_us'] / 1000)
counts = {}
try:
    for row in open(sys.argv[2]):
        m = re.match(r'\s*([\d,.]+)\s+(?:msec\s+)?(\S+)', row)
        if m: counts[m.group(2)] = float(m.group(1).replace(',', ''))
except FileNotFoundError:
    pass
if sys.argv[3] == 'syscalls':
    line += ''.join('  %s %.2f/req' % (k.split('sys_enter_')[-1], v / n) for k, v in counts.items())
elif 'task-clock' in counts:
    line += '  cpu %.1f us/req  cs %.2f/req' % (counts['task-clock'] * 1000 / n, counts.get('context-switches', 0) / n)
print(line)
PY
