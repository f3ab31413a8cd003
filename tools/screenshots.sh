#!/bin/sh
# Pictures of Kestrova's windows (each page of the main window, and the notice), taken on
# Qt's offscreen platform. Usage: tools/screenshots.sh [build folder] [output folder]
set -e
build=${1:-build}
out=${2:-$build/screenshots}
cmake --build "$build" --target kestrova_screenshots >/dev/null
mkdir -p "$out"
QT_QPA_PLATFORM=offscreen "$build/tools/kestrova_screenshots" "$out"
ls "$out"
