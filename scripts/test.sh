#!/usr/bin/env bash
# Installs what is missing (Debian 12, run as root), builds Xelo and runs the
# whole test suite twice: a normal build, then one under AddressSanitizer and
# UndefinedBehaviorSanitizer (leak detection on).
#
#   scripts/test.sh                  everything
#   scripts/test.sh --no-sanitizers  the normal build only
set -euo pipefail
cd "$(dirname "$0")/.."

sanitizers=1
for arg in "$@"; do
  case "$arg" in
    --no-sanitizers) sanitizers=0 ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "unknown option: $arg" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh

jobs="${XELO_JOBS:-2}"
run_suite() {  # <build dir> <cmake options...>
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja -DXELO_WERROR=ON "$@"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 300
}

run_suite build
if [ "$sanitizers" = 1 ]; then
  ASAN_OPTIONS=detect_leaks=1 run_suite build-asan -DXELO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
fi
echo "All tests passed."
