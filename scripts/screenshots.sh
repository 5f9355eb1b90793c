#!/usr/bin/env bash
# Starts the real program under Xvfb on a generated fixture library and writes PNGs
# of its windows to build/screenshots/.
set -euo pipefail
build=${1:-build}
out="$build/screenshots"
mkdir -p "$out"
shots() { xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" python3 "scripts/$1" "$build" "$out"; }
[ -x "$build/src/app/lumenkite" ] || exit 0
shots screenshots.py
shots inspector_screenshots.py
shots editor_screenshots.py
# Visual search needs the helper program as well.
if [ -x "$build/src/clip/lumenkite-clip" ]; then
  shots clip_screenshots.py
  shots index_screenshots.py
fi
shots missing_tools_screenshots.py
