#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine (the build's emulator).
#
#   wine-run.sh [--peer=sim|echo --com=N --sim=PATH --echo=PATH] program.exe [args]
#
# With --peer, a Linux peer from the native build is put behind COM<N> first:
# the simulated reader (zelkor-sim) or a pseudo-terminal that echoes every
# byte. The peer publishes its pseudo-terminal, which becomes the Wine
# prefix's dosdevices/com<N>. The program learns the port from ZELKOR_TEST_COM;
# it can send the simulator commands (unplug, none, ...) by appending lines
# to the file named by ZELKOR_SIM_CONTROL and read its answers in
# ZELKOR_SIM_LOG (both as Windows paths). The peer and the link go when the
# program ends.
set -euo pipefail
: "${WINEPREFIX:?set WINEPREFIX to the Wine prefix the tests may use}"
wine=${ZELKOR_WINE:-wine}
peer= com= sim= echo_peer=
while [ $# -gt 0 ]; do
  case "$1" in
    --peer=*) peer=${1#*=} ;;
    --com=*) com=${1#*=} ;;
    --sim=*) sim=${1#*=} ;;
    --echo=*) echo_peer=${1#*=} ;;
    *) break ;;
  esac
  shift
done

if [[ " $* " == *" --gtest_list_tests "* ]]; then
  # Windows programs end lines with CR LF; test discovery would keep the CR
  # in the test names.
  status=0
  "$wine" "$@" | tr -d '\r' || status=${PIPESTATUS[0]}
  exit "$status"
fi
if [ -z "$peer" ]; then
  exec "$wine" "$@"
fi

work=$(mktemp -d /tmp/zelkor-wine.XXXXXX)
link="$WINEPREFIX/dosdevices/com$com"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -f "$link"
  rm -rf "$work"
}
trap cleanup EXIT

: >"$work/control"
case "$peer" in
  sim)
    # The simulator reads its commands from standard input: feed it the
    # control file as it grows.
    exec 3< <(exec tail -s 0.05 -n +1 -f "$work/control")
    pids+=($!)
    "$sim" "$work" "$com" <&3 >"$work/log" 2>&1 &
    pids+=($!)
    exec 3<&-
    ;;
  echo)
    "$echo_peer" "$work" "$com" >"$work/log" 2>&1 &
    pids+=($!)
    ;;
  *) echo "wine-run: unknown peer '$peer'" >&2; exit 2 ;;
esac
for _ in $(seq 200); do
  [ -L "$work/COM$com" ] && break
  sleep 0.025
done
if ! target=$(readlink "$work/COM$com"); then
  echo "wine-run: the $peer peer did not publish COM$com" >&2
  cat "$work/log" >&2
  exit 1
fi
ln -sfn "$target" "$link"

export ZELKOR_TEST_COM=$com ZELKOR_SIM_CONTROL="Z:$work/control" ZELKOR_SIM_LOG="Z:$work/log"
status=0
"$wine" "$@" || status=$?
exit "$status"
