# shellcheck shell=bash
# Sourced by the scripts: the build trees, how each is configured and built, and the
# environment the programs run in.
#
#   build-release/  the optimised build: Release, no sanitizers, no tests. scripts/run and
#                   scripts/demo start the programs from it; scripts/package packs it.
#   build/          the test build: Debug with AddressSanitizer and UndefinedBehaviorSanitizer,
#                   and every test (scripts/test).
#
# VEK_JOBS sets the number of parallel compile jobs (default: one per core).
# shellcheck source=scripts/deps.sh
. "$(dirname "${BASH_SOURCE[0]}")/deps.sh"
vek_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
vek_release_dir="$vek_root/build-release"
vek_test_dir="$vek_root/build"

# vek_release_tree [TARGET...]: configures and builds build-release/ (all of it by default),
# with the hardening Debian gives the programs it ships: fortified C library calls, stack
# protector, read-only relocations bound at start.
vek_release_tree() {
    vek_configure "$vek_release_dir" -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=OFF \
        -DCMAKE_INSTALL_PREFIX=/usr \
        "-DCMAKE_CXX_FLAGS=-D_FORTIFY_SOURCE=2 -fstack-protector-strong" \
        "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-z,relro -Wl,-z,now"
    vek_build "$vek_release_dir" "the optimised build" "$@"
}

# vek_test_tree [TARGET...]: configures and builds build/ (all of it by default).
vek_test_tree() {
    vek_configure "$vek_test_dir" -DCMAKE_BUILD_TYPE=Debug -DVEK_SANITIZE=ON
    vek_build "$vek_test_dir" "the test build (sanitizers, Debug)" "$@"
}

# vek_configure DIR CMAKE-OPTION...: the configure step's output goes to DIR/configure.log,
# and to stderr when it fails.
vek_configure() {
    local dir=$1
    shift
    mkdir -p "$dir"
    if ! cmake -S "$vek_root" -B "$dir" -G Ninja "$@" >"$dir/configure.log" 2>&1; then
        vek_say "configuring ${dir#"$vek_root"/}/ failed:"
        cat "$dir/configure.log" >&2
        exit 1
    fi
}

# vek_build DIR WHAT [TARGET...]: builds DIR and says how far it got (vek_build_progress).
# The compiler's output goes to DIR/build.log, whose end is shown when the build fails. A
# build with nothing to do leaves build.log alone, so that it keeps the output, warnings
# included, of the last build that did something; its own few lines are in build-last.log.
vek_build() {
    local dir=$1 what=$2
    shift 2
    local targets=()
    [ $# -gt 0 ] && targets=(--target "$@")
    local rel=${dir#"$vek_root"/} note=""
    [ -f "$dir/.ninja_log" ] || note=" (a first build takes several minutes)"
    vek_say "building $what in $rel/$note"
    local start=$SECONDS
    if ! cmake --build "$dir" -j"${VEK_JOBS:-$(nproc)}" "${targets[@]}" 2>&1 |
            tee "$dir/build-last.log" | vek_build_progress; then
        mv -f "$dir/build-last.log" "$dir/build.log"
        vek_say "the build failed; the end of $rel/build.log:"
        tail -n 40 "$dir/build.log" >&2
        exit 1
    fi
    if grep -qx 'ninja: no work to do\.' "$dir/build-last.log"; then
        vek_say "up to date, nothing to build"
        return 0
    fi
    mv -f "$dir/build-last.log" "$dir/build.log"
    local warnings
    warnings=$(grep -c 'warning: ' "$dir/build.log" || true)
    if [ "$warnings" -gt 0 ]; then
        vek_say "built in $((SECONDS - start)) s, with $warnings compiler warning(s): see $rel/build.log"
    else
        vek_say "built in $((SECONDS - start)) s"
    fi
}

# vek_build_progress [EVERY_MS]: reads ninja's "[DONE/TOTAL] description" lines from stdin
# and says on stderr how far the build has got, as it goes: every 10 s (EVERY_MS), "built
# 45% (44 of 97 steps)" when more is done than last said, else "still building (44 of 97
# steps done)". Ninja writes a step's line only once the step has ended, and one file can
# take a minute to compile, so the tick, not the lines, sets the pace: never two lines
# within 10 s, never 10 s without one. Nothing is said at 100%: the caller says the build
# is done. Plain bash, because awk may wait to fill its input buffer before it looks at
# the first line.
vek_build_progress() {
    local me=${0##*/} line pending="" timeout
    local -i every=$((${1:-10000} * 1000)) done=0 total=0 percent said_percent=-1 now wait
    local -i said=${EPOCHREALTIME//[!0-9]/}  # microseconds
    while :; do
        now=${EPOCHREALTIME//[!0-9]/}
        wait=$((said + every - now))
        ((wait < 1000)) && wait=1000
        printf -v timeout '%d.%06d' $((wait / 1000000)) $((wait % 1000000))
        if IFS= read -r -t "$timeout" line; then
            line=$pending$line
            pending=""
            if [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]]; then
                done=${BASH_REMATCH[1]}
                total=${BASH_REMATCH[2]}
            fi
        elif (($? > 128)); then
            pending+=$line  # timed out, maybe in the middle of a line
        else
            return 0  # end of input
        fi
        now=${EPOCHREALTIME//[!0-9]/}
        ((now - said >= every)) || continue
        said=$now
        if ((total == 0)); then
            printf '%s: still building (no step finished yet)\n' "$me" >&2
        elif ((done < total)); then
            percent=$((100 * done / total))
            if ((percent != said_percent)); then
                said_percent=$percent
                printf '%s: built %d%% (%d of %d steps)\n' "$me" "$percent" "$done" "$total" >&2
            else
                printf '%s: still building (%d of %d steps done)\n' "$me" "$done" "$total" >&2
            fi
        fi
    done
}

# Qt wants a private runtime directory (XDG_RUNTIME_DIR), which a desktop session provides.
# Without one (a console, ssh, su, CI) the scripts give the programs and tests their own:
# ${TMPDIR:-/tmp}/vek-runtime-UID, mode 0700, or a new temporary directory when that name
# is taken by something that is not this user's own directory.
vek_runtime_dir() {
    [ -n "${XDG_RUNTIME_DIR:-}" ] && return 0
    local dir
    dir="${TMPDIR:-/tmp}/vek-runtime-$(id -u)"
    mkdir -m 0700 "$dir" 2>/dev/null || true
    if [ -d "$dir" ] && [ ! -L "$dir" ] && [ -O "$dir" ]; then
        chmod 0700 "$dir"
    else
        dir="$(mktemp -d "${TMPDIR:-/tmp}/vek-runtime-XXXXXX")"
    fi
    export XDG_RUNTIME_DIR="$dir"
}
