#!/usr/bin/env bash
# Builds the Windows trees and runs every benchmark under Wine; each prints its figures.
# Benchmarks are not tests: they never fail on a slow machine.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset win64 >/dev/null && cmake --build --preset win64
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
export ORVEL_WINEPREFIX=$PWD/build/win64/wineprefix
status=0
while IFS= read -r bench; do
  echo "=== $(basename "$bench") ==="
  cmake/wine-run.sh "$bench" || status=1
done < <(find build/win64/tools -name '*_bench.exe' | sort)
exit $status
