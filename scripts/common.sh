# Shared by run.sh and test.sh: installs what is missing and builds.
# shellcheck shell=bash

TRELVIN_SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TRELVIN_BUILD="${TRELVIN_BUILD:-$TRELVIN_SRC/build}"
# fonts-liberation2: free fonts with the widths of the families the forms name.
# poppler-utils: pdftotext, with which the tests read the ICS-309 PDF back.
# libzip-dev: reads the FCC's licence files straight from their ZIP archives.
# libisal-dev: unpacks their members three times as fast as zlib.
# libqt6sql6-psql: Qt's PostgreSQL driver, with which the program talks to a club server.
# postgresql-15: the throwaway server the club-server tests and the benchmark start
#   (initdb, pg_ctl); util-linux gives them setpriv to run it unprivileged as root.
# qtkeychain-qt6-dev: keeps the QRZ and HamQTH passwords in the desktop's keyring.
# libsecret-1-0: the Secret Service client QtKeychain loads at run time.
# gnome-keyring, dbus: the Secret Service and session bus that tst_secrets_keyring
#   starts (dbus-run-session) so that it never touches the operator's keyring.
# openssl: the certificates of the club-server tests' TLS server.
# qt6-charts-dev: the attendance window's charts; libqt6opengl6-dev: Qt6Charts' CMake
#   package needs Qt6OpenGL's, which Debian's qt6-charts-dev does not pull in.
# qt6-svg-dev: Qt SVG, with which the net map is saved as an SVG drawing (and read back by its tests).
# libboost-dev: Boost.Beast and Asio (header-only), trelvin-web's HTTP server.
# chromium, nodejs: the browser test drives the live net page in chromium with
#   puppeteer-core, which the test installs with npm (see below).
TRELVIN_PACKAGES=(cmake g++ make qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libsqlite3-dev libgl-dev
    fonts-liberation2 poppler-utils libzip-dev libisal-dev libqt6sql6-psql postgresql-15 util-linux
    qtkeychain-qt6-dev libsecret-1-0 gnome-keyring dbus openssl libqrencode-dev qt6-charts-dev libqt6opengl6-dev
    qt6-svg-dev libboost-dev chromium nodejs)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

install_missing() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

# npm for the browser test's puppeteer-core; only when the command is
# missing: a nodejs from elsewhere may bring its own npm, which Debian's
# package would conflict with.
install_npm() {
    if ! command -v npm >/dev/null 2>&1; then
        install_missing npm
    fi
}

build_trelvin() {
    local type="${1:-RelWithDebInfo}"
    cmake -S "$TRELVIN_SRC" -B "$TRELVIN_BUILD" -DCMAKE_BUILD_TYPE="$type" >/dev/null
    cmake --build "$TRELVIN_BUILD" -j2
}
