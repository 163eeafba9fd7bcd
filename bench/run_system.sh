#!/usr/bin/env bash
# What the running program costs beside two other masters on one simulator, in one run:
# vek-modbus-rtu (Qt offscreen) polls the transmitter simulator for SECONDS (default 90);
# then the plain Qt master (build-bench/vek_peer_qt_master: QModbusRtuSerialClient, a
# QTimer and a 78-row QTableWidget, offscreen) and mbpoll (Debian's package) poll the same
# simulator process for as long at the program's own poll period; last, the program runs
# again with its adapter gone (COM1 names a device that does not exist). Measured with
# /usr/bin/time -v (peak resident memory) and from /proc/PID/task/*/schedstat (CPU to the
# nanosecond, whole run and after the first 10 s); the polls each one made are counted from
# the simulator's log. Prints the figures and the ratios program / peer. Then the program
# polls through each kind of gateway (the simulator serving RTU over TCP, then Modbus TCP, on
# 127.0.0.1) for as long, and its CPU is set beside its CPU on the pseudo-terminal.
#
#   bench/run_system.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
secs=${1:-90}
build=build-bench

for tool in /usr/bin/time mbpoll; do
    command -v "$tool" >/dev/null || { echo "run_system.sh: $tool is missing (apt-get install time mbpoll)" >&2; exit 1; }
done
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target vek-modbus-rtu vek-transmitter-sim >/dev/null
peer="$root/$build/vek_peer_qt_master"
cmake --build "$build" --target vek_peer_qt_master >/dev/null 2>&1 || peer=
[ -n "$peer" ] ||
    echo "run_system.sh: no plain Qt master (apt-get install qt6-serialbus-dev); its column stays empty" >&2

work=$(mktemp -d)
sim_pid=
net_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [ -n "$net_pid" ] && kill "$net_pid" 2>/dev/null && wait "$net_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

"$root/$build/vek-transmitter-sim" --link "$work/ttyTX" --seed 1 --log "$work/sim.log" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/ttyTX" ] && break; sleep 0.1; done
[ -e "$work/ttyTX" ] || { echo "the simulator did not start" >&2; cat "$work/sim.out" >&2; exit 1; }

# Poll requests (function 3, 78 registers from 0, slave 1) the simulator received after time $1.
polls_since() {
    awk -v from="$1" -F'"t":' '/"dir":"rx"/ && /01 03 00 00 00 4E/ { split($2, a, ","); if (a[1] >= from) n++ } END { print n + 0 }' "$work/sim.log"
}
# Median gap between those polls, in milliseconds.
median_period_ms() {
    awk -v from="$1" -F'"t":' '/"dir":"rx"/ && /01 03 00 00 00 4E/ { split($2, a, ","); if (a[1] >= from) t[n++] = a[1] }
        END { if (n < 2) { print 0; exit } for (i = 1; i < n; i++) d[i - 1] = t[i] - t[i - 1];
              m = n - 1; for (i = 0; i < m; i++) for (j = i + 1; j < m; j++) if (d[j] < d[i]) { x = d[i]; d[i] = d[j]; d[j] = x }
              printf "%d\n", 1000 * d[int((m - 1) / 2)] }' "$work/sim.log"
}
sim_clock() { awk -F'"t":' 'END { split($2, a, ","); print a[1] }' "$work/sim.log"; }
field() { sed -n "s/^[[:space:]]*$2: //p" "$1"; }

# CPU seconds all threads of a process have had so far.
cpu_of() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ ns += $1 } END { printf "%.4f\n", ns / 1e9 }'; }
# Start-up is over after this many seconds; what follows is the cost of polling alone.
warm=$((secs > 20 ? 10 : secs / 2))

# Runs a command for $secs seconds under /usr/bin/time -v (peak resident memory, CPU to
# 10 ms), reads the CPU time its threads have had from /proc to the nanosecond after $warm
# seconds and just before ending it with SIGTERM, into $work/NAME.time, .warm and .cpu.
measure() {
    local name=$1 pid= t
    shift
    (cd "$work" && exec /usr/bin/time -v -o "$work/$name.time" "$@" >"$work/$name.out" 2>&1) &
    t=$!
    for _ in $(seq 200); do
        pid=$(awk '{ print $1 }' "/proc/$t/task/$t/children" 2>/dev/null || true)
        [ -n "$pid" ] && break
        sleep 0.01
    done
    [ -n "$pid" ] || { echo "$name did not start" >&2; exit 1; }
    sleep "$warm"
    cpu_of "$pid" >"$work/$name.warm"
    sleep $((secs - warm))
    cpu_of "$pid" >"$work/$name.cpu"
    kill -TERM "$pid" 2>/dev/null || true
    wait "$t" || true
}

