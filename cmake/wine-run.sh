#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix, never ~/.wine.
# ctest sets ORVEL_WINEPREFIX for each test; by hand, pass it in the environment.
#
# Some kernels cannot execute 32-bit Linux code, and then Wine cannot start a
# 32-bit Windows program at all: such a run exits 77, which ctest reports as skipped.
set -u
prefix=${ORVEL_WINEPREFIX:-}
if [ -z "$prefix" ]; then
  echo "wine-run.sh: ORVEL_WINEPREFIX is not set" >&2
  exit 2
fi
program=$1
. "$(dirname "$0")/wine-loaders.sh"
orvel_wine_loaders "$(dirname "$prefix")" || exit 2
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

pe_machine() {  # prints 014c (i386) or 8664 (x86-64)
  local offset
  offset=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  od -An -t x2 -j $((offset + 4)) -N 2 "$1" | tr -d ' '
}

loader=$ORVEL_WINE64_LOADER
if [ "$(pe_machine "$program")" = "014c" ]; then
  if [ -z "$ORVEL_WINE32_LOADER" ]; then
    echo "wine-run.sh: this machine cannot run 32-bit Wine, so Wine cannot start $(basename "$program"); skipped" >&2
    exit 77
  fi
  loader=$ORVEL_WINE32_LOADER
fi
export WINELOADER=$loader

# Without a display, the whole run goes under a virtual one: a prefix first started
# without one (by the reg call below) gave later programs no windows of their own.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

# A run at another display scaling: the prefix's LogPixels, read when a program starts.
# Such a run gets a prefix of its own, so the tree's prefix keeps 96 DPI.
if [ -n "${ORVEL_LOGPIXELS:-}" ]; then
  "$loader" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
    /d "$ORVEL_LOGPIXELS" /f >/dev/null 2>&1 || true
fi

exec "$loader" "$@"
