#!/usr/bin/env bash
# Installs what is missing, builds the release configuration in build/release and
# starts Lumetra with the given image, or with the sample target shipped in
# samples/ when no image is given.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/release"

"$root/scripts/deps.sh"

jobs="$(getconf _NPROCESSORS_ONLN 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)"
prefix=()
[ "$(uname -s)" = Darwin ] && prefix=(-DCMAKE_PREFIX_PATH="$(brew --prefix qt);$(brew --prefix libtiff);$(brew --prefix libpng);$(brew --prefix jpeg-turbo)")

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLUMETRA_BUILD_TESTS=OFF "${prefix[@]}"
cmake --build "$build" --parallel "$jobs" --target lumetra

image="${1:-$root/samples/sample-target.tif}"
if [ "$(uname -s)" = Darwin ]; then
    exec "$build/src/app/Lumetra.app/Contents/MacOS/Lumetra" "$image"
fi
exec "$build/src/app/lumetra" "$image"
