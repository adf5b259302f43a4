#!/usr/bin/env bash
# Sets everything up, builds the three trees and runs every test: native (with
# ASan and UBSan, and a short fuzzing run) and under Wine, windows on one Xvfb display.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then
  scripts/setup.sh
else
  sudo scripts/setup.sh
fi

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --have-display "$@"
fi
[ "${1:-}" = "--have-display" ] && shift

status=0
passed=0 failed=0 skipped=0
for tree in native win32 win64; do
  echo "=== $tree ==="
  results=build/$tree/ctest-results.xml
  rm -f "$results"
  cmake --workflow --preset "$tree" || status=1
  if [ ! -f "$results" ]; then
    echo "$tree: no test results (the tree did not configure or build)" >&2
    status=1
    continue
  fi
  # ctest's JUnit report: tests, failures, skipped and disabled of the whole run.
  read -r tests fails skips disabled < <(
    sed -n '1,/<testcase/s/^[[:space:]]*\(tests\|failures\|skipped\|disabled\)="\([0-9]*\)".*/\1 \2/p' "$results" |
      awk '{ v[$1] = $2 } END { print v["tests"] + 0, v["failures"] + 0, v["skipped"] + 0, v["disabled"] + 0 }')
  passed=$((passed + tests - fails - skips - disabled))
  failed=$((failed + fails))
  skipped=$((skipped + skips + disabled))
done

# One closing line over the three trees.
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] || status=1
exit $status
