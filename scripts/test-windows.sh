#!/usr/bin/env bash
# The Windows build, cross-compiled with MinGW-w64 and tested under Wine:
# installs what is missing (Debian 12, run as root), builds into
# build-mingw with cmake/mingw-w64.cmake and runs the whole test suite with
# ctest, each test program under Wine in a fresh Wine prefix of its own
# (build-mingw/wineprefix), then prints a summary.
#
#   scripts/test-windows.sh              build and test
#   XELO_JOBS=4 scripts/test-windows.sh  more parallel jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."

# The host's header-only packages (CLI11, nlohmann_json) are staged for the
# cross build; GoogleTest is built from its sources.
packages=(cmake ninja-build libcli11-dev nlohmann-json3-dev googletest
          wine wine64 g++-mingw-w64-x86-64 mingw-w64-tools)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

jobs="${XELO_JOBS:-2}"
dir=build-mingw
cmake -S . -B "$dir" -G Ninja --toolchain cmake/mingw-w64.cmake -DXELO_WERROR=ON
cmake --build "$dir" -j"$jobs"

# A prefix of our own, so that nothing of the user's Wine setup matters.
# It must be fully booted before the first program runs (wineserver -w),
# or the first test can hang.
export WINEPREFIX="$PWD/$dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono/Gecko installer dialogs
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi

status=0
ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 300 >"$dir/ctest-windows.log" 2>&1 || status=$?
grep -E '^[0-9]+% tests passed|\*\*\*(Failed|Exception|Timeout)|\*\*\*Skipped' "$dir/ctest-windows.log" || true

# Per program: each test program run once more as a whole, for gtest's
# own counts.
echo
echo "Windows build under Wine (ctest log: $dir/ctest-windows.log):"
for program in "$dir"/tests/*_tests.exe; do
  log="$dir/$(basename "$program" .exe).log"
  wine "$program" >"$log" 2>&1 || true
  passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log")
  failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*, listed below:/\1/p' "$log")
  skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) test.*, listed below:/\1/p' "$log")
  printf '  %-24s %5s passed %4s failed %4s skipped\n' "$(basename "$program")" "${passed:-0}" "${failed:-0}" "${skipped:-0}"
done
wineserver -k >/dev/null 2>&1 || true
exit $status
