#!/usr/bin/env bash
# Installs the dependencies, builds everything, starts the simulated reader
# published as COM3 and opens Parvex on it.
# While Parvex runs, this terminal takes the simulator's commands (s50, s70,
# ul, cpu, none, unplug, plug, help). Closing Parvex stops the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
build_dir=${BUILD_DIR:-build}

port_dir=$(mktemp -d /tmp/zelkor-ports.XXXXXX)
export ZELKOR_PORT_DIR=$port_dir
# Without job control a background job reads /dev/null unless told otherwise:
# give the simulator this terminal's input so its commands can be typed here.
exec 3<&0
"$build_dir/sim/zelkor-sim" "$port_dir" 3 <&3 &
sim_pid=$!
exec 3<&-
cleanup() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  rm -rf "$port_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for _ in $(seq 100); do [ -e "$port_dir/COM3" ] && break; sleep 0.05; done
if [ ! -e "$port_dir/COM3" ]; then
  echo "run-demo: the simulator did not publish COM3" >&2
  exit 1
fi
echo "Parvex: pick \"COM3\" in the port list and press 打开串口, then 获取卡片信息."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running Parvex under a virtual X server (xvfb-run)."
  xvfb-run -a "$build_dir/app/Parvex"
else
  "$build_dir/app/Parvex"
fi
