#!/usr/bin/env bash
# Times the bootstrapper's whole run (ten files written, Setup.ex_ expanded,
# Setup.exe started) against the same work done by standard tools: cp of the
# ten files plus `hzl x` of Setup.ex_. The payload has the product's sizes
# (about 5.9 MB in ten files, a Setup.ex_ that expands to 718,776 bytes) and
# is made here from the test corpus; the bootstrapper is built with it in a
# build folder of its own.
#
# usage: bench/run_bootstrap_bench.sh [REPETITIONS]   (default 40)
# Needs the native preset built (build/native/bin/hzl) and a C compiler.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
reps=${1:-40}
hzl=$root/build/native/bin/hzl
corpus=$root/tests/data/corpus
out=$root/build/bench-bootstrap
payload=$out/payload
[[ -x $hzl ]] || { echo "build the native preset first: $hzl is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT

# fill N FILE...: the files, over and over, cut to N bytes.
fill() {
  local n=$1
  shift
  # The loop ends when head has taken enough and cat meets the closed pipe.
  { while cat "$@"; do :; done; } 2>/dev/null | head -c "$n" || true
}

# compressed NAME EXPANDED STORED FILE...: a compressed file of exactly
# STORED bytes whose header gives EXPANDED. The bootstrapper only writes
# these as they are, so a code stream cut short (or repeated past its end)
# serves as well as an exact one and keeps the product's sizes.
compressed() {
  local name=$1 expanded=$2 stored=$3
  shift 3
  fill "$expanded" "$@" >"$work/plain"
  "$hzl" c --fast -f "$work/plain" "$work/packed"
  fill "$stored" "$work/packed" >"$work/new/$name"
}

echo "making the payload in $payload"
mkdir -p "$work/new" "$payload"
compressed Merlavox.ex_ 10044880 4299769 "$corpus/notepad.exe" "$corpus/gdiplus.dll"
compressed Merlavox.ch_ 155431 148824 "$corpus/GPL-3.txt" "$corpus/tutor-de.txt" \
  "$corpus/services.txt"
fill 9658 "$corpus/tutor-de.txt" >"$work/new/Liesmich.txt"
compressed TrickTip.tx_ 5341 2255 "$corpus/tutor-de.txt"
fill 6111 "$corpus/GPL-3.txt" >"$work/new/Vertrag.txt"
compressed eztw32.DL_ 92672 47146 "$corpus/notepad.exe"
fill 55264 "$corpus/services.txt" >"$work/new/Beispiel.dbmvx"
compressed gdiplus.dl_ 1645320 983285 "$corpus/gdiplus.dll"
{
  printf '[Setup]\r\nTitle=Merlavox 1.0\r\n\r\n[Files]\r\n'
  i=1
  for f in Merlavox.ex_ Merlavox.ch_ Liesmich.txt TrickTip.tx_ Vertrag.txt eztw32.DL_ \
    Beispiel.dbmvx gdiplus.dl_; do
    printf '%d=%s\r\n' $i $f
    i=$((i + 1))
  done
  while printf ';\r\n'; do :; done
} 2>/dev/null | head -c 801 >"$work/new/Setup.lst" || true
# The setup program: a trivial program that ends at once, padded with
# corpus bytes to the product's length (the loader ignores what follows).
printf 'int main(void) { return 0; }\n' | ${CC:-cc} -O2 -x c - -o "$work/trivial"
{
  cat "$work/trivial"
  fill $((718776 - $(stat -c %s "$work/trivial"))) "$corpus/notepad.exe" "$corpus/gdiplus.dll"
} >"$work/setup_program"
"$hzl" c -f "$work/setup_program" "$work/new/Setup.ex_"
# Only changed files are replaced, so that a second run does not rebuild.
for f in "$work"/new/*; do
  cmp -s "$f" "$payload/${f##*/}" || cp "$f" "$payload/"
done
total=$(cat "$payload"/* | wc -c)
echo "payload: 10 files, $total bytes; Setup.ex_ $(stat -c %s "$payload/Setup.ex_") bytes," \
  "expanding to $(stat -c %s "$work/setup_program")"

echo "building the bootstrapper in $out/build"
cmake -S "$root" -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DMERLAVOX_PAYLOAD_DIR="$payload" -DMERLAVOX_TESTS=OFF -DMERLAVOX_BENCH=OFF >/dev/null
cmake --build "$out/build" -j2 --target Setup_Merlavox hzl >/dev/null
boot=$out/build/bin/Setup_Merlavox
bhzl=$out/build/bin/hzl

# One run of each, checked before anything is timed.
mkdir "$work/check"
TMPDIR=$work/check "$boot"
for f in "$payload"/*; do cmp "$f" "$work/check/Inst-Setup_Merlavox/${f##*/}"; done
cmp "$work/setup_program" "$work/check/Inst-Setup_Merlavox/Setup.exe"

usec() { echo "${EPOCHREALTIME/./}"; }
boot_times=() copy_times=() expand_times=()
for ((i = 0; i < reps; i++)); do
  # Fresh folders on the same file system, nothing pending from the last
  # round; the two sides take turns so that drift hits both alike.
  mkdir "$work/a$i" "$work/b$i"
  sync
  t0=$(usec)
  TMPDIR=$work/a$i "$boot"
  t1=$(usec)
  sync
  t2=$(usec)
  cp "$payload"/* "$work/b$i/"
  t3=$(usec)
  "$bhzl" x "$work/b$i/Setup.ex_" "$work/b$i/Setup.exe"
  t4=$(usec)
  boot_times+=($((t1 - t0)))
  copy_times+=($((t3 - t2)))
  expand_times+=($((t4 - t3)))
  rm -rf "$work/a$i" "$work/b$i"
done

# stats VALUES...: median, mean and minimum in milliseconds
stats() {
  printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1; s += $1 }
    END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%9.2f %9.2f %9.2f\n", m / 1000, s / NR / 1000, v[1] / 1000 }'
}
sums=()
for ((i = 0; i < reps; i++)); do sums+=($((copy_times[i] + expand_times[i]))); done
b=$(stats "${boot_times[@]}")
c=$(stats "${sums[@]}")
echo
echo "$reps repetitions, times in ms            median      mean       min"
printf '%-36s %s\n' "Setup_Merlavox (whole run, launch)" "$b"
printf '%-36s %s\n' "cp of the ten files + hzl x" "$c"
printf '%-36s %s\n' "  of which cp" "$(stats "${copy_times[@]}")"
printf '%-36s %s\n' "  of which hzl x" "$(stats "${expand_times[@]}")"
awk -v b="$b" -v c="$c" 'BEGIN { split(b, x, " "); split(c, y, " ")
  printf "ratio of the medians: %.2fx (target: at most 1.20x)\n", x[1] / y[1] }'
