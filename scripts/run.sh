#!/usr/bin/env bash
# Installs what is missing (Debian 12, run as root), builds the xelo
# command-line client and shows live values of the embedded simulation
# server for a few seconds.
#
#   scripts/run.sh             watch three items of Xelo.Sim.1 for five seconds
#   scripts/run.sh ARGS...     run xelo with ARGS instead, e.g. scripts/run.sh browse
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs="${XELO_JOBS:-2}"
# The same tree and settings as scripts/test.sh, so the two share one build.
cmake --log-level=WARNING -S . -B build -G Ninja -DXELO_WERROR=ON
cmake --build build -j"$jobs" --target xelo

if [ $# -gt 0 ]; then
  exec build/apps/xelo "$@"
fi
exec build/apps/xelo watch "Channel 1.Device 1.Ramp" "Channel 1.Device 1.Sine" "Channel 1.Device 1.Random" \
  --rate 500 --duration 5
