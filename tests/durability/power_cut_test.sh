#!/usr/bin/env bash
# A power cut at the instant a division or a glue reports success loses
# nothing, on a journaled file system (ext4) and on one without a journal
# (ext2), while `split` without `sync` does lose its files.
#
# Each file system lives in an image file attached to a loop device with
# direct I/O, so everything the loop device receives goes straight into the
# image file, with no page cache in between. The snapshot is taken with
# O_DIRECT reads of that file from within the run's onComplete notification
# (morvane_bench_run --at-complete): it holds exactly what the file system
# had sent to its device at that instant; what it still held in memory (file
# data, folders, the loop device's own block cache) is missing, as after a
# power cut. Where the image's file system refuses direct I/O, the loop
# device writes into the image file's page cache and an ordinary read sees
# those same pages, so the snapshot is the same. It is then mounted (ext4
# replays its journal; ext2 is repaired with e2fsck -y first) and its files
# compared byte for byte. The test runs alone: a sync(2) by another program
# between split and its snapshot would save split's files.
#
# The same snapshot is also taken at every step of a run's commit (just
# before each rename and just after each flush of the folder, through
# morvane_bench_run --at-rename N and --at-flush N), for a division of a few
# chunks into a fresh folder and over an older set of the same names, and
# for a glue into a fresh folder and over an older file. Each snapshot is
# then settled as the next run of those names (or opening the set) settles
# it (morvane_bench_run settle), and must leave under the final names
# either the whole new set or the whole older one (in a fresh folder: the
# new files without their header, or none); no header is left over files
# that are not its own or without them, and no older file stays set aside.
# Files under unfinished names may remain.
#
#   power_cut_test.sh RUNNER      (RUNNER: the morvane_bench_run program)
# Exits 77 (skipped) without root, loop devices or the e2fsprogs tools.
set -euo pipefail
runner=$1
skip() {
    echo "SKIPPED: $*"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root to attach loop devices and mount"
for tool in losetup mount mkfs.ext4 mkfs.ext2 e2fsck split cmp; do
    command -v "$tool" >/dev/null || skip "$tool is missing (Debian e2fsprogs, mount, coreutils)"
done

work=$(mktemp -d /var/tmp/morvane-power-cut.XXXXXX)
mounts=()
loops=()
cleanup() {
    local m l
    for m in "${mounts[@]}"; do mountpoint -q "$m" && { umount "$m" || umount -l "$m"; } || true; done
    for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# attach IMAGE MOUNTPOINT: mounts IMAGE through a loop device with direct I/O.
attach() {
    local loop
    loop=$(losetup --find --show --direct-io=on "$1") || return 1
    loops+=("$loop")
    mkdir -p "$2"
    mount "$loop" "$2" || return 1
    mounts+=("$2")
}
detach() {
    umount "$1"
    losetup -d "${loops[-1]}"
    unset 'loops[-1]' 'mounts[-1]'
}

# The source: 6 MiB that end in the middle of a page, in chunks of 1,000,000
# bytes (seven chunks, the last of 291,713 bytes).
source=$work/source.bin
head -c $((6 * 1048576 + 1)) /dev/urandom >"$source"
chunk=1000000
chunks=7

# snapshot NAME: the command that copies the live image as it stands.
snapshot() {
    local dd="dd if=$work/live.img of=$work/$1.img bs=1M status=none"
    echo "$dd iflag=direct 2>/dev/null || $dd"
}

# mount_snapshot FS NAME: mounts the snapshot NAME at $work/NAME after a
# power cut's recovery.
mount_snapshot() {
    if [ "$1" = ext2 ]; then
        local rc=0
        e2fsck -fy "$work/$2.img" >"$work/$2.fsck" 2>&1 || rc=$?
        [ "$rc" -lt 4 ] || { cat "$work/$2.fsck"; echo "e2fsck could not repair $2"; return 1; }
    fi
    attach "$work/$2.img" "$work/$2"
}

# same FILE EXPECTED: FILE exists and holds EXPECTED's bytes.
same() {
    [ -f "$1" ] && cmp -s "$1" "$2"
}

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The commit cuts' sets: a new one of three chunks and an older one of the
# same names with other bytes, divided outside the images.
cut_chunk=100000
mkdir "$work/new" "$work/old" "$work/new_set" "$work/old_set" "$work/new_glue" "$work/old_glue"
head -c $((2 * cut_chunk + 50001)) /dev/urandom >"$work/new/src.bin"
head -c $((2 * cut_chunk + 30000)) /dev/urandom >"$work/old/src.bin"
for age in new old; do
    "$runner" divide "$work/$age/src.bin" "$work/${age}_set" p $cut_chunk
    cp "$work/$age/src.bin" "$work/${age}_glue/glued.bin"
done
division_finals=(p_1.div p_2.div p_3.div p.sha256 p.hed)

# judge FOLDER NEW OLD FINAL...: sets $state to what FOLDER holds under the
# FINAL names (the last one the header), each the bytes of its namesake in
# NEW or OLD, or absent, and $wrong to what a cut must not leave: other
# bytes under a final name, a file of another name than a final name or its
# unfinished form, part of the new set under a header (new files without a
# header are what a cut between the renames leaves), or an older header
# without the older files.
judge() {
    local folder=$1 new=$2 old=$3
    shift 3
    local final entry name marks="" unfinished=0
    wrong=""
    for final in "$@"; do
        if [ ! -e "$folder/$final" ]; then
            marks+=-
        elif cmp -s "$folder/$final" "$new/$final"; then
            marks+=N
        elif [ -n "$old" ] && cmp -s "$folder/$final" "$old/$final"; then
            marks+=O
        else
            marks+=X
            wrong+=" $final holds other bytes;"
        fi
    done
    for entry in "$folder"/* "$folder"/.*; do
        name=${entry##*/}
        case $name in . | .. | '*' | '.*') continue ;; esac
        [[ " $* " == *" $name "* ]] && continue
        for final in "$@"; do
            [[ $name == ."$final".*.morvane-part ]] && unfinished=$((unfinished + 1)) && continue 2
        done
        wrong+=" unexpected file $name;"
    done
    local all=${#marks} rest=${marks%?} i
    [[ $marks != *N* || $marks =~ ^N+$ || ${marks: -1} == - ]] || wrong+=" part of the new set;"
    [[ $marks != *N || $marks =~ ^N+$ ]] || wrong+=" the new header without all its files;"
    [[ $marks != *O || $marks =~ ^O+$ ]] || wrong+=" the older header over other files or none;"
    [[ -z $old || $marks =~ ^N+$ || $marks =~ ^O+$ ]] || wrong+=" neither the new nor the older set;"
    if [[ $marks =~ ^N+$ ]]; then
        state="the new set"
    elif [[ $marks =~ ^-+$ ]]; then
        state="nothing"
    elif [[ $marks =~ ^O+$ ]]; then
        state="the older set"
    elif [ "$all" -gt 1 ] && [[ $rest =~ ^O+$ ]] && [ "${marks: -1}" = - ]; then
        state="the older set without its header"
    else
        state=""
        for ((i = 0; i < all; i++)); do state+="${*:i+1:1}=${marks:i:1} "; done
        state="${state% } (N new, O older, - absent)"
    fi
    [ $unfinished -eq 0 ] || state+=", $unfinished unfinished"
}

# commit_cuts FS KIND OLD: KIND (division or glue) cut before each rename and
# after each folder flush of its commit, each time in a new folder of the
# live image that first receives OLD's files (none when OLD is empty).
commit_cuts() {
    local fs=$1 kind=$2 old=$3 step n rc rel where new finals cut image
    local case="$kind into a fresh folder"
    if [ "$kind" = division ]; then
        new=$work/new_set finals=("${division_finals[@]}")
        [ -z "$old" ] || case="division over an older set"
    else
        new=$work/new_glue finals=(glued.bin)
        [ -z "$old" ] || case="glue over an older file"
    fi
    for step in rename flush; do
        n=1
        while :; do
            rel=$kind-${old:+over-}$step-$n
            mkdir "$live/$rel"
            [ -z "$old" ] || cp "$old"/* "$live/$rel"/
            sync -f "$live"
            # Two snapshots: as the step found the device, and with all the
            # run did before the step written (a journal commit or
            # writeback that came just then).
            cut="set -e; $(snapshot cut); sync -f '$live'; $(snapshot synced)"
            rc=0
            if [ "$kind" = division ]; then
                "$runner" divide "$work/new/src.bin" "$live/$rel" p $cut_chunk \
                    --at-$step $n "$cut" 2>/dev/null || rc=$?
            else
                "$runner" glue "$work/new_set/p.hed" "$live/$rel/glued.bin" \
                    --at-$step $n "$cut" 2>/dev/null || rc=$?
            fi
            [ $rc -ne 3 ] || break
            [ $rc -eq 0 ] || fail "$fs: $case, $step $n: the run failed ($rc)"
            for image in cut synced; do
                [ $rc -eq 0 ] || break
                where="before rename $n"
                [ $step = rename ] || where="after folder flush $n"
                [ $image = cut ] || where+=", all before it written"
                if mount_snapshot "$fs" $image; then
                    "$runner" settle "$work/$image/$rel" "${finals[-1]}"
                    judge "$work/$image/$rel" "$new" "$old" "${finals[@]}"
                    echo "$fs: $case, $where: $state"
                    [ -z "$wrong" ] || fail "$fs: $case, $where:$wrong"
                    detach "$work/$image"
                else
                    fail "$fs: $case, $where: the snapshot could not be mounted"
                fi
            done
            rm -f "$work"/cut.* "$work"/synced.*
            n=$((n + 1))
        done
        [ $n -gt 1 ] || fail "$fs: $case made no $step"
    done
}

for fs in ext4 ext2; do
    echo "== $fs"
    rm -f "$work"/*.img
    truncate -s 64M "$work/live.img"
    "mkfs.$fs" -q -F "$work/live.img"
    attach "$work/live.img" "$work/live" || skip "cannot attach or mount a loop device here"
    live=$work/live
    mkdir "$live/div" "$live/split"
    sync -f "$live"

    # split without sync: its files must be lost, or the test cannot tell.
    split -b $chunk -a 1 "$source" "$live/split/x"
    sh -c "$(snapshot split)"
    "$runner" divide "$source" "$live/div" p $chunk --at-complete "$(snapshot divided)"
    "$runner" glue "$live/div/p.hed" "$live/glued.bin" --at-complete "$(snapshot glued)"

    commit_cuts $fs division ""
    commit_cuts $fs division "$work/old_set"
    commit_cuts $fs glue ""
    commit_cuts $fs glue "$work/old_glue"
    cp "$live/div/p.hed" "$work/p.hed"
    detach "$live"

    mount_snapshot $fs split
    if cat "$work"/split/split/x* 2>/dev/null | cmp -s - "$source"; then
        fail "$fs: split without sync lost nothing; this test would not notice a missing flush"
    fi
    detach "$work/split"

    mount_snapshot $fs divided
    same "$work/divided/div/p.hed" "$work/p.hed" || fail "$fs: the header was lost or damaged"
    for k in $(seq 1 $chunks); do
        dd if="$source" of="$work/expected" bs=$chunk skip=$((k - 1)) count=1 iflag=fullblock \
            status=none
        same "$work/divided/div/p_$k.div" "$work/expected" || fail "$fs: chunk $k was lost or damaged"
    done
    detach "$work/divided"

    mount_snapshot $fs glued
    same "$work/glued/glued.bin" "$source" || fail "$fs: the glued file was lost or damaged"
    detach "$work/glued"
done

[ "$failures" -eq 0 ] || exit 1
echo "Nothing was lost at a power cut after success; split without sync lost its files."
