#!/usr/bin/env bash
# A division or a glue killed (SIGKILL) in each phase of its run leaves only
# what a run that never started would, plus leftovers whose names say they
# are unfinished: no output under its final name before the commit, a final
# name only ever holding its complete bytes (or, for the glued file, the
# bytes it held before), never a header without its chunks and checksum
# file, and other programs' files of similar names untouched. The next
# complete run of the same names succeeds and leaves exactly its final files.
#
# Phases: a division is killed while writing a chunk, while writing the
# checksum file, in its flush and in its commit; a glue while writing, in
# its flush and in its commit. A phase is caught by polling the folder for
# its files, the bytes the run has written (/proc/PID/io, for files without
# a name) and the system call its threads are in (/proc/PID/task/*/syscall):
# flushes are fsync, fdatasync and syncfs; the commit is a rename or a link,
# or the first final name. On the slow file system (slow_fs.py: about
# 10 MB/s, 0.2 s per file flush and per rename) the phases last long enough
# to be caught; on a loop-mounted ext4 image the run is killed at or after
# the moment its phase is seen. A phase the run never showed is reported as
# missed.
#
# The command line (MORVANE) is interrupted (SIGINT) in the same phases, and
# its check and repair while reading, rebuilding, flushing and committing:
# it stops its run as the window's Stop does and exits with 130, leaving the
# folder exactly as it was; a signal that comes once the commit's renames
# have begun lets the run complete, with status 0.
#
#   kill_test.sh RUNNER [MORVANE]   (RUNNER: the morvane_bench_run program)
# Exits 77 (skipped) without root, or when neither file system can be had.
# KEEP_WORK=1 keeps the work folder in /var/tmp for a look afterwards.
set -uo pipefail
runner=$1
morvane=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/slow_fs.sh"

# How the engine names an output it has not finished: hidden, the final
# name, a random part, a suffix that says so (printf format of the final name).
unfinished_format='.%s.*.morvane-part'

skip() {
    echo "SKIPPED: $*"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root to mount file systems"
for tool in gcc sha256sum stat cmp; do
    command -v "$tool" >/dev/null || skip "$tool is missing"
done

work=$(mktemp -d /var/tmp/morvane-kill.XXXXXX)
loop=""
cleanup() {
    slow_fs_unmount_all
    mountpoint -q "$work/ext4" && umount "$work/ext4"
    [ -z "$loop" ] || losetup -d "$loop" 2>/dev/null
    [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
trap "exit 130" INT
trap "exit 143" TERM

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The system calls that flush and those that rename, by number.
read -r -a flush_calls <<<"$(printf '#include <sys/syscall.h>\nSYS_fsync SYS_fdatasync SYS_syncfs\n' |
    gcc -E -P - | tail -n 1)"
read -r -a commit_calls <<<"$(printf '#include <sys/syscall.h>\nSYS_rename SYS_renameat SYS_renameat2 SYS_linkat\n' |
    gcc -E -P - | tail -n 1)"

# A pause without a process of its own: a read that times out.
mkfifo "$work/tick"
exec {tick}<>"$work/tick"

# The source, divided once on a plain folder: the bytes every final file must hold.
source=$work/source.bin
chunk=6000000
prefix=p
source_size=$((20 * 1048576 + 12345))
head -c $source_size /dev/urandom >"$source"
mkdir "$work/reference"
"$runner" divide "$source" "$work/reference" $prefix $chunk || exit 1
old_output=$work/old_output.bin
head -c 1000 /dev/urandom >"$old_output"
division_finals=()
for f in "$work"/reference/*; do division_finals+=("${f##*/}"); done
echo "a division writes: ${division_finals[*]}"

# Other programs' files whose names look like the runs' own.
foreign_of_division=("$prefix"_1.div.bak ".$prefix.hed.swp" "$prefix"_1.div~ ".${prefix}_2.div.kate-swp"
    "$prefix.sha256.orig")
foreign_of_glue=(glued.bin.bak .glued.bin.swp glued.bin~)

# snapshot FOLDER NAME...: the names' bytes, inodes and times.
snapshot() {
    local folder=$1
    shift
    (cd "$folder" && for name in "$@"; do
        stat -c '%n %i %s %Y' -- "$name" && sha256sum -- "$name"
    done) 2>&1
}

