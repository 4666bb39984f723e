#!/usr/bin/env bash
# Installs what is missing (Debian 12, run as root), builds Xelo and runs the
# whole test suite twice: a normal build, then one under AddressSanitizer and
# UndefinedBehaviorSanitizer (leak detection on). After the normal build,
# scripts/test-install.sh checks the installed package as its users build
# against it (find_package and pkg-config). scripts/test-ratio.py holds the
# suite to its size first: at most 40 % of the code, no layer above 45 %
# (tests that grow past that are restating the code). Then, with clang 16 or
# newer at hand, builds the libFuzzer targets and runs each of them for a
# bounded time (XELO_FUZZ_SECONDS, 20 by default). Last, the Windows build:
# scripts/test-windows.sh cross-compiles with MinGW-w64 and runs the whole
# suite under Wine, the OPC proxy/stub's out-of-process test included.
#
#   scripts/test.sh                  everything
#   scripts/test.sh --no-sanitizers  without the sanitizer build
#   scripts/test.sh --no-fuzz        without the fuzz targets
#   scripts/test.sh --no-windows     without the Windows build under Wine
set -euo pipefail
cd "$(dirname "$0")/.."

sanitizers=1
fuzz=1
windows=1
for arg in "$@"; do
  case "$arg" in
    --no-sanitizers) sanitizers=0 ;;
    --no-fuzz) fuzz=0 ;;
    --no-windows) windows=0 ;;
    -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
    *) echo "unknown option: $arg" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh
python3 scripts/test-ratio.py --check

jobs="${XELO_JOBS:-2}"
run_suite() {  # <build dir> <cmake options...>
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja -DXELO_WERROR=ON "$@"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 300
}

run_suite build
scripts/test-install.sh build
if [ "$sanitizers" = 1 ]; then
  ASAN_OPTIONS=detect_leaks=1 run_suite build-asan -DXELO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
fi

# clang 14, Debian's default, cannot compile the C++20 ranges of GCC 12's
# standard library that the core uses; 16 can.
find_fuzz_compiler() {
  local candidate major
  for candidate in "${XELO_FUZZ_CXX:-}" clang++-16 clang++-17 clang++-18 clang++-19 clang++; do
    [ -n "$candidate" ] && command -v "$candidate" >/dev/null 2>&1 || continue
    major="$("$candidate" -dumpversion 2>/dev/null | cut -d. -f1)"
    if [ "${major:-0}" -ge 16 ]; then echo "$candidate"; return 0; fi
  done
  return 1
}

run_fuzzers() {  # <compiler>
  local dir=build-fuzz seconds="${XELO_FUZZ_SECONDS:-20}" targets=() source name corpus log options inputs
  for source in fuzz/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
  cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER="$1" -DXELO_BUILD_FUZZERS=ON -DXELO_BUILD_TESTS=OFF \
    -DXELO_WERROR=ON
  cmake --build "$dir" -j"$jobs" --target "${targets[@]}"
  mkdir -p "$dir/artifacts"
  for name in "${targets[@]}"; do
    # New inputs go to a scratch corpus; the checked-in seeds are only read.
    corpus="$(mktemp -d)"
    log="$dir/artifacts/$name.log"
    options=(-max_total_time="$seconds" -timeout=30 -print_final_stats=1 -artifact_prefix="$dir/artifacts/$name-")
    [ -f "fuzz/$name.dict" ] && options+=(-dict="fuzz/$name.dict")
    inputs=("$corpus")
    [ -d "fuzz/corpus/$name" ] && inputs+=("fuzz/corpus/$name")
    echo "fuzzing $name for ${seconds}s"
    if ! "$dir/fuzz/$name" "${options[@]}" "${inputs[@]}" >"$log" 2>&1; then
      tail -n 60 "$log"
      rm -rf "$corpus"
      echo "fuzz target $name failed (log and input in $dir/artifacts)" >&2
      return 1
    fi
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units)' "$log" || true
    rm -rf "$corpus"
  done
}

if [ "$fuzz" = 1 ]; then
  if compiler="$(find_fuzz_compiler)"; then
    run_fuzzers "$compiler"
  else
    echo "No clang++ 16 or newer: fuzz targets skipped."
  fi
fi
if [ "$windows" = 1 ]; then
  scripts/test-windows.sh
fi
echo "All tests passed."
