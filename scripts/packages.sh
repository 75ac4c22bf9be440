# Installs the Debian packages named as arguments, only those that are missing.
# Sourced by the other scripts: `ensure_packages cmake g++ ...`.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    # Packages of another architecture (wine32:i386, libsndfile1-dev:arm64) need it enabled.
    local arch
    for arch in $(printf '%s\n' "${missing[@]}" | sed -n 's/.*:\(.*\)$/\1/p' | sort -u); do
        dpkg --print-foreign-architectures | grep -qx "$arch" || $sudo dpkg --add-architecture "$arch"
    done
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
}

# What building the plug-in, its tests and tools needs on Linux.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libsndfile1-dev libpng-dev libmpfr-dev lv2-dev liblilv-dev
    libstb-dev fonts-dejavu-core libx11-dev libebur128-dev libsoxr-dev nlohmann-json3-dev)
