#!/usr/bin/env bash
# Sets up a fresh Debian machine for Corvane and then runs the program or its tests.
#   bash tools/dev.sh run    install what is missing, build, start on the sample workspace
#   bash tools/dev.sh test   install what is missing, build, run every test
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make qt6-base-dev fonts-liberation xvfb xdotool)
# The tests also run batch files in a real terminal.
test_packages=(xterm xfonts-base)

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

build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$(nproc)"
}

case "${1:-}" in
run)
    install_missing "${packages[@]}"
    build
    exec build/workspace/corvane
    ;;
test)
    install_missing "${packages[@]}" "${test_packages[@]}"
    build
    ctest --test-dir build --output-on-failure
    ;;
*)
    echo "usage: bash tools/dev.sh run|test" >&2
    exit 2
    ;;
esac
