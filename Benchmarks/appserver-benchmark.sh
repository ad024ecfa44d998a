#!/usr/bin/env bash
# Loads our static local web server (AppServer, through kx_appserver_host) and Python's
# `python3 -m http.server` over the same folder in the same run: wrk keeps 200 connections
# downloading one 10 MiB file while a probe asks for a small file every 10 ms on fresh
# connections, then 200 connections ask for the small file as fast as they can. Prints
# throughput, peak memory added under load, the probe's latency, the small file's requests per
# second and the sockets left in TIME_WAIT (one per connection closed: a server that keeps its
# connections leaves few), with ratios ours/Python.
# Then ("limits") our server alone past its limits, with 1,024 descriptors, under another local
# process's load over raw sockets (kx_appserver_load): readers of the 10 MiB file at a media
# element's 4 MB/s beside idle connections that never ask (300 and 600 a second, each closed
# 1.5 s after its connect) or beside 300 pipelining clients; connections that ask 50, 100 or
# 200 ms after their connect, and fresh requests every 50 ms, beside 250 pipelining clients and
# 2,000 idle connections a second, with the kernel's listen-queue overflows meanwhile; and the
# servers a worker retires in 10 s of 2,000 idle connections a second (under strace, which
# counts the socket pairs they are made with).
# Then ("attacks") each attack of a hostile program on the same machine, hosted alone with 1,024
# descriptors for 30 s, 400 connections that open again as soon as the server closes them, beside
# a fresh request for a 1 KiB file every second, kept up 5 s after the attack: slowloris clients,
# readers at 100 KB/s with 20 requests sent ahead, clients asking every 0.1 s and every 0.9 s,
# readers at 400 KB/s, clients that shut their side at once; and honest readers beside attacks:
# 5 at 25 and at 175 KB/s beside 600 idle connections a second, 5 at 300 KB/s beside 250 clients
# that ask once and a new one asking every second, 5 at 4 MB/s that end their side after asking
# beside 600 idle connections a second; past the hard cap, 290 readers at 1 KB/s through a 4 KiB
# receive buffer with 20 requests sent ahead, and, from 8 s on, 5 readers at 4 MB/s one after
# another and then 3 full-speed fetches of a 1 MiB file; and a mixed load: 12 full-speed readers,
# 300 clients a second that close and 200 that end their side after one answer, 4 senders of
# endless request bodies and 300 clients asking for five large files at once and ending their
# side. For each: the fresh requests' longest wait during and after it, those never answered and
# those refused at once (503), the server's descriptors at rest, at the peak and 20 s after (the
# standard streams, the event descriptors of its threads and each worker's server are there at
# rest; each connection adds at most two), its memory at the start, at its peak and 20 s after, its
# CPU 20 s after, the readers' answers cut, and the honest readers and fetches that came whole.
# KX_APPSERVER_BASELINE=another kx_appserver_host runs the same loads on it too, side by side;
# KX_APPSERVER_ATTACKS="10 11" runs only those attacks (numbered from 0).
# Not part of scripts/test.
# Usage: Benchmarks/appserver-benchmark.sh [work folder] [seconds] [all|throughput|limits|attacks]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KX_BUILD_DIR:-$root/build}"
work="${1:-/tmp/kx-appserver-bench}"
seconds="${2:-10}"
part="${3:-all}"
connections=200

[[ "$part" == limits ]] || command -v wrk >/dev/null || { echo "wrk is missing: run scripts/setup" >&2; exit 1; }
[[ "$part" == throughput || "$part" == attacks ]] || command -v strace >/dev/null || { echo "strace is missing: apt-get install strace" >&2; exit 1; }
"$root/scripts/build" >/dev/null
mkdir -p "$work/site"
[[ -f "$work/site/large.bin" ]] || head -c $((10 * 1024 * 1024)) /dev/urandom > "$work/site/large.bin"
head -c 1024 /dev/urandom > "$work/site/small.bin"
[[ -f "$work/site/medium.bin" ]] || head -c $((1024 * 1024)) /dev/urandom > "$work/site/medium.bin"

cat > "$work/probe.py" <<'PY'
# Asks for the small file every 10 ms, each time on a new connection, until the stop file
# appears; prints the median, 99th percentile and maximum latency in milliseconds.
import os, socket, sys, time
port, stop = int(sys.argv[1]), sys.argv[2]
request = b"GET /small.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
times = []
while not os.path.exists(stop):
    start = time.perf_counter()
    with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
        s.sendall(request)
        answer = b""
        while True:
            data = s.recv(65536)
            if not data:
                break
            answer += data
    if not answer.startswith(b"HTTP/1.") or len(answer) < 1024:
        sys.exit("probe: bad answer")
    times.append((time.perf_counter() - start) * 1000)
    time.sleep(0.01)
