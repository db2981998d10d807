#!/usr/bin/env bash
# Installs the dependencies, builds, and runs every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
# Many cases wait out the reader's 1000 ms answer time by design; they run
# side by side, each in a process of its own.
QT_QPA_PLATFORM=offscreen ctest --test-dir "${BUILD_DIR:-build}" -j 8 --output-on-failure
