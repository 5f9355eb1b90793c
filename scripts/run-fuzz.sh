#!/usr/bin/env bash
# Runs every fuzz target in <build> for <seconds> seconds, three at a time, each from its
# own corpus folder (kept in the build folder, seeded with the kept regression inputs).
# Crash inputs land in <build>/crashes/<target>/. Prints one line per target.
set -uo pipefail
BUILD=${1:-build-fuzz}
SECONDS_EACH=${2:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
VOCAB_GZ="$ROOT/../shared/clip-fixtures/bpe_simple_vocab_16e6.txt.gz"
[[ -f "$VOCAB_GZ" ]] || VOCAB_GZ=/work/shared/clip-fixtures/bpe_simple_vocab_16e6.txt.gz
if [[ -f "$VOCAB_GZ" && ! -f "$BUILD/bpe_simple_vocab_16e6.txt" ]]; then
  gzip -dc "$VOCAB_GZ" > "$BUILD/bpe_simple_vocab_16e6.txt"
fi
[[ -f "$BUILD/bpe_simple_vocab_16e6.txt" ]] && export LK_FUZZ_MERGES="$BUILD/bpe_simple_vocab_16e6.txt"
export QT_QPA_PLATFORM=offscreen
"$BUILD/make_seeds" "$BUILD/corpus" || { echo "could not write the seed inputs"; exit 1; }

run_one() {
  local name=$1 corpus="$BUILD/corpus/$1" crashes="$BUILD/crashes/$1"
  mkdir -p "$corpus" "$crashes"
  local seeds="$ROOT/tests/fuzz/regressions/$name"
  [[ -d "$seeds" ]] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null
  "$BUILD/fuzz_$name" -max_total_time="$SECONDS_EACH" -rss_limit_mb=4096 -timeout=10 \
    -artifact_prefix="$crashes/" -print_final_stats=1 "$corpus" >"$BUILD/$name.log" 2>&1
  local rc=$?
  local runs
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$BUILD/$name.log" | grep -o '[0-9]*$')
  local found
  found=$(find "$crashes" -type f | wc -l)
  printf '%-20s %4ss  %10s runs  exit %d  crash inputs %d\n' "$name" "$SECONDS_EACH" "${runs:-?}" "$rc" "$found"
}

status=0
names=(scope_cache visual_index transcript ffprobe_json safetensors_header clip_tokenizer)
for ((i = 0; i < ${#names[@]}; i += 3)); do
  for n in "${names[@]:i:3}"; do run_one "$n" & done
  wait
done
for n in "${names[@]}"; do
  [[ -z $(find "$BUILD/crashes/$n" -type f 2>/dev/null) ]] || status=1
done
exit $status