times.sort()
print("%.1f %.1f %.1f %d" % (times[len(times) // 2], times[int(len(times) * 0.99)], times[-1], len(times)))
PY

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
kib() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }

# Sockets put in TIME_WAIT on either side of PORT in the last SECONDS: each stays there a
# minute, so those of an earlier run on the same port are told apart by the time they have left.
time_wait() {
  ss -Htano state time-wait "( sport = :$1 or dport = :$1 )" |
    awk -v least=$((60 - $2)) 'match($0, /timewait,[0-9]+sec/) { if (substr($0, RSTART + 9, RLENGTH - 12) + 1 >= least) n++ } END { print n + 0 }'
}

# measure NAME PID PORT: prints "NAME MiB/s peak-added-MiB p50 p99 max probes small-requests/s time-wait"
measure() {
  local name=$1 pid=$2 port=$3
  curl -s -o /dev/null "http://127.0.0.1:$port/large.bin" # warm up: page cache, first connection
  local idle; idle=$(kib "$pid" VmRSS)
  local start=$SECONDS
  rm -f "$work/stop"
  python3 "$work/probe.py" "$port" "$work/stop" > "$work/probe-$name.txt" &
  local probe=$!
  local transfer
  transfer=$(wrk -t4 -c"$connections" -d"${seconds}s" --timeout 30s "http://127.0.0.1:$port/large.bin" |
    awk '/^Transfer\/sec/ { v = $2; if (v ~ /GB$/) m = 1024; else if (v ~ /MB$/) m = 1; else if (v ~ /KB$/) m = 1 / 1024; else m = 1 / 1048576; sub(/[A-Z]+$/, "", v); printf "%.0f", v * m }')
  touch "$work/stop"
  wait "$probe"
  local peak; peak=$(kib "$pid" VmHWM)
  local requests
  requests=$(wrk -t4 -c"$connections" -d"${seconds}s" --timeout 30s "http://127.0.0.1:$port/small.bin" |
    awk '/^Requests\/sec/ { printf "%.0f", $2 }')
  echo "$name $transfer $(((peak - idle) / 1024)) $(cat "$work/probe-$name.txt") $requests $(time_wait "$port" $((SECONDS - start)))"
}

# limit_figures HOST: one line of figures of the server HOST past its limits (see above).
limit_figures() {
  local host=$1
  overflows() {
    awk '/^TcpExt:/ { if (!h) { split($0, n); h = 1 } else { split($0, v); for (i in n) if (n[i] == "ListenOverflows") print v[i] } }' /proc/net/netstat
  }
  # A fresh server for each load, ended by closing its input; `traced` counts its socket pairs.
  load() {
    local traced=$1; shift
    local tracer=()
    ((traced)) && tracer=(strace -f -qq --seccomp-bpf -e trace=socketpair -o "$work/socketpairs")
    coproc HOST { ulimit -n 1024; exec "${tracer[@]}" "$host" "$work/site"; }
    local port
    read -r _ port <&"${HOST[0]}"
    sleep 1 # its workers start after it listens
    local made=0 before
    ((traced)) && made=$(grep -c socketpair "$work/socketpairs")
    before=$(overflows)
    "$build/bin/kx_appserver_load" "$port" "$@"
    echo "overflows $(($(overflows) - before))"
    ((traced)) && echo "retirements $(($(grep -c socketpair "$work/socketpairs") - made))"
    exec {HOST[1]}>&-
    wait "$HOST_PID" || true
  }
  # "finished/ended MB-each" of the readers' line
  readers() { awk '/^readers/ { printf "%s/%s %s", $6, $8, $11 }'; }
  local r300 r600 rpipe
  r300=$(load 0 20 readers=2 churn=300 | readers)
  r600=$(load 0 20 readers=2 churn=600 | readers)
  rpipe=$(load 0 20 readers=2 pipeliners=300 | readers)
  local mixed
  mixed=$(load 0 30 pipeliners=250 churn=2000 gaps=50,100,200 fresh=50 |
    awk '/^gap/ { g[$2] = $4 "/" $6 } /^fresh/ { over = $12; max = $21; lost = $9 } /^overflows/ { o = $2 }
         END { printf "%s %s %s %s %s %s %s", g[50], g[100], g[200], over, max, lost, o }')
  local retired
  retired=$(load 1 10 churn=2000 | awk '/^retirements/ { print $2 }')
  echo "$r300 $r600 $rpipe $mixed $retired"
}

limits() {
  echo "Past its limits (256 connections, 1,024 descriptors): figures of one run"
  local ours baseline=""
  ours=($(limit_figures "$build/bin/kx_appserver_host"))
  [[ -n "${KX_APPSERVER_BASELINE:-}" ]] && baseline=($(limit_figures "$KX_APPSERVER_BASELINE"))
  local names=("10 MiB at 4 MB/s, 300 idle/s: finished" "  MB got each" "10 MiB at 4 MB/s, 600 idle/s: finished"
    "  MB got each" "10 MiB at 4 MB/s, 300 pipelining: finished" "  MB got each"
    "asking 50 ms after connect: answered" "asking 100 ms after: answered" "asking 200 ms after: answered"
    "fresh requests over 1 s, %" "fresh request max ms" "fresh requests unanswered" "listen overflows in 30 s"
    "retirements in 10 s, 2,000 idle/s")
  printf '%-44s %14s %14s\n' "" "${KX_APPSERVER_BASELINE:+baseline}" "AppServer"
  for i in "${!names[@]}"; do
    printf '%-44s %14s %14s\n' "${names[$i]}" "${baseline[$i]:-}" "${ours[$i]}"
  done
}

# attack_figures HOST LOAD-ARGUMENTS...: one line of figures of the server HOST under one attack
# (see above): "fresh-max-ms unanswered refused after-max-ms unanswered-after rest-descriptors
# peak-descriptors after-descriptors start-MB peak-MB after-MB CPU-% cut".
attack_figures() {
  local host=$1; shift
  coproc HOST { ulimit -n 1024; exec "$host" "$work/site"; }
  local port pid=$HOST_PID
  read -r _ port <&"${HOST[0]}"
  sleep 1 # its workers start after it listens
  local start rest; start=$(kib "$pid" VmRSS) rest=$(ls "/proc/$pid/fd" | wc -l)
  rm -f "$work/attacked"
  (
    peak_fds=0 peak_kib=0
    while [[ ! -f "$work/attacked" ]]; do
      fds=$(ls "/proc/$pid/fd" | wc -l) rss=$(kib "$pid" VmRSS)
      ((fds > peak_fds)) && peak_fds=$fds
      ((rss > peak_kib)) && peak_kib=$rss
      sleep 0.1
    done
    echo "$peak_fds $peak_kib" > "$work/peaks"
  ) &
  local sampler=$!
  local figures
  figures=$("$build/bin/kx_appserver_load" "$port" 30 "$@" fresh=1000 after=5 |
    awk '/^fresh/ { during = $21 " " $9 " " $23 } /^after the load/ { after = $24 " " $12 } /^readers/ { cut += $21 }
         /^honest readers/ { honest = $7 "/" $3 } /^fetches/ { fetched = $3 "/" $2; sub(":", "", fetched) }
         END { print during, after, cut + 0, (honest == "" ? "-" : honest), (fetched == "" ? "-" : fetched) }')
  touch "$work/attacked"
  wait "$sampler"
  local peak_fds peak_kib
  read -r peak_fds peak_kib < "$work/peaks"
  sleep 20
  local settled settled_fds ticks
  settled=$(kib "$pid" VmRSS) settled_fds=$(ls "/proc/$pid/fd" | wc -l)
  ticks=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
  sleep 2
  ticks=$(($(awk '{ print $14 + $15 }' "/proc/$pid/stat") - ticks))
  exec {HOST[1]}>&-
  wait "$pid" || true
  local fresh_max fresh_lost fresh_refused after_max after_lost cut honest fetched
  read -r fresh_max fresh_lost fresh_refused after_max after_lost cut honest fetched <<< "$figures"
  echo "$fresh_max $fresh_lost $fresh_refused $after_max $after_lost $rest $peak_fds $settled_fds" \
    "$((start / 1024)) $((peak_kib / 1024)) $((settled / 1024)) $((ticks * 100 / $(getconf CLK_TCK) / 2)) $cut $honest $fetched"
}

attacks() {
  local loads=("slowloris=400" "readers=400 rate=100000 ahead=20" "keepers=400 every=100" "keepers=400 every=900"
    "readers=400 rate=400000" "closers=400" "readers=5 rate=25000 churn=600" "readers=5 rate=175000 churn=600"
    "once=250 keepersPerSecond=1 readers=5 rate=300000" "readers=5 rate=4000000 halfclose=1 churn=600"
    "readers=290 rate=1000 ahead=20 rcvbuf=4096 honest=5 honestRate=4000000 honestAfter=8 fetches=3"
    "readers=12 rate=1000000000 oneshots=300 halfshots=200 chunked=4 fivers=300")
  local titles=("slowloris clients, a byte every 0.9 s" "readers at 100 KB/s, 20 requests sent ahead"
    "clients asking every 0.1 s" "clients asking every 0.9 s" "readers at 400 KB/s"
    "clients shutting their side at once" "5 readers at 25 KB/s beside 600 idle/s"
    "5 readers at 175 KB/s beside 600 idle/s" "5 readers at 300 KB/s beside 250 asking once"
    "5 readers ending their side beside 600 idle/s" "past the hard cap: 290 at 1 KB/s, 20 ahead"
    "mixed: full-speed readers, churn, bodies, five at once")
  local rows=("fresh request's longest wait, ms" "  never answered" "  refused at once (503)" "  5 s after: longest wait, ms"
    "  never answered" "descriptors at rest" "  at the peak (budget: at rest + 2 x 384)" "  20 s after"
    "memory at the start, MB" "  at its peak, MB" "  20 s after, MB" "CPU 20 s after, %" "readers' answers cut" "honest 4 MB/s readers whole"
    "1 MiB fetches whole")
  echo "Attacks of a hostile local program, 1,024 descriptors, 30 s each: figures of one run"
  # KX_APPSERVER_ATTACKS="10 11" runs only those (numbered from 0).
  for i in ${KX_APPSERVER_ATTACKS:-${!loads[@]}}; do
    local ours=() baseline=() load
    read -ra load <<< "${loads[$i]}"
    [[ -n "${KX_APPSERVER_BASELINE:-}" ]] && read -ra baseline <<< "$(attack_figures "$KX_APPSERVER_BASELINE" "${load[@]}")"
    read -ra ours <<< "$(attack_figures "$build/bin/kx_appserver_host" "${load[@]}")"
    printf '%-44s %14s %14s\n' "${titles[$i]}" "${KX_APPSERVER_BASELINE:+baseline}" "AppServer"
    for j in "${!rows[@]}"; do
      printf '  %-42s %14s %14s\n' "${rows[$j]}" "${baseline[$j]:-}" "${ours[$j]}"
    done
  done
}

if [[ "$part" == limits ]]; then
  limits
  exit 0
fi
if [[ "$part" == attacks ]]; then
  attacks
  exit 0
fi

coproc OURS { exec "$build/bin/kx_appserver_host" "$work/site"; }
read -r _ ours_port <&"${OURS[0]}"
ours_pid=$OURS_PID
python_port=$(free_port)
python3 -m http.server "$python_port" --bind 127.0.0.1 --directory "$work/site" >/dev/null 2>&1 &
python_pid=$!
trap 'kill "$python_pid" 2>/dev/null; exec {OURS[1]}>&- 2>/dev/null || true' EXIT
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$python_port/small.bin" && break; sleep 0.1; done

echo "10 MiB file, $connections connections for ${seconds} s (wrk), a 1 KiB probe every 10 ms"
read -r _ ot om op50 op99 omax on or ow < <(measure ours "$ours_pid" "$ours_port")
read -r _ pt pm pp50 pp99 pmax pn pr pw < <(measure python "$python_pid" "$python_port")
printf '%-22s %12s %12s\n' "" "AppServer" "http.server"
printf '%-22s %12s %12s\n' "throughput MiB/s" "$ot" "$pt"
printf '%-22s %12s %12s\n' "peak RSS added MiB" "$om" "$pm"
printf '%-22s %12s %12s\n' "probe p50 ms" "$op50" "$pp50"
printf '%-22s %12s %12s\n' "probe p99 ms" "$op99" "$pp99"
printf '%-22s %12s %12s\n' "probe max ms" "$omax" "$pmax"
printf '%-22s %12s %12s\n' "probes" "$on" "$pn"
printf '%-22s %12s %12s\n' "1 KiB requests/s" "$or" "$pr"
printf '%-22s %12s %12s\n' "sockets in TIME_WAIT" "$ow" "$pw"
awk -v a="$ot" -v b="$pt" 'BEGIN { printf "throughput ratio (ours/Python): %.2f\n", a / b }'
awk -v a="$op99" -v b="$pp99" -v c="$omax" -v d="$pmax" 'BEGIN { printf "probe latency ratio (ours/Python): p99 %.2f, max %.2f\n", a / b, c / d }'
awk -v a="$om" -v b="$pm" 'BEGIN { printf "peak RSS added ratio (ours/Python): %.2f\n", (b > 0 ? a / b : 0) }'
awk -v a="$or" -v b="$pr" 'BEGIN { printf "1 KiB requests/s ratio (ours/Python): %.2f\n", a / b }'
if [[ "$part" == all ]]; then
  kill "$python_pid" 2>/dev/null || true
  exec {OURS[1]}>&-
  wait "$ours_pid" || true
  limits
  attacks
fi