# in_call PID CALL...: one of the run's threads is in one of those system calls.
in_call() {
    local pid=$1 task nr rest call
    shift
    for task in /proc/"$pid"/task/*/syscall; do
        read -r nr rest 2>/dev/null <"$task" || continue
        for call in "$@"; do [ "$nr" = "$call" ] && return 0; done
    done
    return 1
}

# written FOLDER FINAL [ANY]: FINAL has bytes in FOLDER, unfinished or, with
# ANY, also under its own name.
written() {
    local pattern file
    # shellcheck disable=SC2059
    printf -v pattern "$unfinished_format" "$2"
    for file in "$1"/$pattern ${3:+"$1/$2"}; do
        [ -s "$file" ] && return 0
    done
    return 1
}

# wrote PID BYTES [KEY]: the run has written (with KEY rchar: read) at
# least BYTES, to files of any name or none (O_TMPFILE).
wrote() {
    local key value
    while read -r key value; do
        [ "$key" = "${3:-wchar}:" ] && [ "$value" -ge "$2" ] && return 0
    done 2>/dev/null <"/proc/$1/io"
    return 1
}

# caught PHASE PID POLL: the run PID is in PHASE; POLL is its folder as
# written (the backing folder of a FUSE mount).
caught() {
    local phase=$1 pid=$2 poll=$3 name
    case $phase in
    chunk) written "$poll" "${prefix}_2.div" any || wrote "$pid" $((chunk * 3 / 2)) ;;
    checksum) written "$poll" "$prefix.sha256" any || wrote "$pid" "$source_size" ;;
    flush) in_call "$pid" "${flush_calls[@]}" ;;
    commit)
        in_call "$pid" "${commit_calls[@]}" && return 0
        for name in "${division_finals[@]}"; do [ -e "$poll/$name" ] && return 0; done
        return 1
        ;;
    write)
        written "$poll" glued.bin || [ "$poll/glued.bin" -nt "$work/marker" ] ||
            wrote "$pid" $((source_size / 2))
        ;;
    glue-commit) in_call "$pid" "${commit_calls[@]}" || [ "$poll/glued.bin" -nt "$work/marker" ] ;;
    read) wrote "$pid" 1048576 rchar ;;
    rebuild) written "$poll" "${prefix}_2.div" || wrote "$pid" $((chunk / 2)) ;;
    repair-commit) in_call "$pid" "${commit_calls[@]}" ;;
    esac
}

# kill_in PHASE POLL COMMAND...: runs COMMAND and kills it once PHASE is
# seen. Prints "caught" or "missed" (the run ended first). With SIGNAL set,
# sends that signal instead and prints "caught" or "missed" and the status.
kill_in() {
    local phase=$1 poll=$2 signal=${SIGNAL:-KILL}
    shift 2
    "$@" >"$work/run.log" 2>&1 &
    local pid=$! seen=missed
    while kill -0 "$pid" 2>/dev/null; do
        if caught "$phase" "$pid" "$poll"; then
            kill -"$signal" "$pid" 2>/dev/null && seen=caught
            break
        fi
        read -r -t 0.001 -u "$tick"
    done
    wait "$pid" 2>/dev/null
    local status=$?
    if [ "$signal" = KILL ]; then
        [ $status -eq 137 ] && echo caught || echo missed
    else
        echo "$seen $status"
    fi
}

# is_unfinished NAME FINAL...: NAME is the unfinished form of one of FINAL.
is_unfinished() {
    local name=$1 final pattern
    shift
    for final in "$@"; do
        # shellcheck disable=SC2059
        printf -v pattern "$unfinished_format" "$final"
        # shellcheck disable=SC2053
        [[ $name == $pattern ]] && return 0
    done
    return 1
}

# is_set_aside NAME FINAL...: NAME is an older file of one of FINAL set aside
# by a commit, or that commit's note; the next run of the names settles them.
is_set_aside() {
    local name=$1 final
    shift
    for final in "$@"; do
        [[ $name == ."$final".*.morvane-old || $name == ."$final".*.morvane-commit ]] && return 0
    done
    return 1
}

# check_folder CASE FOLDER EXPECTED_FOLDER FOREIGN_SNAPSHOT STRICT FINAL...:
# after a kill, FOLDER holds besides its foreign files (unchanged since
# FOREIGN_SNAPSHOT) only FINAL names, their unfinished and set-aside forms; a final
# name holds the bytes of its namesake in EXPECTED_FOLDER or, for the glued
# file, those of $old_output. When one final name has its new bytes, every
# other one has them too, under its own name or unfinished (all was written
# before the commit began); the header comes last. STRICT: the kill came
# before the commit, so no final name has new bytes.
check_folder() {
    local case=$1 folder=$2 expected=$3 foreign=$4 strict=$5
    shift 5
    local finals=("$@") entry name final committed=() pending=()
    [ "$(snapshot "$folder" "${foreign_names[@]}")" = "$foreign" ] ||
        fail "$case: another program's file was changed or removed"
    for entry in "$folder"/* "$folder"/.*; do
        name=${entry##*/}
        case $name in . | .. | '*' | '.*') continue ;; esac
        [[ " ${foreign_names[*]} " == *" $name "* ]] && continue
        if [[ " ${finals[*]} " == *" $name "* ]]; then
            if cmp -s "$entry" "$expected/$name"; then
                committed+=("$name")
            elif ! { [ "$name" = glued.bin ] && cmp -s "$entry" "$old_output"; }; then
                fail "$case: $name is under its final name with other bytes than its own"
            fi
        elif is_unfinished "$name" "${finals[@]}"; then
            pending+=("$name")
        elif ! is_set_aside "$name" "${finals[@]}"; then
            fail "$case: unexpected file $name"
        fi
    done
    [ ${#committed[@]} -eq 0 ] && return 0
    [ "$strict" = no ] || fail "$case: killed before the commit, yet ${committed[*]} under final names"
    local incomplete=() missing=()
    for final in "${finals[@]}"; do
        [[ " ${committed[*]} " == *" $final "* ]] && continue
        missing+=("$final")
        [ "$final" != "$prefix.hed" ] || continue
        local ready=no leftover
        for leftover in "${pending[@]}"; do
            is_unfinished "$leftover" "$final" && cmp -s "$folder/$leftover" "$expected/$final" &&
                ready=yes
        done
        [ $ready = yes ] || incomplete+=("$final")
    done
    [ ${#incomplete[@]} -eq 0 ] ||
        fail "$case: ${committed[*]} committed while ${incomplete[*]} not completely written"
    [[ " ${committed[*]} " != *" $prefix.hed "* ]] || [ ${#missing[@]} -eq 0 ] ||
        fail "$case: the header is there without ${missing[*]}"
}

# check_complete CASE FOLDER EXPECTED_FOLDER FINAL...: FOLDER holds exactly
# its foreign files and the FINAL names, with their bytes.
check_complete() {
    local case=$1 folder=$2 expected=$3
    shift 3
    local want have
    want=$(printf '%s ' "${foreign_names[@]}" "$@" | tr ' ' '\n' | sort | tr '\n' ' ')
    have=$(find "$folder" -mindepth 1 -printf '%f\n' | sort | tr '\n' ' ')
    [ "$want" = "$have" ] ||
        fail "$case: after a complete run the folder holds: $have(expected: $want)"
    local final
    for final in "$@"; do
        cmp -s "$folder/$final" "$expected/$final" || fail "$case: the complete run's $final is wrong"
    done
}

# run_cases FS MOUNTED BACKING: the kills on one file system, mounted at
# MOUNTED and written at BACKING (the same folder unless it is a FUSE mount).
run_cases() {
    local fs=$1 mounted=$2 backing=$3 strict_phases=$4
    local phase result case foreign set=$mounted/set
    echo "== $fs"
    mkdir "$set"
    "$runner" divide "$source" "$set" $prefix $chunk || { fail "$fs: the glue's set"; return; }

    foreign_names=("${foreign_of_division[@]}")
    for phase in chunk checksum flush commit; do
        case="$fs: division killed in $phase"
        local folder=div-$phase
        mkdir "$mounted/$folder"
        for name in "${foreign_names[@]}"; do echo "$name's own" >"$mounted/$folder/$name"; done
        foreign=$(snapshot "$mounted/$folder" "${foreign_names[@]}")
        result=$(kill_in $phase "$backing/$folder" \
            "$runner" divide "$source" "$mounted/$folder" $prefix $chunk)
        echo "$case: $result"
        [ "$result" = caught ] || [ "$phase" != chunk ] || fail "$case: the run ended before it"
        local strict=no
        [ "$strict_phases" = yes ] && [ "$result" = caught ] &&
            [[ $phase == chunk || $phase == checksum ]] && strict=yes
        check_folder "$case" "$mounted/$folder" "$work/reference" "$foreign" $strict \
            "${division_finals[@]}"
        "$runner" divide "$source" "$mounted/$folder" $prefix $chunk ||
            fail "$case: the next complete division failed"
        check_complete "$case" "$mounted/$folder" "$work/reference" "${division_finals[@]}"
    done

    foreign_names=("${foreign_of_glue[@]}")
    local set_before
    set_before=$(snapshot "$set" "${division_finals[@]}")
    mkdir "$work/expected_glue"
    cp "$source" "$work/expected_glue/glued.bin"
    for phase in write flush glue-commit; do
        case="$fs: glue killed in $phase"
        local folder=glue-$phase
        mkdir "$mounted/$folder"
        for name in "${foreign_names[@]}"; do echo "$name's own" >"$mounted/$folder/$name"; done
        cp "$old_output" "$mounted/$folder/glued.bin"
        touch -d "-2 hours" "$mounted/$folder/glued.bin"
        touch -d "-1 hour" "$work/marker"
        foreign=$(snapshot "$mounted/$folder" "${foreign_names[@]}")
        result=$(kill_in $phase "$backing/$folder" \
            "$runner" glue "$set/$prefix.hed" "$mounted/$folder/glued.bin")
        echo "$case: $result"
        [ "$result" = caught ] || [ "$phase" != write ] || fail "$case: the run ended before it"
        local strict=no
        [ "$strict_phases" = yes ] && [ "$result" = caught ] && [ $phase = write ] && strict=yes
        check_folder "$case" "$mounted/$folder" "$work/expected_glue" "$foreign" $strict glued.bin
        [ "$(snapshot "$set" "${division_finals[@]}")" = "$set_before" ] ||
            fail "$case: the glued set was changed"
        "$runner" glue "$set/$prefix.hed" "$mounted/$folder/glued.bin" ||
            fail "$case: the next complete glue failed"
        check_complete "$case" "$mounted/$folder" "$work/expected_glue" glued.bin
    done
    [ -z "$morvane" ] || interrupt_cases "$fs" "$mounted" "$backing" "$strict_phases"
    [ -z "$morvane" ] || interrupt_set_cases "$fs" "$mounted" "$backing" "$strict_phases"
    rm -rf "$work/expected_glue"
}

# check_interrupted CASE FOLDER RESULT FOREIGN OLD EXPECTED_FOLDER FINAL...:
# after SIGINT (RESULT: "caught STATUS") FOLDER holds its foreign files
# unchanged and, with status 130, nothing else (but OLD, the glued file's
# old bytes, when given); with status 0 (the signal came once the commit
# had begun, or the run ended first), the complete run's FINAL files.
# STRICT: the signal came before the commit, so only 130 will do.
check_interrupted() {
    local case=$1 folder=$2 result=$3 foreign=$4 old=$5 expected=$6 strict=$7
    shift 7
    echo "$case: $result"
    [ "$strict" = no ] || [ "$result" = "caught 130" ] || fail "$case: $result, not stopped with 130"
    case $result in
    "caught 130")
        [ "$(snapshot "$folder" "${foreign_names[@]}")" = "$foreign" ] ||
            fail "$case: another program's file was changed or removed"
        local want have
        want=$(printf '%s\n' "${foreign_names[@]}" ${old:+glued.bin} | sort | tr '\n' ' ')
        have=$(find "$folder" -mindepth 1 -printf '%f\n' | sort | tr '\n' ' ')
        [ "$want" = "$have" ] || fail "$case: the folder holds $have(before: $want)"
        [ -z "$old" ] || cmp -s "$folder/glued.bin" "$old" || fail "$case: the old glued.bin changed"
        ;;
    *" 0") check_complete "$case" "$folder" "$expected" "$@" ;;
    *) fail "$case: $result, not stopped with 130 (or completed with 0 in the commit)" ;;
    esac
}

# interrupt_cases FS MOUNTED BACKING STRICT_PHASES: the command line
# interrupted (SIGINT) in each phase of a division and of a glue.
interrupt_cases() {
    local fs=$1 mounted=$2 backing=$3 strict_phases=$4 phase folder result foreign strict
    foreign_names=("${foreign_of_division[@]}")
    for phase in chunk checksum flush commit; do
        folder=int-div-$phase
        mkdir "$mounted/$folder"
        for name in "${foreign_names[@]}"; do echo "$name's own" >"$mounted/$folder/$name"; done
        foreign=$(snapshot "$mounted/$folder" "${foreign_names[@]}")
        result=$(SIGNAL=INT kill_in $phase "$backing/$folder" \
            "$morvane" divide "$source" --size $chunk --to "$mounted/$folder" --prefix $prefix)
        strict=no
        [ "$strict_phases" = yes ] && [ $phase = chunk ] && strict=yes
        check_interrupted "$fs: morvane divide interrupted in $phase" "$mounted/$folder" "$result" \
            "$foreign" "" "$work/reference" $strict "${division_finals[@]}"
    done
    foreign_names=("${foreign_of_glue[@]}")
    for phase in write flush glue-commit; do
        folder=int-glue-$phase
        mkdir "$mounted/$folder"
        for name in "${foreign_names[@]}"; do echo "$name's own" >"$mounted/$folder/$name"; done
        cp "$old_output" "$mounted/$folder/glued.bin"
        touch -d "-2 hours" "$mounted/$folder/glued.bin"
        touch -d "-1 hour" "$work/marker"
        foreign=$(snapshot "$mounted/$folder" "${foreign_names[@]}")
        result=$(SIGNAL=INT kill_in $phase "$backing/$folder" \
            "$morvane" glue "$mounted/set/$prefix.hed" --to "$mounted/$folder/glued.bin" --force)
        strict=no
        [ "$strict_phases" = yes ] && [ $phase = write ] && strict=yes
        check_interrupted "$fs: morvane glue interrupted in $phase" "$mounted/$folder" "$result" \
            "$foreign" "$old_output" "$work/expected_glue" $strict glued.bin
    done
}

# interrupt_set_cases FS MOUNTED BACKING STRICT_PHASES: the command line's
# check and repair of a set with a damaged chunk interrupted (SIGINT) in
# each phase: with 130 the set is as it was, to its inodes; a repair that
# completed (0) leaves it whole.
interrupt_set_cases() {
    local fs=$1 set=$2/int-set backing=$3/int-set strict_phases=$4 names=() name run result before
    mkdir "$set" && "$morvane" divide "$source" --size $chunk --to "$set" --prefix $prefix \
        --recovery 1 -q || { fail "$fs: the repair's set"; return; }
    mkdir "$work/whole_set" && cp "$set"/* "$work/whole_set/"
    for name in "$work/whole_set"/*; do names+=("${name##*/}"); done
    foreign_names=()
    for run in check:read repair:read repair:rebuild repair:flush repair:repair-commit; do
        local command=${run%:*} phase=${run#*:} case="$fs: morvane ${run%:*} interrupted in ${run#*:}"
        head -c 1000 /dev/urandom | dd of="$set/${prefix}_2.div" conv=notrunc status=none
        before=$(snapshot "$set" "${names[@]}" && ls -A "$set")
        result=$(SIGNAL=INT kill_in "$phase" "$backing" "$morvane" "$command" "$set/$prefix.hed")
        echo "$case: $result"
        [ "$strict_phases" = no ] || [[ $phase != read && $phase != rebuild ]] ||
            [ "$result" = "caught 130" ] || fail "$case: $result, not stopped with 130"
        case "$command $result" in
        *" 130") [ "$(snapshot "$set" "${names[@]}" && ls -A "$set")" = "$before" ] ||
            fail "$case: the set changed" ;;
        "repair "*" 0") check_complete "$case" "$set" "$work/whole_set" "${names[@]}" ;;
        "check missed 3") ;;
        *) fail "$case: $result" ;;
        esac
    done
    rm -rf "$work/whole_set"
}

ran=0
if reason=$(slow_fs_unavailable); then
    echo "not on the slow file system: $reason"
else
    mkdir "$work/backing"
    if slow_fs_mount "$work/backing" "$work/slow"; then
        run_cases "slow FUSE" "$work/slow" "$work/backing" yes
        slow_fs_unmount "$work/slow"
        ran=$((ran + 1))
    else
        echo "not on the slow file system: it could not be mounted"
    fi
fi

if command -v losetup >/dev/null && command -v mkfs.ext4 >/dev/null; then
    truncate -s 384M "$work/ext4.img"
    mkfs.ext4 -q -F "$work/ext4.img"
    if loop=$(losetup --find --show --direct-io=on "$work/ext4.img") &&
        mkdir "$work/ext4" && mount "$loop" "$work/ext4"; then
        run_cases ext4 "$work/ext4" "$work/ext4" no
        ran=$((ran + 1))
    else
        echo "not on ext4: the image could not be attached or mounted"
    fi
else
    echo "not on ext4: losetup or mkfs.ext4 is missing (Debian mount, e2fsprogs)"
fi

[ $ran -gt 0 ] || skip "neither file system could be had here"
[ "$failures" -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "Every kill left nothing under a final name that was not complete, and the next run finished."
