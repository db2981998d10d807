#!/usr/bin/env bash
# Cross-builds the library (and the command-line program, where present) for
# Windows into ${WIN_BUILD_DIR:-build-win} with warnings as errors, and runs
# its tests under Wine in a private prefix, against the simulator of the
# native build ${BUILD_DIR:-build} (built here when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
native=${BUILD_DIR:-build}
win=${WIN_BUILD_DIR:-build-win}
tools/install-deps.sh --windows

if [ ! -f "$native/CMakeCache.txt" ]; then
  BUILD_DIR=$native tools/build.sh -DZELKOR_BUILD_APP=OFF
else
  cmake --build "$native" --target zelkor-sim zelkor-pty-echo
fi
cmake -S . -B "$win" -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELKOR_WARNINGS_AS_ERRORS=ON \
  -DZELKOR_NATIVE_BUILD_DIR="$PWD/$native"
cmake --build "$win"

# A prefix of our own, removed afterwards. Wine's background processes keep
# the standard output they were started with, so they get /dev/null: a pipe
# reading this script's output would otherwise never end. err+module shows a
# DLL that fails to load, which -all alone hides behind exit code 53.
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/zelkor-wine-prefix.XXXXXX)
export WINEDEBUG=-all,err+module
# No Mono or Gecko installers in a prefix that needs neither.
export WINEDLLOVERRIDES="mscoree=;mshtml="
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
wineserver -p >/dev/null 2>&1 </dev/null
wineboot -i >/dev/null 2>&1 </dev/null

ctest --test-dir "$win" -j 4 --output-on-failure
