#!/usr/bin/env bash
# Cross-builds the library and the command-line program for 64-bit (x64) and
# 32-bit (x86) Windows with warnings as errors, into ${WIN_BUILD_DIR:-build-win}
# and ${WIN32_BUILD_DIR:-build-win32}, and runs each build's tests under Wine in
# a private prefix, against the simulator of the native build
# ${BUILD_DIR:-build} (built here when missing). Prints each bitness's time.
#   tools/windows-tests.sh [x64|x86]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
native=${BUILD_DIR:-build}
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(x64 x86)
tools/install-deps.sh --windows

if [ ! -f "$native/CMakeCache.txt" ]; then
  BUILD_DIR=$native tools/build.sh -DZELKOR_BUILD_APP=OFF
else
  cmake --build "$native" --target zelkor-sim zelkor-pty-echo
fi

# A prefix of our own, removed afterwards; a 64-bit prefix runs 32-bit and
# 64-bit programs alike. Wine's background processes keep the standard output
# they were started with, so they get /dev/null: a pipe reading this script's
# output would otherwise never end. err+module shows a DLL that fails to load,
# which -all alone hides behind exit code 53.
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

times=()
for arch in "${arches[@]}"; do
  case "$arch" in
    x64) dir=${WIN_BUILD_DIR:-build-win} toolchain=cmake/mingw-w64-x86_64.cmake ;;
    x86) dir=${WIN32_BUILD_DIR:-build-win32} toolchain=cmake/mingw-w64-i686.cmake ;;
    *) echo "usage: tools/windows-tests.sh [x64|x86]..." >&2; exit 2 ;;
  esac
  echo "== Windows $arch: $dir"
  started=$(date +%s)
  cmake -S . -B "$dir" -G Ninja --toolchain "$toolchain" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELKOR_WARNINGS_AS_ERRORS=ON \
    -DZELKOR_NATIVE_BUILD_DIR="$PWD/$native"
  cmake --build "$dir"
  ctest --test-dir "$dir" -j 4 --output-on-failure
  times+=("Windows $arch: built and tested in $(($(date +%s) - started)) s")
done
printf '%s\n' "${times[@]}"
