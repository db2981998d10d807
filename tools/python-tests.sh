#!/usr/bin/env bash
# Installs the Python package from python/ into a fresh virtual environment in
# the build tree (offline, with Debian's setuptools and pytest through
# --system-site-packages) and runs its tests against that build's library,
# simulator and zelkor program.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir=$(realpath "${BUILD_DIR:-build}")
python=/usr/bin/python3
[ -x "$python" ] || python=python3
venv="$build_dir/python-venv"

source_copy="$build_dir/python-source"
rm -rf "$venv" "$source_copy"
"$python" -m venv --system-site-packages "$venv"
# A copy: building the package leaves files beside its sources.
cp -r "$root/python" "$source_copy"
"$venv/bin/python" -m pip install --quiet --no-index --no-build-isolation "$source_copy"

export ZELKOR_LIBRARY="$build_dir/lib/libzelkor.so"
export ZELKOR_SIM="$build_dir/sim/zelkor-sim"
export ZELKOR_PROGRAM="$build_dir/cli/zelkor"
# The tests match the program's English messages; a Chinese locale would
# have it speak Chinese.
export LC_ALL=C.UTF-8
# From outside the source tree, so that the installed package is the one imported.
cd "$build_dir"
"$venv/bin/python" -c "import zelkor; print('installed Python package zelkor', zelkor.__version__)"
status=0
"$venv/bin/python" -m pytest -p no:cacheprovider -q -rs "$root/python/tests" || status=$?
if [ "$status" -eq 5 ]; then
  echo "python-tests: pytest collected no tests" >&2
  exit 1
fi
exit "$status"
