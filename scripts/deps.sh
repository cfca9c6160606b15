#!/usr/bin/env bash
# Installs what Lumetra needs to build (and, with --tests, to test) when it is
# missing: apt-get on Debian/Ubuntu, Homebrew on macOS. A failed install stops
# the script; nothing is skipped silently.
set -euo pipefail

want_tests=0
[ "${1:-}" = "--tests" ] && want_tests=1

case "$(uname -s)" in
Linux)
    if ! command -v apt-get >/dev/null 2>&1; then
        echo "deps: this Linux has no apt-get; install a C++17 compiler, CMake >= 3.21, Qt 6 (Widgets, PrintSupport, Svg), libtiff, libpng, libjpeg, zlib and libcups by hand." >&2
        exit 1
    fi
    packages=(build-essential cmake pkg-config qt6-base-dev qt6-svg-dev libqt6svg6 libtiff-dev libpng-dev libjpeg-dev zlib1g-dev libgl-dev
              qt6-qpa-plugins libcups2-dev)
    if [ "$want_tests" = 1 ]; then
        packages+=(cups cups-client cups-filters ghostscript colord-data poppler-utils
                   printer-driver-gutenprint cups-ipp-utils dbus)
    fi
    missing=()
    for p in "${packages[@]}"; do
        if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]; then
            missing+=("$p")
        fi
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        sudo=()
        if [ "$(id -u)" != 0 ]; then
            command -v sudo >/dev/null 2>&1 || { echo "deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
            sudo=(sudo)
        fi
        echo "deps: installing ${missing[*]}"
        "${sudo[@]}" apt-get update
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
    fi
    ;;
Darwin)
    command -v brew >/dev/null 2>&1 || { echo "deps: Homebrew is required on macOS (https://brew.sh)." >&2; exit 1; }
    formulae=(cmake qt libtiff libpng jpeg-turbo)
    [ "$want_tests" = 1 ] && formulae+=(poppler)
    for f in "${formulae[@]}"; do
        brew list --versions "$f" >/dev/null 2>&1 || brew install "$f"
    done
    ;;
*)
    echo "deps: unsupported system $(uname -s)" >&2
    exit 1
    ;;
esac
