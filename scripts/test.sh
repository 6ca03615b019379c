#!/usr/bin/env bash
# Installs what is missing, builds Morvane and runs the whole test suite.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/debian_packages.sh"
install_missing_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

build="$top/build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
