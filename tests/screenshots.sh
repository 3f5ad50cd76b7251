#!/usr/bin/env bash
# Saves PNG pictures of the setup window into OUT: rest.png (as it starts), busy.png (part way
# through a run, details shown) and failure.png (a failed run with its warning), and the same at
# 150 % (144 DPI, the scale of many laptops) as rest-144dpi.png and so on.
#
#   tests/screenshots.sh [BUILD [OUT]]    BUILD: a windows build (build/windows),
#                                         OUT: build/screenshots
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/windows}
out=$(realpath -m "${2:-build/screenshots}")
mkdir -p "$out"
cmake --build "$build" --config Debug --target window_screenshots >/dev/null
for dpi in 96 144; do
    # Wine sees the host's files on drive Z:.
    WINE_RUN_DPI=$dpi cmake/wine-run "$build/tests/Debug/window_screenshots.exe" "Z:${out//\//\\}"
    suffix=
    [ "$dpi" = 96 ] || suffix=-${dpi}dpi
    for name in rest busy failure; do
        convert "$out/$name.bmp" "$out/$name$suffix.png"
        rm "$out/$name.bmp"
    done
done
echo "Screenshots in $out"
