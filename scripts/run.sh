#!/usr/bin/env bash
# Sets everything up, builds, and runs Orvelcfg under Wine against the substitute
# server with a few demo units. Settings land in the demo prefix, not in ~/.wine.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then
  scripts/setup.sh
else
  sudo scripts/setup.sh
fi

# The i686 build is the deliverable; the x86_64 build of the same program is what
# runs where the kernel cannot execute 32-bit code.
cmake --preset win32 >/dev/null && cmake --build --preset win32
cmake --preset win64 >/dev/null && cmake --build --preset win64

tree=build/win64
/usr/lib/wine/wine --version >/dev/null 2>&1 && tree=build/win32
exec tools/run-demo.sh "$tree"
