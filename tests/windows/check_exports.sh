#!/usr/bin/env bash
# check_exports.sh <objdump> <exports.map> <zelkor.dll> [<dir of programs>]
# Passes when the DLL's export table holds exactly the functions that
# exports.map lists, and when the DLL and every program in the directory
# import nothing but Windows' own DLLs (and zelkor.dll).
set -euo pipefail
objdump=$1 map=$2 dll=$3 dir=${4:-}
failed=0

expected=$(sed -n '/global:/,/local:/p' "$map" | sed -e 's/global://' -e 's/local:.*//' \
  | tr ';' '\n' | tr -d ' \t' | grep -v '^$' | sort)
exported=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
  | sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
if [ "$(wc -l <<<"$expected")" -ne 37 ]; then
  echo "exports.map lists $(wc -l <<<"$expected") functions, not 37" >&2
  failed=1
fi
if [ "$expected" != "$exported" ]; then
  echo "export table of $dll differs from exports.map (< listed, > exported):" >&2
  diff <(echo "$expected") <(echo "$exported") >&2 || true
  failed=1
else
  echo "$(basename "$dll"): exports exactly the $(wc -l <<<"$exported") functions"
fi

# DLLs that every Windows installation has.
system_dlls='^(kernel32|user32|advapi32|msvcrt|ucrtbase|ntdll|ws2_32|shell32|ole32|bcrypt|api-ms-win-[a-z0-9-]+)\.dll$'
files=("$dll")
if [ -n "$dir" ]; then
  while IFS= read -r -d '' f; do files+=("$f"); done < <(find "$dir" -maxdepth 1 -name '*.exe' -print0)
fi
for f in "${files[@]}"; do
  while read -r name; do
    lower=${name,,}
    if [[ ! $lower =~ $system_dlls && $lower != zelkor.dll ]]; then
      echo "$(basename "$f") needs $name, which Windows does not have" >&2
      failed=1
    fi
  done < <("$objdump" -p "$f" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
[ "$failed" -eq 0 ] && echo "imports: only Windows' own DLLs in ${#files[@]} files"
exit "$failed"
