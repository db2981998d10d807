#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds and runs a consumer
# that finds the library through find_package and through pkg-config.
set -euo pipefail
build_dir=$1
source_dir=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for component in runtime dev; do
  cmake --install "$build_dir" --prefix "$scratch/prefix" --component $component > /dev/null
done
export PKG_CONFIG_PATH="$scratch/prefix/lib/pkgconfig:$scratch/prefix/lib/x86_64-linux-gnu/pkgconfig"
cmake -S "$source_dir" -B "$scratch/build" -DCMAKE_PREFIX_PATH="$scratch/prefix" > /dev/null
cmake --build "$scratch/build" > /dev/null
libdir=$(dirname "$(find "$scratch/prefix" -name 'libzelkor.so' | head -n 1)")
LD_LIBRARY_PATH=$libdir "$scratch/build/consumer_cmake"
LD_LIBRARY_PATH=$libdir "$scratch/build/consumer_pkgconfig"
