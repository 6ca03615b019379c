#!/usr/bin/env bash
# The command line: help and the version on standard output, mistakes on
# standard error with status 2, none of them waiting for a display; Qt's own
# options taken as in every Qt program. The divide and glue commands, run
# without a display or a session bus and never reading standard input:
# their exit status, the files they leave and the first line of their errors.
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
    "0|stdout|divide  |--help"
    "0|stdout|^Usage: morvane divide FILE|divide --help"
    "0|stdout|^Usage: morvane glue HEADER|glue -h"
    "0|stdout|^Usage: morvane check HEADER|check --help"
    "0|stdout|^Usage: morvane repair HEADER|repair --help"
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

# status | first line of standard error | files left | set-up | arguments, in
# a folder that holds f.bin (10 bytes) and what the set-up made; "set"
# stands for the files of f.bin divided by 3 bytes, in the C locale's order.
set="f.bin f.hed f.sha256 f_1.div f_2.div f_3.div f_4.div"
divided="morvane divide f.bin --size 3 -q"
rset="f.bin f.hed f.par2 f.sha256 f.vol0+1.par2 f.vol1+1.par2 f_1.div f_2.div f_3.div f_4.div"
damaged="$divided --recovery 2; echo -n xyz >f_2.div"
lost="f.bin f.hed f.par2 f.sha256 f.vol0+1.par2 f.vol1+1.par2 f_2.div f_4.div"
runs=(
    "0|^File Successfully Divided! ./f.hed: 4 chunks$|$set||divide f.bin --size 3"
    "0||f.bin f.hed f.sha256 f_1.div f_2.div f_3.div f_4.div f_5.div||divide f.bin --count 5 --quiet"
    "0||f.bin o.hed o.par2 o.sha256 o.vol0+1.par2 o_1.div o_2.div||divide f.bin --size 5 --prefix o --recovery 1 -q"
    "0||d f.bin|mkdir d|divide f.bin --count 1 --to d -q"
    "2|--count 6: no chunk size gives 6 chunks.*5 and 10$|f.bin||divide f.bin --count 6"
    "2|--count 11: .*at most 10 chunks|f.bin||divide f.bin --count=11"
    "2|--size 2GB: Chunk Size Too Big.|f.bin||divide f.bin --size 2GB"
    "2|--size 0KB: Invalid Chunk Size (a chunk holds at least 1 byte)|f.bin||divide f.bin --size 0KB"
    "2|--size 11: Invalid Chunk Size (larger than the file's 10 bytes)|f.bin||divide f.bin --size 11"
    "2|'1,024' is not a size|f.bin||divide f.bin --size 1,024"
    "2|'5XB' is not a size|f.bin||divide f.bin --size 5XB"
    "2|'-5' is not a size|f.bin||divide f.bin --size -5"
    "2|--recovery 9: this division can have at most 6|f.bin||divide f.bin --size 3 --recovery 9"
    "2|unknown option '--bogus'|f.bin||divide f.bin --size 3 --bogus"
    "2|--size needs a value|f.bin||divide f.bin --size"
    "2|no FILE to divide|f.bin||divide --size 3"
    "2|one FILE at a time|f.bin||divide f.bin f.bin --size 3"
    "2|either --size or --count|f.bin||divide f.bin"
    "2|either --size or --count|f.bin||divide f.bin --size 3 --count 3"
    "1|d: Is a directory|d f.bin|mkdir d|divide d --size 3"
    "1|p: not a regular file|f.bin p|mkfifo p|divide p --size 3"
    "1|none: No such file or directory|f.bin||divide none --size 3"
    "1|nowhere/: No such file or directory|f.bin||divide f.bin --size 3 --to nowhere"
    "1|refused: f.hed and f_2.div in ./ exist already; --force|f.bin f.hed f_2.div|touch f.hed f_2.div|divide f.bin --size 3"
    "0||$set|touch f.hed f_2.div|divide f.bin --size 3 --force -q"
    "0|^File Successfully Glued Together! out$|$set out|$divided|glue f.hed --to out"
    "0||d $set|$divided; mkdir d|glue f.hed --to d --quiet"
    "1|refused: ./f.bin exists already|$set|$divided|glue f.hed"
    "0||$set|$divided; rm f.bin|glue f.hed -q"
    "4|glue failed: Chunk File Damaged: f_2.div$|f.hed f.sha256 f_1.div f_2.div f_3.div f_4.div|$divided; rm f.bin; echo -n xyz >f_2.div|glue f.hed"
    "4|glue failed: Chunk File Missing: f_3.div$|f.bin f.hed f.sha256 f_1.div f_2.div f_4.div|$divided; rm f_3.div|glue f.hed --to out"
    "0|Rebuilt from recovery data: f_2.div$|f.bin f.hed f.par2 f.sha256 f.vol0+1.par2 f_1.div f_2.div f_3.div f_4.div out|$divided --recovery 1; rm f_2.div|glue f.hed --to out"
    "1|glue failed: f.bin: Invalid Header File$|f.bin||glue f.bin"
    "1|glue failed: none.hed: No such file or directory$|f.bin||glue none.hed"
    "1|nowhere/out: No such file or directory$|$set|$divided|glue f.hed --to nowhere/out"
    "2|no HEADER to glue|f.bin||glue"
    "0|^All 4 chunks intact$|$rset|$divided --recovery 2|check f.hed"
    "3|^morvane: f_2.div damaged: the recovery data can rebuild it$|$rset|$damaged|check f.hed"
    "0|^Repaired: f_2.div$|$rset|$damaged|repair f.hed"
    "3|^morvane: f_2.div damaged, f_3.div missing: the recovery data can rebuild them$|f.bin f.hed f.par2 f.sha256 f.vol0+1.par2 f.vol1+1.par2 f_1.div f_2.div f_4.div|$damaged; rm f_3.div|check f.hed"
    "0|^All 4 chunks intact$|$rset|$damaged; morvane repair f.hed -q|check f.hed"
    "0||$rset|$damaged; morvane repair f.hed -q; rm f.bin|glue f.hed -q"
    "4|f_3.div missing: the recovery data cannot rebuild them|$lost|$damaged; rm f_1.div f_3.div|check f.hed"
    "4|repair failed: Chunk File Missing: |$lost|$damaged; rm f_1.div f_3.div|repair f.hed"
    "0|^All 4 chunks intact$|$rset|$divided --recovery 2; rm f.hed|check f.par2"
    "0|^File Successfully Glued Together! ./f.bin$|$rset|$divided --recovery 2; rm f.hed f.bin|glue f.par2"
    "0|presence and lengths checked only|f.bin f.hed f_1.div f_2.div f_3.div f_4.div|$divided; rm f.sha256|check f.hed"
    "4|f_3.div damaged: there is no recovery data|f.bin f.hed f_1.div f_2.div f_3.div f_4.div|$divided; rm f.sha256; echo -n 1 >f_3.div|check f.hed"
    "2|no HEADER to check|f.bin||check"
)
mkfifo "$out/never"
exec {never}<>"$out/never"
for row in "${runs[@]}"; do
    IFS="|" read -r expected first left setup args <<<"$row"
    work=$(mktemp -d)
    printf 0123456789 >"$work/f.bin"
    (cd "$work" && PATH="$(dirname "$morvane"):$PATH" && eval "$setup") || fail "set-up of '$args' failed"
    # Standard input never ends: a command that read it would hang.
    # shellcheck disable=SC2086
    (cd "$work" && timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        -u DBUS_SESSION_BUS_ADDRESS "$morvane" $args <&"$never" >"$out/stdout" 2>"$out/stderr")
    status=$?
    have=$(cd "$work" && LC_ALL=C ls -A | tr '\n' ' ')
    rm -rf "$work"
    [ "$status" -eq "$expected" ] || fail "'$args' ended with $status, not $expected: $(cat "$out/stderr")"
    [ "$have" = "$left " ] || fail "'$args' left: $have(expected: $left)"
    if [ -z "$first" ]; then
        [ ! -s "$out/stderr" ] || fail "'$args' printed: $(cat "$out/stderr")"
    else
        head -n 1 "$out/stderr" | grep -q -- "$first" || fail "'$args' printed: $(head -n 1 "$out/stderr")"
    fi
