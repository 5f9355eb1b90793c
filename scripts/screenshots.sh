#!/usr/bin/env bash
# Starts the real program under Xvfb on a generated fixture library and writes PNGs
# of its windows to build/screenshots/.
set -euo pipefail
build=${1:-build}
out="$build/screenshots"
mkdir -p "$out"
if [ -x "$build/src/app/lumenkite" ]; then
  xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" python3 scripts/screenshots.py "$build" "$out"
fi
if [ -x "$build/src/app/lumenkite" ]; then
  xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" python3 scripts/inspector_screenshots.py "$build" "$out"
fi
if [ -x "$build/src/app/lumenkite" ]; then
  xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" python3 scripts/editor_screenshots.py "$build" "$out"
fi
if [ -x "$build/src/app/lumenkite" ] && [ -x "$build/src/clip/lumenkite-clip" ]; then
  xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" python3 scripts/clip_screenshots.py "$build" "$out"
fi
if [ -x "$build/src/app/lumenkite" ] && [ -x "$build/src/clip/lumenkite-clip" ]; then
  xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" python3 scripts/index_screenshots.py "$build" "$out"
fi
if [ -x "$build/src/app/lumenkite" ]; then
  xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" python3 scripts/missing_tools_screenshots.py "$build" "$out"
fi
