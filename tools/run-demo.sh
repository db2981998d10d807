#!/usr/bin/env bash
# Installs the dependencies, builds, starts the simulated reader published as
# COM3 and opens Parvex on it. Closing Parvex stops the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
build_dir=${BUILD_DIR:-build}
port_dir=$(mktemp -d /tmp/zelkor-ports.XXXXXX)
export ZELKOR_PORT_DIR=$port_dir
coproc SIM { exec "$build_dir/sim/zelkor-sim" "$port_dir" 3; }
trap 'kill "$SIM_PID" 2>/dev/null || true; rm -rf "$port_dir"' EXIT
read -r banner <&"${SIM[0]}"
echo "$banner"
for _ in $(seq 100); do [ -e "$port_dir/COM3" ] && break; sleep 0.05; done
echo "Parvex: pick \"COM3\" in the port list and press 打开串口."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running Parvex under a virtual X server (xvfb-run)."
  xvfb-run -a "$build_dir/app/Parvex"
else
  "$build_dir/app/Parvex"
fi
