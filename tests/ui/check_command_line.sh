#!/usr/bin/env bash
# The command line: help and the version on standard output, mistakes on
# standard error with status 2, none of them waiting for a window.
set -uo pipefail
morvane=$1
fail() { echo "$1"; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
run() { timeout 20 env -u DISPLAY -u WAYLAND_DISPLAY "$@" > "$out/stdout" 2> "$out/stderr"; }

run "$morvane" --version || fail "--version failed"
[ "$(cat "$out/stdout")" = "Morvane 1.1.1" ] || fail "--version printed: $(cat "$out/stdout")"
run "$morvane" --help || fail "--help failed"
grep -q "\[file\]" "$out/stdout" || fail "--help does not name the argument"
# Two files and an unknown option are refused before any window system is
# needed; next to one of Qt's own options, once Qt has taken it away.
for args in "a.hed b.hed" "--bogus" "-platform offscreen --bogus"; do
    # shellcheck disable=SC2086
    run "$morvane" $args
    status=$?
    [ "$status" -eq 2 ] || fail "'$args' ended with $status, not 2"
    grep -q "\[file\]" "$out/stderr" || fail "'$args' printed no usage on standard error"
    [ ! -s "$out/stdout" ] || fail "'$args' wrote to standard output"
done
echo "command line answered"
