#!/usr/bin/env bash
# Builds and runs the picture programs named after BUILD_DIR (tests/ui/pictures: pane,
# duplicates, sheet, edit) under Xvfb, each writing its PNGs to BUILD_DIR/screenshots/.
# usage: picture-programs.sh BUILD_DIR PROGRAM...
set -euo pipefail
build=${1:-build}
shift
out="$build/screenshots"
mkdir -p "$out"
for program in "$@"; do
  cmake --build "$build" --target "$program" >/dev/null
  xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" env QT_QPA_PLATFORM=xcb "$build/tests/$program" "$out"
done
