#!/usr/bin/env bash
# Feeds the build progress reporter of scripts/trees.sh a made-up ninja output with long
# silences, a burst of steps and a line cut in two, with a tick of 500 ms instead of 10 s,
# and checks what it says and when: one line per tick while the build goes on, never two
# within a tick, the percentage when it moved and "still building" when it did not,
# nothing at 100%.
set -euo pipefail
root="$1"
every=500
. "$(dirname "$0")/common.sh"

feed() {
    sleep 0.7                            # nothing finished yet: one tick passes
    echo "[1/10] Building CXX object a.o"
    sleep 1.0
    for i in 2 3 4; do echo "[$i/10] Building CXX object $i.o"; done
    printf '[5/10'                       # a line written in two pieces, across a tick
    sleep 0.6
    echo '] Linking CXX executable five'
    sleep 1.0
    echo "[10/10] Linking CXX executable last"
}

# Each line the reporter says, with the milliseconds since the start.
start=${EPOCHREALTIME//[!0-9]/}
feed | (. "$root/scripts/trees.sh" && vek_build_progress "$every") 2>&1 >/dev/null | stamped "$start" >"$work/said"
end=$(((${EPOCHREALTIME//[!0-9]/} - start) / 1000))
cat "$work/said"

sed 's/^[0-9]* //' "$work/said" >"$work/text"
while IFS= read -r line; do
    [[ $line =~ ^[^:]+:\ (built\ [0-9]+%\ \([0-9]+\ of\ 10\ steps\)|still\ building\ \(([0-9]+\ of\ 10\ steps\ done|no\ step\ finished\ yet)\))$ ]] ||
        fail "unexpected line: $line"
done <"$work/text"
grep -q 'still building (no step finished yet)$' "$work/text" || fail "nothing said before the first step ended"
[ "$(grep -c ' built ' "$work/text")" -ge 3 ] || fail "fewer than three percentages"
grep ' built ' "$work/text" | head -n 1 | grep -q 'built 10% (1 of 10 steps)$' || fail "the first percentage is not 10%"
grep -q 'built 40% (4 of 10 steps)$' "$work/text" || fail "the burst of steps is not reported"
grep -q 'built 50% (5 of 10 steps)$' "$work/text" || fail "the line written in two pieces is lost"
grep -q 'still building (1 of 10 steps done)$' "$work/text" || fail "a silence is not filled"
if grep -q '100%\|10 of 10' "$work/text"; then fail "said 100%"; fi
# The same percentage is never said twice in a row.
if grep -o 'built [0-9]*%' "$work/text" | uniq -d | grep -q .; then fail "a percentage said twice"; fi

# Timing: never two lines within a tick (less 100 ms of scheduling slack), and while the
# build goes on never a tick without a line (plus 400 ms of slack on a busy machine).
prev=0
while read -r at _; do
    ((at - prev >= every - 100)) || fail "two lines ${prev} ms and ${at} ms after the start"
    ((at - prev <= every + 400)) || fail "silent from ${prev} ms to ${at} ms after the start"
    prev=$at
done <"$work/said"
((end - prev <= every + 400)) || fail "silent from ${prev} ms to the end at ${end} ms"
echo "$(wc -l <"$work/said") progress lines over ${end} ms, one per ${every} ms tick"
