#!/usr/bin/env bash
# Feeds the package progress reporter of scripts/deps.sh apt's status lines with pauses
# between them, as apt writes them while it downloads and installs, and checks that each
# fifth is said as soon as apt reaches it, not when apt has finished.
set -euo pipefail
root="$1"
. "$(dirname "$0")/common.sh"
feed() {
    echo "dlstatus:1:25.0000:Retrieving file 1 of 4"
    sleep 0.8
    echo "dlstatus:4:100.0000:Retrieving file 4 of 4"
    echo "pmstatus:dpkg-exec:0.0000:Running dpkg"
    echo "pmstatus:libfoo:amd64:44.4444:Unpacking libfoo (amd64)"
    sleep 0.8
    echo "pmstatus:libfoo:amd64:47.0000:Installing libfoo (amd64)"  # still the same fifth
    echo "pmstatus:foo-tools:88.8889:Installed foo-tools (amd64)"
    sleep 0.8
}
start=${EPOCHREALTIME//[!0-9]/}
feed | (. "$root/scripts/deps.sh" && vek_apt_progress) 2>&1 >/dev/null | stamped "$start" >"$work/said"
cat "$work/said"
expected='downloaded 20%
downloaded 100%
installed 40%
installed 80%'
[ "$(sed 's/^[0-9]* [^:]*: //' "$work/said")" = "$expected" ] || fail "said other lines than: $expected"
# Each is said within 500 ms of apt's line: 0, 800, 800 and 1600 ms after the start.
at=(0 800 800 1600)
i=0
while read -r ms _; do
    ((ms - at[i] < 500)) || fail "line $((i + 1)) came at $ms ms, apt wrote it at ${at[i]} ms"
    i=$((i + 1))
done <"$work/said"
echo "each fifth said within 500 ms of apt's status line"
