#!/usr/bin/env bash
# Creates (once) the Wine prefix that a build tree's tests run in.
set -eu
prefix=$1
stamp=$2
. "$(dirname "$0")/wine-loaders.sh"
orvel_wine_loaders "$(dirname "$prefix")"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The 32-bit loader, where there is one, makes a prefix that runs both kinds of program.
loader=${ORVEL_WINE32_LOADER:-$ORVEL_WINE64_LOADER}
export WINELOADER=$loader
if [ ! -f "$prefix/system.reg" ]; then
  "$loader" wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
[ -f "$prefix/system.reg" ] || { echo "make-test-prefix.sh: wineboot made no prefix at $prefix" >&2; exit 1; }
touch "$stamp"