# The program, from the working directory where it keeps RS_Settings: COM1 is the simulator.
printf '[0]\nCOMPORT=1\nPorta=1\n' >"$work/RS_Settings"
start=$(sim_clock)
measure program env VEK_COM1="$work/ttyTX" QT_QPA_PLATFORM=offscreen "$root/$build/vek-modbus-rtu"
program_polls=$(polls_since "$start")
period=$(median_period_ms "$start")
[ "$program_polls" -ge 2 ] || { echo "the program did not poll the simulator" >&2; cat "$work/program.out" >&2; exit 1; }

# The plain Qt master at the same period.
qt_polls=
if [ -n "$peer" ]; then
    start=$(sim_clock)
    measure qt env QT_QPA_PLATFORM=offscreen "$peer" "$work/ttyTX" "$period"
    qt_polls=$(polls_since "$start")
fi

# mbpoll at the same period: the same request, 78 holding registers from reference 1.
start=$(sim_clock)
measure mbpoll mbpoll -m rtu -b 9600 -P none -a 1 -r 1 -c 78 -t 4 -l "$period" -o 1 "$work/ttyTX"
mbpoll_polls=$(polls_since "$start")

# The program again with its adapter gone: COM1 is a path with nothing there, so every tick
# tries to open it and shows why it cannot.
measure gone env VEK_COM1="$work/no-such-adapter" QT_QPA_PLATFORM=offscreen "$root/$build/vek-modbus-rtu"

# The program through a gateway of each kind: the simulator serves TCP on 127.0.0.1.
declare -A net_polls
for kind in rtu mbap; do
    "$root/$build/vek-transmitter-sim" --tcp 0 --tcp-kind "$kind" --seed 1 --log "$work/net-$kind.log" \
        >"$work/net-$kind.out" 2>&1 &
    net_pid=$!
    for _ in $(seq 50); do [ -s "$work/net-$kind.out" ] && break; sleep 0.1; done
    where=$(head -n1 "$work/net-$kind.out")
    [ -n "$where" ] || { echo "the TCP simulator did not start" >&2; exit 1; }
    printf '[0]\nCOMPORT=1\nPorta=1\nCONNECTION=%s\nNET_HOST=%s\nNET_PORT=%s\n' \
        "$([ "$kind" = mbap ] && echo 2 || echo 1)" "${where%:*}" "${where##*:}" >"$work/RS_Settings"
    measure "net-$kind" env QT_QPA_PLATFORM=offscreen "$root/$build/vek-modbus-rtu"
    net_polls[$kind]=$(grep -c '"dir":"rx"' "$work/net-$kind.log" || true)
    kill "$net_pid" 2>/dev/null && wait "$net_pid" 2>/dev/null || true
    net_pid=
done

rss() { field "$work/$1.time" 'Maximum resident set size (kbytes)'; }
whole_ms() { awk -v b="$(cat "$work/$1.cpu")" 'BEGIN { printf "%.1f", 1000 * b }'; }
steady_ms() { awk -v a="$(cat "$work/$1.warm")" -v b="$(cat "$work/$1.cpu")" 'BEGIN { printf "%.1f", 1000 * (b - a) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
val() { [ -f "$work/$1.cpu" ] && "$2" "$1" || echo "-"; }

echo "$(date -u +%Y-%m-%dT%H:%M:%SZ) on $(nproc) cores, $secs s each, poll period $period ms (the program's median)"
fmt='%-30s %12s %12s %10s %10s %10s %12s\n'
printf "$fmt" "" "program" "plain Qt" "mbpoll" "/ Qt" "/ mbpoll" "adapter gone"
printf "$fmt" "polls seen by the simulator" "$program_polls" "${qt_polls:--}" "$mbpoll_polls" "" "" "-"
for row in "CPU after the first ${warm} s [ms]:steady_ms" "CPU whole run [ms]:whole_ms" "peak resident memory [KiB]:rss"; do
    label=${row%%:*} f=${row##*:}
    p=$(val program "$f") q=$(val qt "$f") m=$(val mbpoll "$f") g=$(val gone "$f")
    printf "$fmt" "$label" "$p" "$q" "$m" "$(ratio "$p" "$q")" "$(ratio "$p" "$m")" "$g"
done

echo
echo "The program through a gateway (the simulator serving TCP on 127.0.0.1), $secs s each:"
fmt2='%-30s %12s %14s %12s %10s %10s\n'
printf "$fmt2" "" "pty" "RTU over TCP" "Modbus TCP" "/ pty" "/ pty"
printf "$fmt2" "requests the simulator saw" "$program_polls" "${net_polls[rtu]}" "${net_polls[mbap]}" "" ""
p=$(val program steady_ms) r=$(val net-rtu steady_ms) m=$(val net-mbap steady_ms)
printf "$fmt2" "CPU after the first ${warm} s [ms]" "$p" "$r" "$m" "$(ratio "$r" "$p")" "$(ratio "$m" "$p")"
