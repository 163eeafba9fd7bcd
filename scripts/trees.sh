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

# vek_build DIR WHAT [TARGET...]: builds DIR and says how far it got, a fifth at a time; the
# compiler's output goes to DIR/build.log, whose end is shown when the build fails.
vek_build() {
    local dir=$1 what=$2
    shift 2
    local targets=()
    [ $# -gt 0 ] && targets=(--target "$@")
    local note=""
    [ -f "$dir/.ninja_log" ] || note=" (a first build takes several minutes)"
    vek_say "building $what in ${dir#"$vek_root"/}/$note"
    local start=$SECONDS
    if ! cmake --build "$dir" -j"${VEK_JOBS:-$(nproc)}" "${targets[@]}" 2>&1 |
            tee "$dir/build.log" | vek_build_progress; then
        vek_say "the build failed; the end of ${dir#"$vek_root"/}/build.log:"
        tail -n 40 "$dir/build.log" >&2
        exit 1
    fi
    vek_say "built in $((SECONDS - start)) s"
}

# Reads ninja's "[DONE/TOTAL] ..." lines and prints "built 40%" each time another fifth is done.
vek_build_progress() {
    awk -v me="${0##*/}" '
        match($0, /^\[[0-9]+\/[0-9]+\]/) {
            split(substr($0, 2, RLENGTH - 2), n, "/")
            if (n[2] == 0) next
            step = int(100 * n[1] / n[2] / 20) * 20
            if (step > done) {
                done = step
                printf "%s: built %d%%\n", me, step > "/dev/stderr"
                fflush("/dev/stderr")
            }
        }'
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
