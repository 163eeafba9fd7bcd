# shellcheck shell=bash
# Sourced by the checks in this folder: a scratch folder ($work) removed at exit, fail, and
# stamped for the time each line of a reporter came.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAILED: $*"
    exit 1
}

# stamped START: each line of stdin, with the milliseconds since START (microseconds, as
# ${EPOCHREALTIME//[!0-9]/} gives them) in front.
stamped() {
    local start=$1 line now
    while IFS= read -r line; do
        now=${EPOCHREALTIME//[!0-9]/}
        printf '%d %s\n' $(((now - start) / 1000)) "$line"
    done
}
