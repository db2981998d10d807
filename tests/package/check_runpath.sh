#!/usr/bin/env bash
# Every ELF binary and library of the build tree has a run path without empty
# entries (an empty entry means the current directory), and every installed
# one finds the library through $ORIGIN/../<libdir> alone.
set -euo pipefail
build_dir=$1
status=0

runpath_of() { readelf -d "$1" 2>/dev/null | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p'; }
is_elf() { [ "$(head -c 4 "$1" 2>/dev/null | od -An -tx1 | tr -d ' ')" = "7f454c46" ]; }

checked=0
while IFS= read -r -d '' file; do
  is_elf "$file" || continue
  checked=$((checked + 1))
  path=$(runpath_of "$file")
  [ -n "$path" ] || continue
  if [[ ":$path:" == *"::"* ]]; then
    echo "empty run path entry in $file: [$path]"
    status=1
  fi
done < <(find "$build_dir" -path '*/CMakeFiles' -prune -o -type f \( -perm -u+x -o -name '*.so*' \) -print0)
[ "$checked" -gt 0 ] || { echo "no binaries found under $build_dir"; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build_dir" --prefix "$scratch" > /dev/null
while IFS= read -r -d '' file; do
  is_elf "$file" || continue
  path=$(runpath_of "$file")
  if [[ "$path" != '$ORIGIN/../lib'* || "$path" == *:* ]]; then
    echo "installed ${file#"$scratch"/} has run path [$path], expected \$ORIGIN/../<libdir>"
    status=1
  fi
done < <(find "$scratch" -type f -print0)
exit $status
