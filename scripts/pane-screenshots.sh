#!/usr/bin/env bash
# Pictures of the tree pane in the main window over a fixture library, in both schemes,
# written to build/screenshots/.
set -euo pipefail
build=${1:-build}
out="$build/screenshots"
mkdir -p "$out"
cmake --build "$build" --target pane_pictures >/dev/null
xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" env QT_QPA_PLATFORM=xcb "$build/tests/pane_pictures" "$out"
