#!/usr/bin/env bash
# Installs the Debian packages Xelo needs to build and test, if any is missing;
# with arguments, those packages instead (the Windows scripts name theirs).
#
#   scripts/install-deps.sh              what the Linux build and tests need
#   scripts/install-deps.sh PACKAGE...   these packages
set -euo pipefail
packages=(g++ make cmake ninja-build pkg-config libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev
          clang-16 libclang-rt-16-dev qt6-base-dev qt6-tools-dev libqt6opengl6-dev libgl-dev fonts-dejavu-core python3)
[ $# -gt 0 ] && packages=("$@")
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
