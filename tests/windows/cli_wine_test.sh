#!/usr/bin/env bash
# The command-line program zelkor.exe under Wine, each call against a fresh
# simulated reader behind COM<n> (wine-run.sh). Outputs are compared as bytes:
# results on a redirected standard output are Windows text (CR LF), files the
# program writes keep the bytes of their format, and the trace arrives on
# standard error as UTF-8 whatever Wine's code page is.
#
#   cli_wine_test.sh <wine-run.sh> <zelkor-sim> <com> <zelkor.exe> <case>
set -uo pipefail
wine_run=$1 sim=$2 com=$3 exe=$4 case=$5
export LC_ALL=C

work=$(mktemp -d /tmp/zelkor-cli-wine.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# zelkor <args>: runs zelkor.exe against the simulator; sets status, out, err.
zelkor() {
  "$wine_run" --peer=sim --com="$com" --sim="$sim" "$exe" "$@" >out.bin 2>err.bin
  status=$?
  out=$(cat -v out.bin)
  err=$(cat -v err.bin)
}
expect_status() {
  [ "$status" -eq "$1" ] || fail "$2: exit status $status, expected $1; stderr: $err"
}
# has <file> <bytes, without a line end> <what>
has() { grep -qF -- "$2" "$1" || fail "$3: '$2' missing from $1: $(cat -v "$1")"; }

printf '# keys of the site\n\nA0A1A2A3A4A5\n5a3c96e10f7b\n' >site.dic

case "$case" in
  info)
    zelkor info -p "COM$com"
    expect_status 0 "info"
    for line in 'card:          MIFARE Classic 1K (S50) (type code 11)' 'UID:           3A7C51E2' \
                'ATQA:          0400' 'SAK:           08'; do
      grep -qxF -- "$line"$'\r' out.bin || fail "info: no line '$line' ending in CR LF: $out"
    done
    grep -q $'[^\r]$' out.bin && fail "info: a result line without CR LF: $out"
    # Code page 936 turns the library's GBK trace into UTF-8 on standard
    # error; standard output keeps the results alone.
    zelkor info -v -p "$com"
    expect_status 0 "info -v"
    has err.bin "发送数据" "info -v"
    grep -qF "发送数据" out.bin && fail "info -v: trace on standard output: $out"
    ;;
  keys)
    zelkor keys --no-builtin -k site.dic -o found.json -p "$com"
    expect_status 0 "keys"
    count=$(grep -c '"Key[AB]": "5A3C96E10F7B"' found.json)
    [ "$count" -eq 32 ] || fail "keys: $count of 32 keys found: $(cat found.json)"
    ;;
  dump_and_diff)
    zelkor dump --no-builtin -k site.dic -o a.mct -p "$com"
    expect_status 0 "dump a.mct"
    has a.mct $'5A3C96E10F7B' "dump"
    grep -q $'\r' a.mct && fail "dump: CR in the file"
    # The dump is written beside the target and renamed over it: a second
    # dump to the same name must replace the first.
    zelkor dump --no-builtin -k site.dic -o b.mct -p "$com"
    zelkor dump --no-builtin -k site.dic -o b.mct -p "$com"
    expect_status 0 "dump over an existing b.mct"
    zelkor diff a.mct b.mct
    expect_status 0 "diff of equal dumps"
    # Byte 2 of block 4 (line 7: a sector header, then blocks) changed.
    sed -i '7s/^\(....\)../\1E7/' b.mct
    cmp -s a.mct b.mct && sed -i '7s/^\(....\)../\1D8/' b.mct
    zelkor diff --json a.mct b.mct
    expect_status 1 "diff of changed dumps"
    has out.bin '"differing_bytes": [' "diff --json"
    tr -d ' \r\n' <out.bin | grep -qF '"block":4,"differing_bytes":[2]' ||
      fail "diff --json: block 4 byte 2 not reported: $out"
    ;;
  usage)
    for args in "info -p /dev/ttyUSB0" "info -p ttyUSB0" "info -p COM$com -b 1234" "info" "frobnicate"; do
      # shellcheck disable=SC2086
      zelkor $args
      expect_status 2 "$args"
      [ -s err.bin ] || fail "$args: no message"
    done
    zelkor info -p /dev/ttyUSB0
    has err.bin "COM<n>" "a device path"
    ;;
  *) fail "unknown case $case" ;;
esac
[ "$failures" -eq 0 ]
