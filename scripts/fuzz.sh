#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz) and runs each for a bounded
# time from a copy of its seed corpus. Any finding fails the run: the input
# is left in build/fuzz/findings/<target>/ and belongs, once fixed, in
# tests/data/regress/<target>/, where fuzz_regress_test replays it.
#   scripts/fuzz.sh [seconds per target, default 60] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
((${#targets[@]})) || targets=(unpack expand roundtrip)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2

work=build/fuzz/runs
findings=build/fuzz/findings
failed=0
summary=()
for target in "${targets[@]}"; do
  rm -rf "${work:?}/$target"
  mkdir -p "$work/$target/corpus" "$findings/$target"
  cp tests/fuzz/corpus/"$target"/* "$work/$target/corpus/"
  log="$work/$target/log.txt"
  status=0
  # -max_len keeps mutated inputs near the seeds' size: the driver's seeds
  # reach past its 32 KiB input buffer, the decoder's needn't. The corpus
  # copy grows; the checked-in seeds stay as they are.
  max_len=8192
  [[ "$target" == expand ]] && max_len=48000
  build/fuzz/bin/"${target}"_fuzzer -max_total_time="$seconds" -max_len="$max_len" -timeout=25 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/$target/" \
    "$work/$target/corpus" >"$log" 2>&1 || status=$?
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
  summary+=("$target: ${executed:-?} inputs executed, ${coverage:-cov: ?}, exit $status")
  if ((status != 0)); then
    failed=1
    echo "fuzz target $target found a fault; the end of its log:"
    tail -40 "$log"
  fi
done

printf '%s\n' "${summary[@]}"
exit "$failed"
