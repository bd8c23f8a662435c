#!/usr/bin/env bash
# Builds and runs the decoder benchmark; extra arguments go to Google
# Benchmark (e.g. --benchmark_filter=gdiplus or --benchmark_repetitions=3).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target decoder_bench
exec build/native/bin/decoder_bench --benchmark_min_time=0.3 --benchmark_repetitions=5 \
  --benchmark_display_aggregates_only=true "$@"
