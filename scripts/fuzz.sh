#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs them.
# Usage: scripts/fuzz.sh TARGET|all SECONDS   fuzz each for SECONDS (new inputs go to build/fuzz/found/)
#        scripts/fuzz.sh smoke                run every target once over the saved corpus
#        scripts/fuzz.sh merge                add the found inputs that reach new code to fuzz/corpus/
# Targets: wsc_lines wsc_scan wsc_extract statics. A crash leaves its input in
# build/fuzz/crashes/; it becomes a regression case in tests/reliability/.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(wsc_lines wsc_scan wsc_extract statics)
corpus_of() { case $1 in statics) echo fuzz/corpus/statics ;; *) echo fuzz/corpus/wsc ;; esac; }

what=${1:-}
seconds=${2:-60}
case $what in
  smoke|merge) selected=("${targets[@]}") ;;
  all) selected=("${targets[@]}") ;;
  wsc_lines|wsc_scan|wsc_extract|statics) selected=("$what") ;;
  *) echo "usage: $0 TARGET|all SECONDS | smoke   (targets: ${targets[*]})" >&2; exit 2 ;;
esac

build=build/fuzz
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 > /dev/null
cmake --build "$build" -j 2
mkdir -p "$build/crashes"

for t in "${selected[@]}"; do
  corpus=$(corpus_of "$t")
  if [ "$what" = smoke ]; then
    "$build/fuzz_$t" -runs=0 -artifact_prefix="$build/crashes/$t-" "$corpus"
  elif [ "$what" = merge ]; then
    if [ -d "$build/found/$t" ]; then
      "$build/fuzz_$t" -merge=1 "$corpus" "$build/found/$t"
    fi
  else
    found="$build/found/$t"
    mkdir -p "$found"
    echo "fuzzing $t for $seconds s"
    "$build/fuzz_$t" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/crashes/$t-" "$found" "$corpus"
  fi
done
