# Sourced by the scripts: makes sure the Debian packages the build and tests need are
# installed. As root it installs what is missing; otherwise it prints the one line to run.
VEK_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-charts-dev libgl-dev libgtest-dev libgmock-dev
              nlohmann-json3-dev libbenchmark-dev mbpoll xvfb xauth dpkg-dev clang libclang-rt-14-dev)

vek_ensure_deps() {
    local missing=()
    local p
    for p in "${VEK_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Install them with:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}
