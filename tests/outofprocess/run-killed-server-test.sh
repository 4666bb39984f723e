#!/bin/sh
# Runs the killed-server test of the out-of-process tests in a Wine session
# of its own: a copy of the run's prefix (where the simulation server and
# the proxy/stub are registered) under a wineserver of its own. Ending a
# server's process leaves Wine's class table believing the server is still
# there, which would fail every later activation in the shared session.
#   run-killed-server-test.sh OUTOFPROCESS_TESTS_EXE
set -u
if [ $# -ne 1 ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "usage: WINEPREFIX=... $0 OUTOFPROCESS_TESTS_EXE" >&2
  exit 3
fi
copy=$(mktemp -d "${TMPDIR:-/tmp}/xelo-killed-server.XXXXXX") || exit 3
# Hard links make the copy instant; the registry files, which the session
# rewrites, are copied for real.
cp -al "$WINEPREFIX/." "$copy/" || { rm -rf "$copy"; exit 3; }
for hive in system.reg user.reg userdef.reg; do
  rm -f "$copy/$hive" && cp "$WINEPREFIX/$hive" "$copy/$hive" || { rm -rf "$copy"; exit 3; }
done
export WINEPREFIX="$copy" XELO_KILL_SIMULATION_SERVER=1
wine "$1" --gtest_filter=ServerInItsOwnProcess.AKilledServerIsReportedWithoutAHang </dev/null
status=$?
wineserver -k >/dev/null 2>&1
rm -rf "$copy"
exit $status
