#!/bin/sh
# check-wide-runtime.sh STAND-IN-OBJECTS... -- OBJECTS...
# Fails when OBJECTS call a wide-character C function that the stand-ins do not define.
set -eu
standins=""
while [ "$1" != "--" ]; do standins="$standins $1"; shift; done
shift
defined=$(nm --defined-only --format=just-symbols $standins | sort -u)
missing=$(nm --undefined-only --format=just-symbols "$@" |
  grep -E '^(_w|wc|wmem|w[a-z]*printf|w[a-z]*scanf|swprintf|vswprintf|mbs|mbrto|btowc|isw|tow|fgetw|fputw|getw|putw)' | sort -u |
  while read -r symbol; do
    printf '%s\n' "$defined" | grep -qx "$symbol" || echo "$symbol"
  done)
if [ -n "$missing" ]; then
  echo "wide-character functions without a UTF-16 stand-in in tests/fuzz/WideRuntime.cpp:" $missing >&2
  exit 1
fi
