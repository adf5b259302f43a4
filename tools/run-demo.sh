#!/usr/bin/env bash
# Runs a build tree's Orvelcfg under Wine against the substitute server, which
# simulates the units of tools/substitute_server/demo-units.txt. The server stops when
# Orvelcfg ends; its message log is left in the tree for a look at the conversation.
#   tools/run-demo.sh <build-tree>        e.g. tools/run-demo.sh build/win64
# Settings land in the tree's own Wine prefix (<build-tree>/wineprefix), not in ~/.wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: tools/run-demo.sh <build-tree>" >&2
  exit 2
fi
tree=$(cd "$1" && pwd)
program=$tree/config/Orvelcfg.exe
server=$tree/tools/substitute_server/substitute_server.exe
units=$root/tools/substitute_server/demo-units.txt
log=$tree/substitute-server-demo.log

if [ ! -f "$program" ]; then
  echo "run-demo.sh: $program is not built yet (target Orvelcfg); nothing to run" >&2
  exit 1
fi
if [ ! -f "$server" ]; then
  echo "run-demo.sh: $server is not built yet (target substitute_server)" >&2
  exit 1
fi

export ORVEL_WINEPREFIX=$tree/wineprefix
if [ ! -f "$ORVEL_WINEPREFIX/system.reg" ]; then
  "$root/cmake/make-test-prefix.sh" "$ORVEL_WINEPREFIX" "$tree/wineprefix.stamp"
fi

if [ -z "${DISPLAY:-}" ]; then
  echo "run-demo.sh: no DISPLAY; Orvelcfg runs on a virtual display where it cannot be seen" >&2
fi

# Wine maps / to drive Z:.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# The server starts Orvelcfg once its window exists and ends with it, so the program
# always finds its server and no server is left behind.
status=0
"$root/cmake/wine-run.sh" "$server" --run "$(winpath "$program")" \
  "$(winpath "$units")" "$(winpath "$log")" || status=$?
echo "run-demo.sh: Orvelcfg ended with exit code $status; server log: $log"
exit $status
