# shellcheck shell=sh disable=SC2034
# Installs the Debian packages that are missing, of the lists below. Sourced by scripts/run, which
# installs what building and running need, and by scripts/test, which adds what the tests need.

# Building and running: the compiler and CMake, Qt 6 with its HTTP server and WebSockets, the
# libraries of LTC, sound files, packet capture and MIDI, and a font for the window's digits.
CHRONOLUME_RUN_PACKAGES="cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev \
qt6-httpserver-dev qt6-websockets-dev \
libltc-dev libsndfile1-dev libpcap-dev librtmidi-dev \
fonts-dejavu-core"

# The tests only: private networks (ip, unshare), a virtual display and its tools (Xvfb,
# xwininfo), the package checks (dpkg-shlibdeps, file, desktop-file-validate, appstreamcli,
# groff for the manual page), clang and its sanitizer and fuzzer runtimes, sox for the LTC
# audio files, chromium and python3-websocket for the web page, and a JACK server for MIDI.
CHRONOLUME_TEST_PACKAGES="iproute2 util-linux xvfb xauth x11-utils \
dpkg-dev file desktop-file-utils appstream groff-base \
clang libclang-rt-14-dev \
sox chromium python3-websocket jackd2"

# chronolume_install_packages PACKAGE...: installs those of the packages that are missing.
chronolume_install_packages() {
    missing=""
    for package in "$@"; do
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
