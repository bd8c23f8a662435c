#!/usr/bin/env bash
# The main job: build the native bootstrapper with the demo payload, run it,
# then show where it staged the files and what it started.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --minimal
cmake --preset native >/dev/null
cmake --build --preset native --target Setup_Merlavox hzl

tmp="${TMPDIR:-/tmp}"
staging="${tmp%/}/Inst-Setup_Merlavox"
# A log from an earlier run would pass for this run's.
rm -f "$staging/Setup.log"

echo
echo "Running build/native/bin/Setup_Merlavox ..."
status=0
build/native/bin/Setup_Merlavox || status=$?
echo "exit code: $status"

echo
echo "Staging folder: $staging"
ls -l "$staging"

# The demo setup program was started detached; it writes Setup.log into its
# working folder once it runs.
for _ in $(seq 50); do
  [[ -s "$staging/Setup.log" ]] && break
  sleep 0.1
done
echo
if [[ -s "$staging/Setup.log" ]]; then
  echo "Started: $staging/Setup.exe (the demo setup program); its Setup.log:"
  cat "$staging/Setup.log"
else
  echo "Setup.exe did not write Setup.log (not started?)"
fi
exit "$status"
