#!/usr/bin/env bash
# The OPC proxy/stub DLL (windows/idl) tested out of process under Wine:
# cross-builds the DLL and its test programs with MinGW-w64 into
# build-mingw-idl (only those targets, not the library), registers them
# in a fresh Wine prefix and runs the test client against the test
# server (windows/idl/tests/run-opc-proxy-test.sh).
#
#   scripts/test-opc-proxy.sh                  build and test
#   scripts/test-opc-proxy.sh --without-fixer  the same with widl's proxy as
#       widl wrote it, uncorrected: succeeds only if the test catches that
#       proxy's faults, i.e. if the client fails
#   XELO_JOBS=4 scripts/test-opc-proxy.sh      more parallel jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."

proxy=xelo_opc_ps
case "${1:-}" in
  "") ;;
  --without-fixer) proxy=xelo_opc_ps_uncorrected ;;
  *) echo "usage: $0 [--without-fixer]" >&2; exit 2 ;;
esac

# widl's imports (unknwn.idl, ...) come from libwine-dev.
packages=(cmake ninja-build python3 wine wine64 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev)
scripts/install-deps.sh "${packages[@]}"

jobs="${XELO_JOBS:-2}"
dir=build-mingw-idl
cmake -S . -B "$dir" -G Ninja --toolchain cmake/mingw-w64.cmake -DXELO_BUILD_TESTS=OFF -DXELO_WERROR=ON >/dev/null
cmake --build "$dir" -j"$jobs" --target "$proxy" xelo_opc_proxy_test_server xelo_opc_proxy_test_client

status=0
sh windows/idl/tests/run-opc-proxy-test.sh "$dir/windows/idl/$proxy.dll" \
  "$dir/windows/idl/tests/xelo_opc_proxy_test_server.exe" \
  "$dir/windows/idl/tests/xelo_opc_proxy_test_client.exe" "$PWD/$dir/windows/idl/wineprefix" || status=$?

if [ "$proxy" = xelo_opc_ps ]; then
  exit $status
fi
case $status in
  0) echo "without the correction the test still passed: it does not catch widl's fault" >&2; exit 1 ;;
  3) exit 3 ;;
  *) echo "without the correction the test failed (status $status), as it must"; exit 0 ;;
esac
