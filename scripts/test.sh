#!/usr/bin/env bash
# Installs what is missing, then builds Morvane three ways and runs every test:
#   build/        the program and the whole suite (engine, window, end to end)
#   build-asan/   the engine and window tests under AddressSanitizer and
#                 UndefinedBehaviorSanitizer
#   build-tsan/   the engine tests under ThreadSanitizer (about 3 minutes on
#                 two cores, build included)
#   build-fuzz/   the fuzz tests (header, recovery data, checksum file), with clang, for a
#                 bounded time each
# Arguments are passed to the first ctest (for example -L engine).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/debian_packages.sh"
install_missing_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
jobs=$(nproc)

echo "== Build and test"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$top/build" -j "$jobs"
(cd "$top/build" && ctest --output-on-failure -j "$jobs" "$@")

echo "== Sanitizer build and test"
cmake -S "$top" -B "$top/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON
cmake --build "$top/build-asan" -j "$jobs"
# Qt and fontconfig keep caches for the life of the process; leaks are
# looked for in the engine only.
(cd "$top/build-asan" &&
    ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$jobs" -L engine -LE large &&
    ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j "$jobs" -L ui)

echo "== Thread sanitizer build and test"
cmake -S "$top" -B "$top/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMORVANE_SANITIZE_THREAD=ON
cmake --build "$top/build-tsan" -j "$jobs"
(cd "$top/build-tsan" &&
    TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j "$jobs" -L engine -LE large)

echo "== Fuzz test"
CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMORVANE_FUZZ=ON
cmake --build "$top/build-fuzz" -j "$jobs"
(cd "$top/build-fuzz" && ctest --output-on-failure)
