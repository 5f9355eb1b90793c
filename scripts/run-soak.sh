#!/usr/bin/env bash
# Runs every soak program under Xvfb, one after the other, and prints a summary table of the
# `SOAK` lines they print. A program that dies without its line counts as one crash.
set -uo pipefail
build=${1:-build}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
for s in "$build"/soak/soak_*; do
  [ -f "$s" ] && [ -x "$s" ] || continue
  name=$(basename "$s")
  echo "== $name"
  out=$(mktemp)
  xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" env QT_QPA_PLATFORM=xcb "$s" 2>&1 | tee "$out"
  rc=${PIPESTATUS[0]}
  if grep -q '^SOAK ' "$out"; then
    grep '^SOAK ' "$out" >>"$log"
  else
    echo "SOAK ${name#soak_} | inputs 0 | crashes 1 | lost 0 | program ended with status $rc and no figures" >>"$log"
  fi
  [ "$rc" -eq 0 ] || status=1
  rm -f "$out"
done
echo
echo "== summary"
awk -F' [|] ' '
  { sub(/^SOAK /, "", $1); split($2, a, " "); split($3, b, " "); split($4, c, " ");
    printf "%-28s %8s inputs %4s crashes %4s lost   %s\n", $1, a[2], b[2], c[2], $5;
    n++; inputs += a[2]; crashes += b[2]; lost += c[2] }
  END { printf "%-28s %8d inputs %4d crashes %4d lost   (%d checks)\n", "total", inputs, crashes, lost, n }
' "$log"
exit $status
