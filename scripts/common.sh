# Shared by scripts/test, scripts/demo and scripts/bench: Debian packages and the build.
# shellcheck shell=bash

ORMIX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Everything a fresh Debian 12 machine needs to build, test and run the demo.
ORMIX_PACKAGES=(
    cmake ninja-build g++ pkg-config git
    qt6-base-dev qt6-base-dev-tools libgl-dev libxkbcommon-dev qt6-translations-l10n
    libgumbo-dev libidn2-dev libseccomp-dev libcpp-httplib-dev zlib1g-dev
    fonts-nanum fontconfig
    xvfb xauth openbox xdotool x11-utils x11-xserver-utils imagemagick python3
    desktop-file-utils appstream man-db lintian
    clang clang-format libclang-rt-14-dev llvm
    dpkg-dev file openssl libssl-dev libxcb1-dev
    qtkeychain-qt6-dev gnome-keyring libsecret-tools dbus-daemon dbus-bin
)

ensure_packages() {
    local missing=()
    local pkg
    for pkg in "${ORMIX_PACKAGES[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
    local dir="$1"
    shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$ORMIX_ROOT" -B "$dir" -G Ninja "$@"
    else
        cmake "$dir" "$@" >/dev/null
    fi
    cmake --build "$dir" -j "$(nproc)"
}
