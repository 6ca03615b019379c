#!/usr/bin/env bash
# Installs what is missing, then builds Morvane four ways and runs every test:
#   build/        the program and the whole suite (engine, window, end to end)
#   build-asan/   the engine and window tests under AddressSanitizer and
#                 UndefinedBehaviorSanitizer
#   build-tsan/   the engine tests under ThreadSanitizer
#   build-fuzz/   the fuzz tests (header, recovery data, checksum file), with
#                 clang, for a bounded time each
# Every stage runs even when an earlier one failed; the script ends with one
# line per stage, the plain total "N passed, M failed" over all stages, and a
# non-zero exit when anything failed. On two idle cores the whole takes about
# 20 minutes, most of it building.
# Arguments are passed to the first stage's ctest (for example -L engine).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/debian_packages.sh"
install_missing_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" || exit 1
jobs=$(nproc)
log_dir=$(mktemp -d /tmp/morvane-test.XXXXXX)
trap 'rm -rf "$log_dir"' EXIT

summary=()
total_passed=0
total_failed=0
any_failed=0

# ctest_counts LOG: adds the "N tests failed out of M" line of a ctest run
# to the totals; a ctest that printed no such line counts as one failure.
ctest_counts() {
    local line failed all
    line=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$1" | tail -n 1)
    if [ -z "$line" ]; then
        stage_failed=$((stage_failed + 1))
        return
    fi
    failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    all=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    stage_passed=$((stage_passed + all - failed))
    stage_failed=$((stage_failed + failed))
}

# run_ctest DIR [ENV=VALUE ...] -- [CTEST ARGS ...]: one ctest run in DIR,
# its output shown and counted.
run_ctest() {
    local dir=$1
    shift
    local env=()
    while [ "$1" != "--" ]; do
        env+=("$1")
        shift
    done
    shift
    local log="$log_dir/ctest.log"
    (cd "$dir" && env "${env[@]}" ctest --output-on-failure -j "$jobs" "$@") 2>&1 | tee "$log"
    ctest_counts "$log"
}

# stage NAME BUILD_DIR "CMAKE ARGS" TEST_FUNCTION: configures and builds
# BUILD_DIR, then runs TEST_FUNCTION BUILD_DIR; a build that fails counts as
# one failure of the stage.
stage() {
    local name=$1 dir=$2 cmake_args=$3 tests=$4
    local started=$SECONDS result
    stage_passed=0
    stage_failed=0
    echo "== $name"
    # shellcheck disable=SC2086
    if cmake -S "$top" -B "$dir" -G Ninja $cmake_args && cmake --build "$dir" -j "$jobs"; then
        "$tests" "$dir"
    else
        echo "== $name: the build failed"
        stage_failed=$((stage_failed + 1))
    fi
    result="$stage_passed passed, $stage_failed failed"
    [ "$stage_failed" -eq 0 ] || any_failed=1
    [ "$stage_failed" -eq 0 ] && [ "$stage_passed" -eq 0 ] && any_failed=1 && result="ran no test"
    summary+=("$(printf '%-34s %s (%d s)' "$name" "$result" $((SECONDS - started)))")
    total_passed=$((total_passed + stage_passed))
    total_failed=$((total_failed + stage_failed))
}

first_ctest_args=("$@")
main_tests() { run_ctest "$1" -- "${first_ctest_args[@]}"; }
# Qt and fontconfig keep caches for the life of the process; leaks are
# looked for in the engine only.
sanitizer_tests() {
    run_ctest "$1" ASAN_OPTIONS=detect_leaks=1 -- -L engine -LE large
    run_ctest "$1" ASAN_OPTIONS=detect_leaks=0 -- -L ui
}
thread_tests() { run_ctest "$1" TSAN_OPTIONS=halt_on_error=1 -- -L engine -LE large; }
fuzz_tests() { run_ctest "$1" --; }

stage "Build and test" "$top/build" "-DCMAKE_BUILD_TYPE=RelWithDebInfo" main_tests
stage "Sanitizer build and test" "$top/build-asan" \
    "-DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON" sanitizer_tests
stage "Thread sanitizer build and test" "$top/build-tsan" \
    "-DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_SANITIZE_THREAD=ON" thread_tests
CXX=clang++ stage "Fuzz test" "$top/build-fuzz" \
    "-DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_FUZZ=ON" fuzz_tests

echo
echo "== Summary"
printf '%s\n' "${summary[@]}"
echo "$total_passed passed, $total_failed failed"
exit "$any_failed"
