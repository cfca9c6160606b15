#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer configuration with warnings as
# errors and runs the whole suite through ctest on the offscreen platform.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/test"

"$root/scripts/deps.sh" --tests

jobs="$(getconf _NPROCESSORS_ONLN 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)"
prefix=()
[ "$(uname -s)" = Darwin ] && prefix=(-DCMAKE_PREFIX_PATH="$(brew --prefix qt);$(brew --prefix libtiff);$(brew --prefix libpng);$(brew --prefix jpeg-turbo)")

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DLUMETRA_BUILD_TESTS=ON \
    -DLUMETRA_SANITIZE=ON -DLUMETRA_WARNINGS_AS_ERRORS=ON "${prefix[@]}"
cmake --build "$build" --parallel "$jobs"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
ctest --test-dir "$build" --output-on-failure --timeout 600 "$@" || status=$?

# ctest counts a test executable as passed when some of its cases were skipped
# (for instance without a print scheduler); name those cases and their reasons.
log="$build/Testing/Temporary/LastTest.log"
if [ -f "$log" ] && grep -q '^SKIP' "$log"; then
    echo "Skipped test cases:"
    grep -A1 '^SKIP' "$log"
fi
exit "$status"
