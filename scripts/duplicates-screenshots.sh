#!/usr/bin/env bash
# Pictures of the duplicates sheet (both tabs, both schemes) over generated files, written
# to build/screenshots/.
set -euo pipefail
build=${1:-build}
out="$build/screenshots"
mkdir -p "$out"
cmake --build "$build" --target duplicates_pictures >/dev/null
xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" env QT_QPA_PLATFORM=xcb "$build/tests/duplicates_pictures" "$out"
