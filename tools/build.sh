#!/usr/bin/env bash
# Configures and builds into ${BUILD_DIR:-build} with warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZELKOR_WARNINGS_AS_ERRORS=ON "$@"
cmake --build "$build_dir"
