#!/usr/bin/env bash
# The export table of a Windows DLL, as a host's loader sees it:
#   check-exports.sh twelve OBJDUMP CXXFILT DLL VERSION_SCRIPT
#     exactly the plain names the Linux version script keeps global;
#   check-exports.sh vyrffc OBJDUMP CXXFILT DLL
#     at least one export, and every one a name of namespace vyrffc.
set -euo pipefail
mode=$1 objdump=$2 cxxfilt=$3 dll=$4
names=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\([^[:space:]]*\).*/\1/p' | sort)
if [ -z "$names" ]; then
  echo "$dll exports nothing" >&2
  exit 1
fi
case "$mode" in
  twelve)
    expected=$(sed -n 's/^[[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\);[[:space:]]*$/\1/p' "$5" | sort)
    if [ "$names" != "$expected" ]; then
      echo "$dll does not export exactly the names of $5:" >&2
      diff <(echo "$expected") <(echo "$names") >&2 || true
      exit 1
    fi
    ;;
  vyrffc)
    stray=$(echo "$names" | "$cxxfilt" | grep -v 'vyrffc::' || true)
    if [ -n "$stray" ]; then
      echo "$dll exports names outside namespace vyrffc:" >&2
      echo "$stray" >&2
      exit 1
    fi
    ;;
esac
echo "$(basename "$dll"): $(echo "$names" | wc -l) exports, as expected"
