#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine; CTest's emulator for the
# mingw-w64 build (cmake/toolchain-mingw64.cmake).
#   wine-run.sh program.exe [arguments...]
#   wine-run.sh --init <build dir>     only create the prefix
# The Wine prefix is <build tree>/wineprefix, the build tree being the nearest
# folder above the program that holds CMakeCache.txt, unless WINEPREFIX is
# already set. A missing prefix is created first, without questions: Wine's
# optional downloads (Mono, Gecko) are disabled and so is the crash dialog,
# which under a headless X server would wait for ever.
set -euo pipefail
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

build_tree_of() {
  local d
  d=$(cd "$(dirname "$1")" && pwd -P)
  while [ "$d" != / ]; do
    if [ -f "$d/CMakeCache.txt" ]; then echo "$d"; return 0; fi
    d=$(dirname "$d")
  done
  return 1
}

# Wine's own processes (wineserver, services) live on after wineboot: they
# must not inherit the lock's descriptor, or the lock is never released.
init_prefix() {
  [ -f "$WINEPREFIX/.lumet-ready" ] && return 0
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.lumet-ready" ]; then
      wineboot -i </dev/null >/dev/null 2>&1 9>&-
      wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        </dev/null >/dev/null 2>&1 9>&-
      touch "$WINEPREFIX/.lumet-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

if [ "${1:-}" = "--init" ]; then
  if [ -z "${WINEPREFIX:-}" ]; then
    WINEPREFIX="$(cd "${2:?build dir}" && pwd -P)/wineprefix"
  fi
  export WINEPREFIX
  init_prefix
  exit 0
fi

program=${1:?program}
if [ -z "${WINEPREFIX:-}" ]; then
  tree=$(build_tree_of "$program") || { echo "wine-run: no build tree above $program" >&2; exit 2; }
  WINEPREFIX="$tree/wineprefix"
fi
export WINEPREFIX
init_prefix
exec wine "$@"
