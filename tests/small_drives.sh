#!/usr/bin/env bash
# Small drives for the disk-space tests: tmpfs mounts of 1 GiB, 512 MiB and 64 MiB in
# BUILD/small-drives, which the build folder's Wine prefix shows as drives S:, T: and U:. Reached
# through Z:, their paths would be as long as the build folder's, and so would their install
# folders, which may have at most 100 characters.
#
#   small_drives.sh mount BUILD     (a CTest fixture set-up)
#   small_drives.sh unmount BUILD   (its clean-up)
#
# Mounting needs root. Without it nothing is mounted, this says why, and the tests that need the
# drives report themselves as skipped. An empty file .mounted marks a drive that is ready (an
# empty file takes no space, so the free space stays exact).
set -u
action=$1
. "$(dirname "$0")/../cmake/wine-prefix" "$2"  # the prefix, made first if need be
for mapping in s:1g t:512m u:64m; do
    size=${mapping#*:}
    drive="$2/small-drives/$size" letter="$WINEPREFIX/dosdevices/${mapping%:*}:"
    case $action in
    mount)
        mkdir -p "$drive"
        mountpoint -q "$drive" && umount "$drive"  # start empty, whatever an earlier run left
        if ! mount -t tmpfs -o "size=$size" tmpfs "$drive" 2>/dev/null; then
            echo "small_drives: can't mount a tmpfs at $drive (mounting needs root); the disk-space tests will be skipped"
            exit 0
        fi
        : >"$drive/.mounted"
        ln -sfn "$drive" "$letter"
        ;;
    unmount)
        rm -f "$letter"
        mountpoint -q "$drive" && umount "$drive"
        rmdir "$drive" 2>/dev/null
        ;;
    esac
done
exit 0
