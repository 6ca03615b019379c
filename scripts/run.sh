#!/usr/bin/env bash
# Installs what is missing, builds Morvane and starts it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/debian_packages.sh"
install_missing_packages "${BUILD_PACKAGES[@]}"

build="$top/build"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)" --target morvane

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != "offscreen" ]; then
    echo "Morvane is built ($build/app/morvane) but there is no display to show its window on." >&2
    if command -v xvfb-run >/dev/null; then
        echo "Start it from a desktop session, or under a virtual X server: xvfb-run $build/app/morvane" >&2
    else
        echo "Start it from a desktop session, or connect with ssh -X." >&2
    fi
    exit 1
fi
exec "$build/app/morvane"
