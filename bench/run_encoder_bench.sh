#!/usr/bin/env bash
# Compressed sizes and speeds of the encoder over the test corpus, beside
# gzip -9 and the independently made files in tests/data/vectors.
#   bench/run_encoder_bench.sh [--runs N] [FILE...]
# Needs the native preset built (cmake --build --preset native). Sizes are
# whole compressed files (header included); MB/s is 10^6 input bytes per
# second, the best of N runs (default 5), by the wall clock and (cpu) by the
# process's CPU time, which other work on a shared machine disturbs less.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bench="$root/build/native/bin/encoder_bench"
vectors="$root/tests/data/vectors"
[[ -x "$bench" ]] || { echo "build the native preset first: $bench is missing" >&2; exit 1; }

runs=(--runs 5)
if [[ "${1:-}" == "--runs" ]]; then runs=(--runs "$2"); shift 2; fi
files=("$@")
if ((${#files[@]} == 0)); then
  for f in GPL-3.txt tutor-de.txt services.txt notepad.exe gdiplus.dll; do
    files+=("$root/tests/data/corpus/$f")
  done
fi

results=$("$bench" "${runs[@]}" "${files[@]}")

printf '%-14s %9s %9s %7s %7s %9s %7s %7s %9s %9s %8s\n' \
  file bytes default MB/s cpu --fast MB/s cpu "gzip -9" vector def/vec
i=0
tb=0 td=0 tf=0 tg=0 tv=0 tdv=0
while IFS=$'\t' read -r name bytes def def_mbps def_cpu fast fast_mbps fast_cpu; do
  gz=$(gzip -9 -c < "${files[$i]}" | wc -c)
  i=$((i + 1))
  vec=- ratio=-
  if [[ -f "$vectors/$name.hzl" ]]; then
    vec=$(stat -c %s "$vectors/$name.hzl")
    ratio=$(awk -v a="$def" -v b="$vec" 'BEGIN { printf "%.4f", a / b }')
    tv=$((tv + vec)) tdv=$((tdv + def))
  fi
  tb=$((tb + bytes)) td=$((td + def)) tf=$((tf + fast)) tg=$((tg + gz))
  printf '%-14s %9d %9d %7.1f %7.1f %9d %7.1f %7.1f %9d %9s %8s\n' \
    "$name" "$bytes" "$def" "$def_mbps" "$def_cpu" "$fast" "$fast_mbps" "$fast_cpu" "$gz" "$vec" "$ratio"
done <<< "$results"
printf '%-14s %9d %9d %7s %7s %9d %7s %7s %9d %9d\n' total "$tb" "$td" "" "" "$tf" "" "" "$tg" "$tv"
awk -v d="$td" -v f="$tf" -v dv="$tdv" -v v="$tv" 'BEGIN {
  printf "default is %.2f%% smaller than --fast in total", 100 * (1 - d / f)
  if (v > 0) printf "; %.2f%% smaller than the vectors in total", 100 * (1 - dv / v)
  printf "\n"
}'
