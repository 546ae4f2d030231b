# Shared by scripts/run and scripts/test: installs the Debian packages the build needs when they
# are missing, then configures and builds a preset.

# What scripts/run needs: the command line and the virtual board, no window, no tests.
ZQ_RUN_PACKAGES=(g++ cmake ninja-build pkg-config libcli11-dev libssl-dev nlohmann-json3-dev libudev-dev libsystemd-dev)
ZQ_PACKAGES=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev qt6-base-dev qt6-base-private-dev fonts-liberation libcli11-dev binutils help2man libssl-dev nlohmann-json3-dev libudev-dev libsystemd-dev xvfb xdotool)

# Installs those of the given packages that are missing (all of ZQ_PACKAGES when none are given).
zq_install_missing() {
    local wanted=("$@")
    [ ${#wanted[@]} -eq 0 ] && wanted=("${ZQ_PACKAGES[@]}")
    local missing=()
    local pkg
    for pkg in "${wanted[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
}

zq_build() {
    local preset=$1
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
}
