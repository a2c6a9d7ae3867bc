#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and the
# machine does not have yet. Sourced by run.sh and test.sh.
set -euo pipefail

qln_packages=(g++ cmake ninja-build pkg-config qt6-base-dev libxkbcommon-dev libgtest-dev libgmock-dev libssl-dev openssl socat python3 python3-serial ser2net dpkg-dev lintian)

# Only for tools/screenshot.sh: a virtual display, and the tools that find, click,
# grab and convert the windows.
qln_screenshot_packages=(xvfb xauth x11-utils x11-apps imagemagick xdotool)

# Only for tools/fuzz.sh: clang 14 and its libFuzzer and sanitizer runtimes.
qln_fuzz_packages=(clang libclang-rt-14-dev)

# Installs the packages named (default: qln_packages) that are missing.
qln_install_deps() {
    local missing=()
    local wanted=("$@")
    [ ${#wanted[@]} -eq 0 ] && wanted=("${qln_packages[@]}")
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

qln_build() {
    local dir="$1"; shift
    cmake -S "$qln_root" -B "$dir" -G Ninja "$@" >/dev/null
    ninja -C "$dir"
}

qln_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
