# shellcheck shell=bash
# Sourced by the scripts: makes sure the Debian packages they need are installed. As root
# it installs what is missing and says how far it got; as another user it prints the line
# to run as root (with sudo, or with su where there is no sudo) and stops.
#
# The packages come in groups, so that a machine that only runs the program does not get
# the test tools:
#   build    what building the programs needs (scripts/run, scripts/demo)
#   package  what making the .deb needs besides (scripts/package); CPack's Debian
#            generator calls dpkg-shlibdeps and the file utility
#   test     what the tests, fuzzing and benchmarks need besides (scripts/test)
VEK_PACKAGES_BUILD=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-charts-dev libgl-dev nlohmann-json3-dev)
VEK_PACKAGES_PACKAGE=(dpkg-dev file)
VEK_PACKAGES_TEST=(libgtest-dev libgmock-dev libbenchmark-dev qt6-serialbus-dev mbpoll xvfb xauth clang
                   libclang-rt-14-dev desktop-file-utils appstream)

# One short progress line on stderr, named after the running script.
vek_say() {
    printf '%s: %s\n' "${0##*/}" "$*" >&2
}

# vek_ensure_deps [GROUP...]: the packages of these groups (default: all of them).
vek_ensure_deps() {
    local wanted=() group
    [ $# -eq 0 ] && set -- build package test
    for group in "$@"; do
        case "$group" in
            build) wanted+=("${VEK_PACKAGES_BUILD[@]}") ;;
            package) wanted+=("${VEK_PACKAGES_PACKAGE[@]}") ;;
            test) wanted+=("${VEK_PACKAGES_TEST[@]}") ;;
            *) echo "vek_ensure_deps: unknown group $group" >&2; exit 2 ;;
        esac
    done
    vek_install_packages "${wanted[@]}"
}

# vek_install_packages PACKAGE...: installs those of them that are not installed.
vek_install_packages() {
    local missing=() p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local list="${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        {
            echo "${0##*/}: ${#missing[@]} Debian package(s) missing: $list"
            echo "Install them as root, with sudo:"
            echo "  sudo apt-get update && sudo apt-get install -y $list"
            echo "or, where there is no sudo, with the root password:"
            echo "  su -c 'apt-get update && apt-get install -y $list'"
            echo "then run $0 again."
        } >&2
        exit 1
    fi
    vek_say "installing ${#missing[@]} Debian package(s): $list"
    vek_say "reading the package lists (apt-get update)"
    apt-get update -qq
    local total
    total=$(apt-get install -s -qq "${missing[@]}" | grep -c '^Inst ' || true)
    vek_say "downloading and installing ${total:-?} package(s), with what they depend on; this takes a few minutes"
    # apt's status lines (APT::Status-Fd) give the percentage done; one line per fifth.
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o APT::Status-Fd=3 "${missing[@]}" 3>&1 >/dev/null |
        vek_apt_progress
    vek_say "packages installed"
}

# Reads apt's status lines ("dlstatus:N:PERCENT:..." while downloading, "pmstatus:PACKAGE:
# PERCENT:..." while unpacking and configuring; PACKAGE may carry ":arch") and prints
# "downloaded 40%" or "installed 60%" each time another fifth is done, as soon as apt says
# so. Plain bash, because awk may wait to fill its input buffer before it looks at a line,
# and the fifths then came all at once when apt had finished.
vek_apt_progress() {
    local me=${0##*/} line field step
    local -a fields
    local -A said=([dlstatus]=0 [pmstatus]=0)
    while IFS= read -r line; do
        IFS=: read -r -a fields <<<"$line"
        [[ ${fields[0]} == dlstatus || ${fields[0]} == pmstatus ]] || continue
        step=-1
        for field in "${fields[@]:2}"; do
            if [[ $field =~ ^([0-9]+)(\.[0-9]+)?$ ]]; then
                step=$((BASH_REMATCH[1] / 20 * 20))
                break
            fi
        done
        if ((step > said[${fields[0]}])); then
            said[${fields[0]}]=$step
            if [ "${fields[0]}" = dlstatus ]; then
                printf '%s: downloaded %d%%\n' "$me" "$step" >&2
            else
                printf '%s: installed %d%%\n' "$me" "$step" >&2
            fi
        fi
    done
}
