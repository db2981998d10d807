#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need (Debian 12).
# --windows: also the mingw-w64 cross compilers (x86 and x64), 64- and 32-bit
# Wine, and what the SDK and the Debian packages are made and tested with.
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
  packages+=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix wine32:i386 lld
    mono-mcs mono-runtime lintian help2man fakeroot dpkg-dev python3)
fi
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
# 32-bit Wine is Debian's i386 architecture. Installing it upgrades amd64
# libraries to the i386 copies' version, so it happens before any build.
if [[ " ${packages[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
