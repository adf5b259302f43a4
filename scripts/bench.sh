#!/usr/bin/env bash
# Builds the Windows trees and runs every benchmark under Wine; each prints its figures.
# scan_bench runs twice: at 96 DPI and at 144 DPI (150 % scaling, in a prefix of its own).
# Benchmarks are not tests: they never fail on a slow machine.
#   scripts/bench.sh             every benchmark
#   scripts/bench.sh scan_bench  only those whose name holds the word
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset win64 >/dev/null && cmake --build --preset win64
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
prefix=$PWD/build/win64/wineprefix
status=0
while IFS= read -r bench; do
  name=$(basename "$bench" .exe)
  case "$name" in *"${1:-}"*) ;; *) continue ;; esac
  echo "=== $name ==="
  ORVEL_WINEPREFIX=$prefix cmake/wine-run.sh "$bench" || status=1
  if [ "$name" = scan_bench ]; then
    echo "=== $name, 144 DPI ==="
    ORVEL_WINEPREFIX=$prefix-144dpi ORVEL_LOGPIXELS=144 cmake/wine-run.sh "$bench" || status=1
  fi
done < <(find build/win64/tools -name '*_bench.exe' | sort)
exit $status
