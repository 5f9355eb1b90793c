#!/usr/bin/env bash
# Pictures of the storage insights sheet and the move sheet over a fixture library, in both
# schemes, and of the compressor's summary and the trim editor after real runs, written to
# build/screenshots/.
set -euo pipefail
build=${1:-build}
out="$build/screenshots"
mkdir -p "$out"
cmake --build "$build" --target sheet_pictures >/dev/null
xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" env QT_QPA_PLATFORM=xcb "$build/tests/sheet_pictures" "$out"
cmake --build "$build" --target edit_pictures >/dev/null
xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" env QT_QPA_PLATFORM=xcb "$build/tests/edit_pictures" "$out"
