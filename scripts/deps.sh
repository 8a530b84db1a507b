# Installs the Debian packages the build and the tests need, if any is missing.
# Sourced by scripts/run and scripts/test.

CHRONOLUME_PACKAGES="cmake make g++ qt6-base-dev qt6-base-dev-tools libgl-dev \
fonts-dejavu-core iproute2 util-linux xvfb xauth x11-utils \
dpkg-dev file desktop-file-utils appstream \
clang libclang-rt-14-dev \
libltc-dev libsndfile1-dev libpcap-dev pkg-config sox \
qt6-httpserver-dev qt6-websockets-dev chromium python3-websocket \
librtmidi-dev jackd2"

chronolume_install_packages() {
    missing=""
    for package in $CHRONOLUME_PACKAGES; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $package"
        fi
    done
    [ -z "$missing" ] && return 0

    echo "Installing:$missing"
    if [ "$(id -u)" -eq 0 ]; then
        sudo=""
    else
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}
