#!/usr/bin/env bash
# Mounts the slow file system of slow_fs.py (writes at about 10 MB/s, 0.2 s
# per file flush and per rename) over a backing folder, for tests. Root only.
#
# Sourced:
#   . slow_fs.sh
#   reason=$(slow_fs_unavailable) && skip "$reason"
#   trap slow_fs_unmount_all EXIT; trap "exit 143" TERM
#   slow_fs_mount BACKING MOUNTPOINT [BYTES_PER_SECOND]
#   slow_fs_unmount MOUNTPOINT
# Run:
#   bash slow_fs.sh BACKING MOUNTPOINT COMMAND [ARGUMENT...]
#     runs COMMAND with the file system mounted, unmounts it when COMMAND
#     ends, however it ends, and exits with COMMAND's status (77 when the
#     file system cannot be had here).

slow_fs_program=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/slow_fs.py
slow_fs_mountpoints=()
slow_fs_daemons=()

# Prints why the slow file system cannot be mounted here, and succeeds; fails
# when it can be.
slow_fs_unavailable() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "needs root to mount a FUSE file system"
    elif [ ! -c /dev/fuse ]; then
        echo "/dev/fuse is missing"
    elif ! /usr/bin/python3 -c "import fuse" 2>/dev/null; then
        echo "the Python FUSE binding is missing (Debian python3-fuse)"
    else
        return 1
    fi
}

# slow_fs_mount BACKING MOUNTPOINT [BYTES_PER_SECOND]: mounts it and returns
# once the mount is there; prints the file system's output and fails when it
# does not come within 10 seconds.
slow_fs_mount() {
    local backing=$1 mountpoint=$2 rate=${3:-10000000}
    local log
    log=$(mktemp)
    mkdir -p "$backing" "$mountpoint"
    /usr/bin/python3 "$slow_fs_program" "$backing" "$mountpoint" --rate "$rate" >"$log" 2>&1 &
    local daemon=$!
    local _
    for _ in $(seq 600); do
        if mountpoint -q "$mountpoint"; then
            slow_fs_mountpoints+=("$mountpoint")
            slow_fs_daemons+=("$daemon")
            rm -f "$log"
            return 0
        fi
        kill -0 "$daemon" 2>/dev/null || break
        sleep 0.1
    done
    kill "$daemon" 2>/dev/null
    wait "$daemon" 2>/dev/null
    echo "the slow file system did not mount on $mountpoint:"
    cat "$log"
    rm -f "$log"
    return 1
}

# slow_fs_unmount MOUNTPOINT: unmounts it (lazily when it is busy) and ends
# its file system's process.
slow_fs_unmount() {
    local i
    for i in "${!slow_fs_mountpoints[@]}"; do
        [ "${slow_fs_mountpoints[$i]}" = "$1" ] || continue
        local daemon=${slow_fs_daemons[$i]}
        umount "$1" 2>/dev/null || umount -l "$1"
        local _
        for _ in $(seq 50); do
            kill -0 "$daemon" 2>/dev/null || break
            sleep 0.1
        done
        kill "$daemon" 2>/dev/null
        wait "$daemon" 2>/dev/null
        unset 'slow_fs_mountpoints[i]' 'slow_fs_daemons[i]'
    done
    return 0
}

slow_fs_unmount_all() {
    local mountpoint
    for mountpoint in "${slow_fs_mountpoints[@]}"; do
        slow_fs_unmount "$mountpoint"
    done
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -uo pipefail
    if [ $# -lt 3 ]; then
        echo "usage: $0 BACKING MOUNTPOINT COMMAND [ARGUMENT...]" >&2
        exit 2
    fi
    if reason=$(slow_fs_unavailable); then
        echo "SKIPPED: $reason"
        exit 77
    fi
    trap slow_fs_unmount_all EXIT
    trap "exit 130" INT
    trap "exit 143" TERM
    slow_fs_mount "$1" "$2" || exit 77
    shift 2
    "$@"
fi