done

# A name that is not UTF-8 is found and written byte for byte, and printed
# escaped: \xNN on standard error, \udcNN in the JSON result.
work=$(mktemp -d)
trap 'rm -rf "$out" "$work"' EXIT
cd "$work" || fail "no work folder"
printf 0123456789 >"$(printf 'caf\xe9.bin')"
"$morvane" divide "$(printf 'caf\xe9.bin')" --size 4 --json >"$out/stdout" 2>"$out/stderr" ||
    fail "the non-UTF-8 name was not divided: $(cat "$out/stderr")"
grep -q '"prefix":"caf\\udce9"' "$out/stdout" || fail "JSON result: $(cat "$out/stdout")"
grep -q '^File Successfully Divided! ./caf\\xe9.hed' "$out/stderr" || fail "printed: $(cat "$out/stderr")"
[ -f "$(printf 'caf\xe9_3.div')" ] || fail "the chunks of the non-UTF-8 name are not there"
# An error's text in the JSON result escapes the name as the rest of it does.
"$morvane" glue "$(printf 'caf\xe9.hed')" --to "$(printf 'caf\xe9.bin')" --json >"$out/stdout" 2>/dev/null
grep -q '"text":"glue refused: caf\\udce9.bin exists' "$out/stdout" || fail "JSON error: $(cat "$out/stdout")"
# The result cannot be written: nothing is glued.
"$morvane" glue "$(printf 'caf\xe9.hed')" --to out --json >&- 2>"$out/stderr"
[ $? -eq 1 ] && [ ! -e out ] || fail "a glue with standard output closed: $(cat "$out/stderr")"
# A check's summary escapes a lost chunk's name too.
rm "$(printf 'caf\xe9_2.div')"
"$morvane" check "$(printf 'caf\xe9.hed')" 2>"$out/stderr"
grep -q '^morvane: caf\\xe9_2.div missing' "$out/stderr" || fail "check printed: $(cat "$out/stderr")"
cd / || exit 1

# On a real X server, Qt's options reach the window.
if command -v xvfb-run >/dev/null; then
    xvfb-run -a timeout 3 "$morvane" -style fusion -reverse >"$out/stdout" 2>"$out/stderr"
    status=$?
    [ "$status" -eq 124 ] || fail "'-style fusion -reverse' under X ended with $status"
fi
echo "command line answered"
