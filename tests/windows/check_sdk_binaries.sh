#!/usr/bin/env bash
# check_sdk_binaries.sh <exports.map> <zelkor.def> <version> <arch>:<bin dir>:<lib dir>...
# One table over the bitnesses given (arch x86 or x64): the DLL and zelkor.exe
# are PE files of that architecture with VERSIONINFO <version>; the DLL exports
# exactly the functions of exports.map (37) by their plain names; zelkor.def
# lists them; zelkor.lib (Visual C++) and libzelkor.dll.a (MinGW) import every
# one of them, with the leading underscore of cdecl on x86 and none on x64.
# Every failure is named; the exit status is 1 when any check failed.
set -euo pipefail
map=$1 def=$2 version=$3
shift 3
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
nm=${NM:-llvm-nm}
failed=0
fail() { echo "FAILED: $*" >&2; failed=1; }

expected=$(sed -n '/global:/,/local:/p' "$map" | sed -e 's/global://' -e 's/local:.*//' \
  | tr ';' '\n' | tr -d ' \t' | grep -v '^$' | sort)
[ "$(wc -l <<<"$expected")" -eq 37 ] || fail "$map lists $(wc -l <<<"$expected") functions, not 37"
listed=$(sed -n '/^EXPORTS/,$p' "$def" 2>/dev/null | sed 1d | tr -d ' \t\r' | grep -v '^$' | sort || true)
[ "$listed" = "$expected" ] || fail "$def does not list exactly the functions of $map"

# version_of <file> <field>: a VERSIONINFO string, stored as UTF-16.
version_of() { strings -el "$1" | grep -A1 -x "$2" | sed -n 2p; }

for row in "$@"; do
  IFS=: read -r arch bin lib <<<"$row"
  case "$arch" in
    x86) format=pei-i386 prefix=_ ;;
    x64) format=pei-x86-64 prefix= ;;
    *) fail "unknown architecture '$arch'"; continue ;;
  esac
  for file in "$bin/zelkor.dll" "$bin/zelkor.exe"; do
    if [ ! -f "$file" ]; then fail "$arch: $file is missing"; continue; fi
    "$objdump" -f "$file" | grep -q "file format $format" || fail "$arch: $file is not $format"
    for field in FileVersion ProductVersion; do
      [ "$(version_of "$file" $field)" = "$version" ] || fail "$arch: $file has no $field $version"
    done
  done
  if [ -f "$bin/zelkor.dll" ]; then
    exported=$("$objdump" -p "$bin/zelkor.dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
      | sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
    [ "$exported" = "$expected" ] || fail "$arch: zelkor.dll exports $(wc -l <<<"$exported") names, not exactly those of $map"
  fi
  for import_lib in zelkor.lib libzelkor.dll.a; do
    file=$lib/$import_lib
    if [ ! -f "$file" ]; then fail "$arch: $file is missing"; continue; fi
    symbols=$("$nm" "$file" 2>/dev/null | awk '{print $NF}' | sort -u)
    missing=0
    while read -r name; do
      grep -qx "__imp_$prefix$name" <<<"$symbols" || missing=$((missing + 1))
    done <<<"$expected"
    [ "$missing" -eq 0 ] || fail "$arch: $import_lib lacks $missing of the 37 functions as __imp_$prefix<name>"
  done
  [ "$failed" -eq 0 ] && echo "$arch: zelkor.dll, zelkor.exe, zelkor.lib and libzelkor.dll.a: 37 functions, version $version"
done
exit "$failed"
