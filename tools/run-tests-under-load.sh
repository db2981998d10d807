#!/usr/bin/env bash
# Runs the test command (tools/run-tests.sh, with any arguments given after
# the run count) N times in a row while the machine is busy the way a shared
# one is: two CPU-bound workers (stress-ng) and a parallel build of a second
# copy of the project, restarted whenever it finishes. Prints one line a run
# with the fault campaign's summary of each build (and the scenarios that
# passed only on a second run), then a closing count; each run's output is
# kept in /tmp/zelkor-load-run-<i>.log.
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
shift || true
command -v stress-ng >/dev/null || {
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get install -y --no-install-recommends stress-ng >/dev/null
}
copy=$(mktemp -d /tmp/zelkor-load-copy.XXXXXX)
git archive HEAD | tar -x -C "$copy"
setsid stress-ng --cpu 2 --timeout 0 >/dev/null 2>&1 &
stress_pid=$!
setsid bash -c '
  while true; do
    rm -rf "$1/build"
    cmake -S "$1" -B "$1/build" -G Ninja -DZELKOR_BUILD_APP=OFF >/dev/null 2>&1
    cmake --build "$1/build" -j4 >/dev/null 2>&1
  done' load-build "$copy" &
build_pid=$!
stop_load() {
  for pid in "$stress_pid" "$build_pid"; do
    kill -- -"$pid" 2>/dev/null || kill "$pid" 2>/dev/null
  done
  wait 2>/dev/null
  rm -rf "$copy"
}
trap stop_load EXIT
failed=0
for i in $(seq 1 "$runs"); do
  start=$(date +%s)
  log=/tmp/zelkor-load-run-$i.log
  if tools/run-tests.sh "$@" >"$log" 2>&1; then verdict=passed; else verdict=FAILED; failed=$((failed + 1)); fi
  echo "run $i: $verdict in $(($(date +%s) - start)) s, load $(cut -d' ' -f1-3 /proc/loadavg) ($log)"
  for dir in build build-asan build-tsan; do
    last=$dir/Testing/Temporary/LastTest.log
    [ -f "$last" ] && [ "$(stat -c %Y "$last")" -ge "$start" ] || continue
    grep -a -h -E "^(retried |fault campaign:)" "$last" | sed "s|^|  $dir: |" || true
  done
done
echo "runs under load: $((runs - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
