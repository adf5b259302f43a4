#!/usr/bin/env bash
# Sets everything up, builds, and runs Orvelcfg under Wine against the substitute
# server with a few demo units. Settings land in the demo prefix, not in ~/.wine.
#   scripts/run.sh              Orvelcfg as built
#   scripts/run.sh --installed  the product as installed: the package goes into the x86_64
#                               tree's prefix, the Control Panel applet opens and starts
#                               Orvelcfg, and the package is removed again once it closes
set -euo pipefail
cd "$(dirname "$0")/.."

installed=0
case "${1:-}" in
  "") ;;
  --installed) installed=1 ;;
  *) echo "usage: scripts/run.sh [--installed]" >&2; exit 2 ;;
esac

if [ "$(id -u)" -eq 0 ]; then
  scripts/setup.sh
else
  sudo scripts/setup.sh
fi

# The i686 build is the deliverable; the x86_64 build of the same program is what
# runs where the kernel cannot execute 32-bit code.
cmake --preset win32 >/dev/null && cmake --build --preset win32
cmake --preset win64 >/dev/null && cmake --build --preset win64

# The package is built in the x86_64 tree only, with that tree's Orvelcfg.
if [ "$installed" = 1 ]; then
  exec tools/run-demo.sh --installed build/win64
fi
. cmake/wine-loaders.sh
orvel_wine_loaders build/win32
tree=build/win64
[ -n "$ORVEL_WINE32_LOADER" ] && tree=build/win32
exec tools/run-demo.sh "$tree"
