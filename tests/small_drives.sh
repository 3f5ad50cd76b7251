#!/bin/sh
# Small drives for the disk-space tests: tmpfs mounts of 1 GiB, 512 MiB and 64 MiB in DIR.
#
#   small_drives.sh mount DIR     (a CTest fixture set-up)
#   small_drives.sh unmount DIR   (its clean-up)
#
# Mounting needs root. Without it nothing is mounted, this says why, and the tests that need the
# drives report themselves as skipped. An empty file .mounted marks a drive that is ready (an
# empty file takes no space, so the free space stays exact).
set -u
action=$1
dir=$2
for size in 1g 512m 64m; do
    drive="$dir/$size"
    case $action in
    mount)
        mkdir -p "$drive"
        mountpoint -q "$drive" && umount "$drive"  # start empty, whatever an earlier run left
        if ! mount -t tmpfs -o "size=$size" tmpfs "$drive" 2>/dev/null; then
            echo "small_drives: can't mount a tmpfs at $drive (mounting needs root); the disk-space tests will be skipped"
            exit 0
        fi
        : >"$drive/.mounted"
        ;;
    unmount)
        mountpoint -q "$drive" && umount "$drive"
        rmdir "$drive" 2>/dev/null
        ;;
    esac
done
exit 0
