#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need (Debian 12).
# --windows: also the mingw-w64 cross compilers and Wine for the Windows build.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev googletest
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n
  fonts-wqy-microhei xvfb xauth
  clang libclang-rt-14-dev llvm
  nlohmann-json3-dev libcli11-dev
  python3-venv python3-setuptools python3-pytest
)
if [ "${1:-}" = "--windows" ]; then
  packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64)
fi
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
