#!/usr/bin/env bash
# Creates (once) the Wine prefix that a build tree's tests run in.
set -eu
prefix=$1
stamp=$2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
loader=/usr/lib/wine/wine64
/usr/lib/wine/wine --version >/dev/null 2>&1 && loader=/usr/lib/wine/wine
export WINELOADER=$loader
if [ ! -f "$prefix/system.reg" ]; then
  "$loader" wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
[ -f "$prefix/system.reg" ] || { echo "make-test-prefix.sh: wineboot made no prefix at $prefix" >&2; exit 1; }
touch "$stamp"
