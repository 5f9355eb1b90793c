#!/usr/bin/env bash
# Runs every benchmark program; each prints its own ratios against a reference it
# measures in the same run.
set -euo pipefail
build=${1:-build}
status=0
for b in "$build"/bench/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  if [ "$(basename "$b")" = bench_app ] && command -v xvfb-run >/dev/null; then
    # The whole program: the real main window under Xvfb.
    xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" env QT_QPA_PLATFORM=xcb "$b" || status=1
    continue
  fi
  QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$b" || status=1
done
exit $status
