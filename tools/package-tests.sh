#!/usr/bin/env bash
# Tests what tools/package.sh put into dist/, as a user receives it:
#   sdk.c_sample       the C sample from the unpacked SDK archive, built with
#                      MinGW for x86 and x64, runs under Wine against the simulator
#   sdk.csharp_sample  the C# sample from the archive, built with mcs, runs
#                      under mono against libzelkor.so and the simulator
#   sdk.python_package the Python package from the archive, installed with pip
#                      into a virtual environment, finds a card on the simulator
#   deb.round_trip     the Debian packages install (dpkg -i, apt-get -f install),
#                      work (zelkor --version, man pages, pkg-config and
#                      find_package consumers) and go again; as root only
# The simulator and libzelkor.so come from the native build ${BUILD_DIR:-build}.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
native=${BUILD_DIR:-build}
version=$(sed -n 's/^project(zelkor VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
major=${version%%.*}
zip=dist/zelkor-$version-windows.zip
[ -f "$zip" ] || { echo "no $zip: run tools/package.sh first" >&2; exit 1; }
cmake --build "$native" --target zelkor zelkor-sim zelkor-pty-echo >/dev/null

work=$(mktemp -d /tmp/zelkor-package-tests.XXXXXX)
sim_pid=
cleanup() {
  [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
  [ -z "${WINEPREFIX:-}" ] || wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
results=()
expect() {  # expect <file> <text>...: every text is in the file
  local file=$1; shift
  for text in "$@"; do
    grep -qF -- "$text" "$file" || { echo "missing in the output: $text" >&2; cat "$file" >&2; return 1; }
  done
}

echo "== the archive unpacks and its checksums hold"
(cd "$work" && cmake -E tar xf "$root/$zip")
sdk=$work/zelkor-$version-windows
(cd "$sdk" && sha256sum --quiet -c SHA256SUMS)
results+=("sdk.archive: unpacked, $(wc -l <"$sdk/SHA256SUMS") checksums hold")

# The sample's own lines and the library's GBK trace between them.
sample_lines=("sample: card type 11, UID 3A7C51E2" "sample: block 4: 5A 65 6C 6B 6F 72" \
  "sample: wallet 1000 + 25 = 1025" "sample: done")
found_gbk=$(printf '寻卡成功' | iconv -f UTF-8 -t GBK)

echo "== sdk.c_sample: MinGW x86 and x64, under Wine"
export WINEPREFIX=$work/wine WINEDEBUG=-all,err+module WINEDLLOVERRIDES="mscoree=;mshtml="
wineboot -i >/dev/null 2>&1 </dev/null
for arch in x86 x64; do
  case $arch in x86) cc=i686-w64-mingw32-gcc-posix ;; x64) cc=x86_64-w64-mingw32-gcc-posix ;; esac
  out=$work/c-$arch
  mkdir -p "$out"
  "$cc" -std=c99 -Wall -Werror -I"$sdk/include" "$sdk/samples/c/zelkor_sample.c" \
    -L"$sdk/lib/$arch" -lzelkor -o "$out/zelkor_sample.exe"
  cp "$sdk/bin/$arch/zelkor.dll" "$out/"
  tests/windows/wine-run.sh --peer=sim --com=26 --sim="$native/sim/zelkor-sim" --echo="$native/tests/zelkor-pty-echo" \
    "$out/zelkor_sample.exe" 26 > "$out/output"
  expect "$out/output" "sample: zelkor $version, port COM26" "${sample_lines[@]}" "$found_gbk"
  results+=("sdk.c_sample $arch: passed")
done

echo "== sdk.csharp_sample: mcs and mono"
out=$work/csharp
mkdir -p "$out/ports"
mcs -warnaserror -out:"$out/Sample.exe" "$sdk/samples/csharp/Zelkor.cs" "$sdk/samples/csharp/Sample.cs"
"$native/sim/zelkor-sim" "$out/ports" 27 </dev/null > "$out/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 200); do [ -L "$out/ports/COM27" ] && break; sleep 0.025; done
ZELKOR_PORT_DIR=$out/ports LD_LIBRARY_PATH=$root/$native/lib mono "$out/Sample.exe" 27 > "$out/output"
expect "$out/output" "${sample_lines[@]}" "$found_gbk"
results+=("sdk.csharp_sample: passed")
kill "$sim_pid" 2>/dev/null || true
sim_pid=

echo "== sdk.python_package: pip install from the archive, a card found through it"
out=$work/python
mkdir -p "$out/ports"
/usr/bin/python3 -m venv --system-site-packages "$out/venv"
cp -r "$sdk/python" "$out/source"
"$out/venv/bin/python" -m pip install --quiet --no-index --no-build-isolation "$out/source"
"$native/sim/zelkor-sim" "$out/ports" 28 </dev/null > "$out/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 200); do [ -L "$out/ports/COM28" ] && break; sleep 0.025; done
(cd "$out" && ZELKOR_PORT_DIR=$out/ports ZELKOR_LIBRARY=$root/$native/lib/libzelkor.so "$out/venv/bin/python" -c '
import zelkor
with zelkor.Reader(28, trace=lambda line: None) as reader:
    card = reader.find_card()
    print("python:", zelkor.__version__, card.type_name, card.uid.hex().upper())
') > "$out/output"
expect "$out/output" "python: $version S50 3A7C51E2"
results+=("sdk.python_package: passed")
kill "$sim_pid" 2>/dev/null || true
sim_pid=

echo "== deb.round_trip"
if [ "$(id -u)" -ne 0 ]; then
  results+=("deb.round_trip: skipped, it installs packages and needs root")
else
  packages=("libzelkor$major" libzelkor-dev zelkor-tools parvex)
  for p in "${packages[@]}"; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
      echo "$p is installed already; the round trip would remove it" >&2
      exit 1
    fi
  done
  remove() { DEBIAN_FRONTEND=noninteractive apt-get purge -y "${packages[@]}" >/dev/null 2>&1 || true; }
  trap 'remove; cleanup' EXIT
  dpkg -i dist/*_"$version"_*.deb > "$work/dpkg.log" 2>&1 \
    || DEBIAN_FRONTEND=noninteractive apt-get -f install -y --no-install-recommends >> "$work/dpkg.log" 2>&1
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" | grep -q "ok installed" || { cat "$work/dpkg.log" >&2; echo "$p did not install" >&2; exit 1; }
  done
  [ "$(/usr/bin/zelkor --version)" = "zelkor $version" ]
  [ "$(/usr/bin/zelkor-sim --version)" = "zelkor-sim $version" ]
  [ -f /usr/share/man/man1/zelkor.1.gz ] && [ -f /usr/share/man/man1/zelkor-sim.1.gz ]
  [ -f /usr/share/applications/parvex.desktop ] && [ -x /usr/bin/Parvex ]
  [ "$(pkg-config --modversion zelkor)" = "$version" ]
  cmake -S tests/package/consumer -B "$work/consumer" >/dev/null
  cmake --build "$work/consumer" >/dev/null
  "$work/consumer/consumer_cmake" && "$work/consumer/consumer_pkgconfig"
  remove
  for p in "${packages[@]}"; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then echo "$p was not removed" >&2; exit 1; fi
  done
  [ ! -e /usr/bin/zelkor ] && [ ! -e "/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/libzelkor.so.$major" ]
  results+=("deb.round_trip: installed, zelkor $version, consumers built with pkg-config and find_package, removed")
fi
printf '%s\n' "${results[@]}"
