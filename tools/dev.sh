#!/usr/bin/env bash
# Sets up a fresh Debian machine for Corvane and then runs the program or its tests.
#   bash tools/dev.sh run    install what is missing, build the program, install it into
#                            ~/Corvane (or $CORVANE_HOME) with a menu entry, start it there
#   bash tools/dev.sh test   install what is missing, build, run every test
set -euo pipefail
cd "$(dirname "$0")/.."

# To build and run the program, and what the sample templates call.
packages=(cmake g++ make qt6-base-dev libsqlite3-dev libfontconfig-dev fonts-liberation iputils-ping bind9-dnsutils)
# The tests also drive the program under an X server of their own with a window manager,
# run batch files in a real terminal, and check the desktop entry and the AppStream
# metadata, read the clipboard, and answer desktop notifications on a session bus of their
# own; the benchmark sets GNU parallel and sqlite3 beside the program.
test_packages=(xvfb openbox x11-utils xdotool xterm xfonts-base desktop-file-utils appstream
    parallel sqlite3 xclip dbus-daemon)

install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

configure() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}

case "${1:-}" in
run)
    install_missing "${packages[@]}"
    configure
    cmake --build build --target corvane -j"$(nproc)"
    folder="${CORVANE_HOME:-$HOME/Corvane}"
    cmake --install build --prefix "$folder" | grep -v '^-- Up-to-date' || true
    exec "$folder/corvane"
    ;;
test)
    install_missing "${packages[@]}" "${test_packages[@]}"
    configure
    cmake --build build -j"$(nproc)"
    ctest --test-dir build --output-on-failure
    ;;
*)
    echo "usage: bash tools/dev.sh run|test" >&2
    exit 2
    ;;
esac
