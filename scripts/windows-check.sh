#!/usr/bin/env bash
# Cross-builds the Qt-free libraries (VISA types, loader and call trace, simulated chassis and
# time, driver, station core, procedures) and their suites for 64-bit Windows with mingw-w64, and runs the suites under Wine,
# the visa suite loading the simulated chassis as quor_sim_visa.dll.
#   scripts/windows-check.sh SOURCE_DIR BUILD_DIR
# Called by `scripts/station.sh test-windows`, which installs the compiler and Wine first.
set -euo pipefail

ROOT="$1"
BUILD="$2"
JOBS="$(nproc 2>/dev/null || echo 2)"

cmake -S "$ROOT" -B "$BUILD" \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DQUOR_QT_FREE_ONLY=ON
cmake --build "$BUILD" -j"$JOBS"

# Wine keeps its Windows folder under the build folder; console programs need no display.
export WINEPREFIX="$BUILD/wine"
export WINEDEBUG=-all
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  echo "Setting up the Wine prefix in $WINEPREFIX (the first time takes a while)"
  wine wineboot --init >/dev/null 2>&1 || true
  wineserver -w
fi

# A Windows program, not a Linux one: the suites must really run under Wine.
for program in "$BUILD"/bin/*_tests.exe; do
  if ! file -b "$program" | grep -q "PE32+ executable"; then
    echo "$program is not a 64-bit Windows program" >&2
    exit 1
  fi
done

status=0
(cd "$BUILD" && ctest --output-on-failure -j"$JOBS") || status=$?
wineserver -k 2>/dev/null || true
exit "$status"
