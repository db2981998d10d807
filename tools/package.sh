#!/usr/bin/env bash
# Makes what we hand out, into dist/:
#   zelkor-<version>-windows.zip   the Windows SDK (x86 and x64)
#   *.deb                          libzelkor<N>, libzelkor-dev, zelkor-tools, parvex
# Reuses the Windows build trees of tools/windows-tests.sh (build-win,
# build-win32) when they exist, and builds the packages in build-deb.
# Fails with a message naming the step when a tool is missing or an artifact
# is incomplete. tools/package-tests.sh tests the result.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dist=$root/dist
step_name=
step() { step_name=$1; echo "== package: $1"; }
trap 'status=$?; [ $status -eq 0 ] || echo "package.sh: FAILED in step \"$step_name\" (exit $status)" >&2' EXIT
die() { echo "package.sh: $*" >&2; exit 1; }

step "tools"
for tool in cmake ninja cpack llvm-dlltool llvm-nm x86_64-w64-mingw32-objdump i686-w64-mingw32-gcc-posix \
  x86_64-w64-mingw32-gcc-posix i686-w64-mingw32-strip x86_64-w64-mingw32-strip strings sha256sum dpkg-deb dpkg-shlibdeps fakeroot lintian help2man gzip; do
  command -v "$tool" >/dev/null || die "missing tool: $tool (tools/install-deps.sh --windows installs it)"
done
version=$(sed -n 's/^project(zelkor VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || die "no version in CMakeLists.txt"
name=zelkor-$version-windows

# build_windows <dir> <toolchain>: the DLL, zelkor.exe and the import libraries.
build_windows() {
  if [ ! -f "$1/CMakeCache.txt" ]; then
    cmake -S . -B "$1" -G Ninja --toolchain "$2" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DZELKOR_WARNINGS_AS_ERRORS=ON -DZELKOR_BUILD_TESTS=OFF
  fi
  cmake --build "$1" --target zelkor zelkor-cli zelkor_msvc_import_library
}
step "Windows x64 build"
build_windows "${WIN_BUILD_DIR:-build-win}" cmake/mingw-w64-x86_64.cmake
step "Windows x86 build"
build_windows "${WIN32_BUILD_DIR:-build-win32}" cmake/mingw-w64-i686.cmake

step "SDK tree"
rm -rf "${dist:?}/$name" "$dist/$name.zip"
mkdir -p "$dist/$name"
sdk=$dist/$name
for arch in x64 x86; do
  case $arch in
    x64) win=${WIN_BUILD_DIR:-build-win} triplet=x86_64-w64-mingw32 ;;
    x86) win=${WIN32_BUILD_DIR:-build-win32} triplet=i686-w64-mingw32 ;;
  esac
  mkdir -p "$sdk/bin/$arch" "$sdk/lib/$arch"
  cp "$win/bin/zelkor.dll" "$win/bin/zelkor.exe" "$sdk/bin/$arch/"
  cp "$win/lib/zelkor.lib" "$win/lib/libzelkor.dll.a" "$sdk/lib/$arch/"
  # Handed out without debug information; the build trees keep it.
  "$triplet-strip" --strip-debug "$sdk/bin/$arch/zelkor.dll" "$sdk/bin/$arch/zelkor.exe"
done
cp "${WIN_BUILD_DIR:-build-win}/lib/zelkor.def" "$sdk/zelkor.def"
mkdir -p "$sdk/include"
cp reader/include/zelkor.h "$sdk/include/"
cp -r samples "$sdk/samples"
cp sdk/README.md sdk/README.zh-CN.md "$sdk/"
# The Python package as it installs with pip (its tests stay in the source tree).
mkdir -p "$sdk/python"
cp -r python/pyproject.toml python/README.md python/zelkor python/examples "$sdk/python/"
find "$sdk/python" -name __pycache__ -prune -exec rm -rf {} +

step "SDK check"
tests/windows/check_sdk_binaries.sh reader/exports.map "$sdk/zelkor.def" "$version" \
  "x86:$sdk/bin/x86:$sdk/lib/x86" "x64:$sdk/bin/x64:$sdk/lib/x64"
while read -r file; do
  [ -s "$sdk/$file" ] || die "the SDK lacks $file"
done < sdk/files.txt

step "SDK archive"
(cd "$sdk" && find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort | xargs sha256sum > SHA256SUMS)
(cd "$dist" && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "$dist/$name.zip"

step "Debian build"
deb=${DEB_BUILD_DIR:-build-deb}
cmake -S . -B "$deb" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DZELKOR_BUILD_TESTS=OFF -DZELKOR_INSTALL_RPATH=OFF -DZELKOR_WARNINGS_AS_ERRORS=ON
cmake --build "$deb"

step "Debian packages"
rm -rf "$deb/packages" "$dist"/*.deb
(cd "$deb" && cpack -G DEB)
cp "$deb"/packages/*.deb "$dist/"
major=${version%%.*}
for package in "libzelkor$major" libzelkor-dev zelkor-tools parvex; do
  ls "$dist/${package}_${version}_"*.deb >/dev/null 2>&1 || die "no package $package"
done
# Whatever uses the library depends on its package of the same version.
for package in libzelkor-dev zelkor-tools parvex; do
  dpkg-deb -f "$dist/${package}_${version}_"*.deb Depends | grep -q "libzelkor$major (= $version)" \
    || die "$package does not depend on libzelkor$major (= $version)"
done

step "lintian"
lintian --fail-on error "$dist"/*.deb

step "done"
ls -l "$dist/$name.zip" "$dist"/*.deb
