# Sourced by the Wine scripts. orvel_wine_loaders TREE sets ORVEL_WINE64_LOADER and
# ORVEL_WINE32_LOADER: from the environment (ctest passes them), or else from what the
# build tree's find_program found. ORVEL_WINE32_LOADER is empty where Wine has no
# 32-bit part or the kernel cannot execute 32-bit code.
orvel_wine_loaders() {
  ORVEL_WINE32_LOADER=${ORVEL_WINE32_LOADER:-}
  local cache=$1/CMakeCache.txt
  if [ -z "${ORVEL_WINE64_LOADER:-}" ] && [ -f "$cache" ]; then
    ORVEL_WINE64_LOADER=$(sed -n 's/^ORVEL_WINE64_LOADER:FILEPATH=//p' "$cache")
    ORVEL_WINE32_LOADER=$(sed -n 's/^ORVEL_WINE32_LOADER:FILEPATH=//p' "$cache")
  fi
  if [ -z "${ORVEL_WINE64_LOADER:-}" ]; then
    echo "no Wine loader known: configure a Windows tree first (cmake --preset win64)" >&2
    return 1
  fi
  case "${ORVEL_WINE32_LOADER:-}" in *-NOTFOUND) ORVEL_WINE32_LOADER= ;; esac
  if [ -n "${ORVEL_WINE32_LOADER:-}" ] && ! "$ORVEL_WINE32_LOADER" --version >/dev/null 2>&1; then
    ORVEL_WINE32_LOADER=
  fi
  export ORVEL_WINE64_LOADER ORVEL_WINE32_LOADER
}
