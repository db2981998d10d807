#!/usr/bin/env bash
# Installs the dependencies, builds, and runs every test suite: a normal
# build with the program, then the library and simulator under
# AddressSanitizer+UndefinedBehaviorSanitizer and under ThreadSanitizer, then
# a short run of each fuzz target, then the Windows build under Wine.
# `--quick` leaves out the sanitizer and fuzz stages; `--skip-windows` leaves
# out the Windows stage.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=full
windows=yes
for arg in "$@"; do
  case "$arg" in
    --quick) mode=--quick ;;
    --skip-windows) windows=no ;;
    *) echo "usage: tools/run-tests.sh [--quick] [--skip-windows]" >&2; exit 2 ;;
  esac
done
tools/install-deps.sh

# Many cases wait out the reader's 1000 ms answer time by design; they run
# side by side, each in a process of its own.
run_ctest() { QT_QPA_PLATFORM=offscreen ctest --test-dir "$1" -j 8 --output-on-failure "${@:2}"; }
results=()

BUILD_DIR=build tools/build.sh
run_ctest build
results+=("normal build: passed")
tools/python-tests.sh
results+=("Python package: passed")

if [ "$mode" != "--quick" ]; then
  BUILD_DIR=build-asan tools/build.sh -DZELKOR_SANITIZER=address -DZELKOR_BUILD_APP=OFF
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    run_ctest build-asan -LE package
  results+=("AddressSanitizer+UndefinedBehaviorSanitizer: passed")

  BUILD_DIR=build-tsan tools/build.sh -DZELKOR_SANITIZER=thread -DZELKOR_BUILD_APP=OFF
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest build-tsan -LE package
  results+=("ThreadSanitizer: passed")

  CC=clang CXX=clang++ BUILD_DIR=build-fuzz tools/build.sh -DZELKOR_BUILD_FUZZERS=ON \
    -DZELKOR_BUILD_TESTS=OFF -DZELKOR_BUILD_APP=OFF -DZELKOR_BUILD_SIM=OFF
  for target in receive_path hex_text access_bits dump_formats ultralight_formats; do
    work=$(mktemp -d)
    cp tests/fuzz/corpus/$target/* "$work/"
    echo "== fuzz_$target, ${FUZZ_SECONDS:-60} s"
    status=0
    build-fuzz/tests/fuzz/fuzz_$target -max_total_time="${FUZZ_SECONDS:-60}" -rss_limit_mb=4096 \
      -print_final_stats=1 "$work" > "$work.log" 2>&1 || status=$?
    grep -E "^stat::number_of_executed_units|DONE|ERROR|SUMMARY" "$work.log" || true
    [ "$status" -eq 0 ] || { tail -n 40 "$work.log"; exit 1; }
    rm -rf "$work" "$work.log"
    results+=("fuzz_$target: no crash")
  done
fi

if [ "$windows" = yes ]; then
  started=$(date +%s)
  tools/windows-tests.sh
  results+=("Windows build under Wine: passed in $(($(date +%s) - started)) s")
fi
printf '%s\n' "${results[@]}"
echo "suites: ${#results[@]} passed, 0 failed"
