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
    for m in "${mounts[@]}"; do mountpoint -q "$m" && umount "$m" || true; done
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
