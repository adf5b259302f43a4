#!/usr/bin/env bash
# Runs a build tree's Orvelcfg under Wine against the substitute server, which
# simulates the units of tools/substitute_server/demo-units.txt. The server stops when
# Orvelcfg ends; its message log is left in the tree for a look at the conversation.
#   tools/run-demo.sh <build-tree>              e.g. tools/run-demo.sh build/win64
#   tools/run-demo.sh --installed <build-tree>  e.g. tools/run-demo.sh --installed build/win64
#     installs the tree's package (packaging/Orvel.msi) into the tree's prefix, opens the
#     installed Control Panel applet, which starts the installed Orvelcfg, and removes the
#     package again once the applet has closed; the saved orveld.ini stays, as it does
#     for a user. Only the x86_64 tree builds the package.
# Settings land in the tree's own Wine prefix (<build-tree>/wineprefix), not in ~/.wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

installed=0
if [ "${1:-}" = "--installed" ]; then
  installed=1
  shift
fi
if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: tools/run-demo.sh [--installed] <build-tree>" >&2
  exit 2
fi
tree=$(cd "$1" && pwd)
program=$tree/config/Orvelcfg.exe
package=$tree/packaging/Orvel.msi
server=$tree/tools/substitute_server/substitute_server.exe
units=$root/tools/substitute_server/demo-units.txt
log=$tree/substitute-server-demo.log

if [ "$installed" = 1 ] && [ ! -f "$package" ]; then
  echo "run-demo.sh: $package is not built yet (target orvel_package, x86_64 tree)" >&2
  exit 1
fi
if [ "$installed" = 0 ] && [ ! -f "$program" ]; then
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

if [ "$installed" = 0 ]; then
  # The server starts Orvelcfg once its window exists and ends with it, so the program
  # always finds its server and no server is left behind.
  status=0
  "$root/cmake/wine-run.sh" "$server" --run "$(winpath "$program")" \
    "$(winpath "$units")" "$(winpath "$log")" || status=$?
  echo "run-demo.sh: Orvelcfg ended with exit code $status; server log: $log"
  exit $status
fi

system32=$ORVEL_WINEPREFIX/drive_c/windows/system32
wine_tool() { "$root/cmake/wine-run.sh" "$system32/$1" "${@:2}"; }
# Every 64-bit Windows has the 32-bit view's MIDI driver key; a fresh Wine prefix does
# not, and the package's MIDI slot action needs it.
wine_tool reg.exe add 'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\Drivers32' \
  /f >/dev/null
echo "run-demo.sh: installing $package"
if ! wine_tool msiexec.exe /i "$(winpath "$package")" /qn; then
  echo "run-demo.sh: msiexec could not install the package" >&2
  exit 1
fi
# The Control Panel opens the applet by its file; the server ends with the Control Panel.
status=0
"$root/cmake/wine-run.sh" "$server" --run 'C:\windows\system32\control.exe' \
  --run-argument 'C:\windows\system32\Orvelcpl.cpl' "$(winpath "$units")" "$(winpath "$log")" ||
  status=$?
echo "run-demo.sh: the applet closed (exit code $status); removing the package"
wine_tool msiexec.exe /x "$(winpath "$package")" /qn || true
# A prefix without 32-bit support has an empty SysWOW64, which Wine's uninstall takes away
# with the configuration program; the prefix gets it back as it was.
mkdir -p "$ORVEL_WINEPREFIX/drive_c/windows/syswow64"
echo "run-demo.sh: removed; server log: $log"
exit $status
