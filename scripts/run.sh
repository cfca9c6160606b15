#!/usr/bin/env bash
# Installs what is missing, builds the release configuration in build/release and
# starts Lumetra with the given arguments (images, or a command-line print), or with
# the sample target shipped in samples/ when none are given.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/release"

"$root/scripts/deps.sh"

jobs="$(getconf _NPROCESSORS_ONLN 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)"
prefix=()
[ "$(uname -s)" = Darwin ] && prefix=(-DCMAKE_PREFIX_PATH="$(brew --prefix qt);$(brew --prefix libtiff);$(brew --prefix libpng);$(brew --prefix jpeg-turbo)")

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLUMETRA_BUILD_TESTS=OFF "${prefix[@]}"
cmake --build "$build" --parallel "$jobs" --target lumetra

# Without arguments the window opens on the sample target; any arguments go to Lumetra as they
# are, so the command line works through this script too (./scripts/run.sh --print chart.tif).
[ "$#" -gt 0 ] || set -- "$root/samples/sample-target.tif"
if [ "$(uname -s)" = Darwin ]; then
    exec "$build/src/app/Lumetra.app/Contents/MacOS/Lumetra" "$@"
fi
exec "$build/src/app/lumetra" "$@"
