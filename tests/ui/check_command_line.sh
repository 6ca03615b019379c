#!/usr/bin/env bash
# The command line: help and the version on standard output, mistakes on
# standard error with status 2, none of them waiting for a display; Qt's own
# options taken as in every Qt program.
set -uo pipefail
morvane=$1
fail() { echo "$1"; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
version="^Morvane 1\.1\.1$"

# status | where the pattern must be | pattern | arguments (run without a display)
# Status 124: still running after 3 s, its window shown. A status 2 also
# means nothing on standard output.
cases=(
    "0|stdout|$version|--version"
    "0|stdout|\[file\]|--help"
    "0|stdout|--platform|--help-all"
    "0|stdout|$version|-platform offscreen --version"
    "0|stdout|$version|-reverse -style fusion -qwindowgeometry 200x100+0+0 --version"
    "2|stderr|\[file\]|a.hed b.hed"
    "2|stderr|\[file\]|--bogus"
    "2|stderr|\[file\]|-platform offscreen --bogus"
    "2|stderr|\[file\]|-style fusion -bogus"
    "1|stderr|No display|-style fusion"
    "124|stderr||-platform offscreen -style fusion -reverse"
)
for row in "${cases[@]}"; do
    IFS="|" read -r expected stream pattern args <<<"$row"
    # A row that expects 124 is a window that keeps running until the
    # timeout ends it; any other row must end on its own.
    limit=60
    [ "$expected" -ne 124 ] || limit=3
    # shellcheck disable=SC2086
    timeout "$limit" env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$morvane" $args \
        >"$out/stdout" 2>"$out/stderr"
    status=$?
    [ "$status" -eq "$expected" ] || fail "'$args' ended with $status, not $expected"
    grep -q -- "$pattern" "$out/$stream" || fail "'$args' printed no '$pattern' on $stream"
    [ "$expected" -ne 2 ] || [ ! -s "$out/stdout" ] || fail "'$args' wrote to standard output"
done

# On a real X server, Qt's options reach the window.
if command -v xvfb-run >/dev/null; then
    xvfb-run -a timeout 3 "$morvane" -style fusion -reverse >"$out/stdout" 2>"$out/stderr"
    status=$?
    [ "$status" -eq 124 ] || fail "'-style fusion -reverse' under X ended with $status"
fi
echo "command line answered"
