#!/bin/sh
# Runs the out-of-process proxy/stub test under Wine in a fresh prefix:
#   run-opc-proxy-test.sh PROXY_DLL SERVER_EXE CLIENT_EXE PREFIX_DIR
# registers the proxy/stub DLL (regsvr32) and the test server
# (LocalServer32, through its /RegServer), then runs the client, which
# creates the server out of process and checks every value.
# Exit status: the client's (0 all checks passed, 1 mismatches, 2 no
# server object, other: the client crashed), 3 when the setup failed.
set -u
if [ $# -ne 4 ]; then
  echo "usage: $0 PROXY_DLL SERVER_EXE CLIENT_EXE PREFIX_DIR" >&2
  exit 3
fi
proxy=$1 server=$2 client=$3
export WINEPREFIX=$4
export WINEDEBUG=-all
# No Mono/Gecko installer dialogs, no crash debugger (a crash is the exit
# status, not a page of winedbg output).
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEARCH=win64

setup_failed() {
  echo "opc proxy test: $1" >&2
  wineserver -k >/dev/null 2>&1
  exit 3
}

# A fresh prefix: nothing registered by an earlier run (or by another
# vendor's proxy/stub for the same interfaces) may make the test pass. It
# must have finished booting before the first out-of-process activation,
# or that activation can hang.
wineserver -k >/dev/null 2>&1
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 || setup_failed "wineboot -i failed"
wineserver -w

dir="$WINEPREFIX/drive_c/xelo-opc-proxy-test"
mkdir -p "$dir"
cp "$proxy" "$dir/xelo_opc_ps.dll" && cp "$server" "$dir/server.exe" && cp "$client" "$dir/client.exe" ||
  setup_failed "cannot copy the programs into the prefix"

wine regsvr32 /s 'C:\xelo-opc-proxy-test\xelo_opc_ps.dll' >/dev/null 2>&1 ||
  setup_failed "regsvr32 xelo_opc_ps.dll failed"
wine 'C:\xelo-opc-proxy-test\server.exe' /RegServer >/dev/null 2>&1 ||
  setup_failed "server.exe /RegServer failed"
wineserver -w  # the registrations are on disk before the activation

# The proxy/stub must have claimed the interfaces (IOPCCommon, IOPCServer).
for iid in F31DFDE2-07B6-11D2-B2D8-0060083BA1FB 39C13A4D-011E-11D0-9675-0020AFD8ADB3; do
  wine reg query "HKCR\\Interface\\{$iid}\\ProxyStubClsid32" 2>/dev/null | grep -qi '113E7348-FFC8-4470-8F13-DFD728655749' ||
    setup_failed "regsvr32 did not register the proxy/stub for {$iid}"
done

start=$(date +%s)
log="$WINEPREFIX/client.log"
timeout 240 wine 'C:\xelo-opc-proxy-test\client.exe' >"$log" 2>&1
status=$?
tr -d '\r' <"$log"
echo "client exit status $status after $(($(date +%s) - start)) s"
wineserver -k >/dev/null 2>&1
exit $status
