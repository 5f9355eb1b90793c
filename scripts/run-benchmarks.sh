#!/usr/bin/env bash
# Runs every benchmark program; each prints its own ratios against a reference it
# measures in the same run.
set -euo pipefail
build=${1:-build}
status=0
for b in "$build"/bench/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$b" || status=1
done
exit $status
