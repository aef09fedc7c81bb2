#!/usr/bin/env bash
# The OpenCV symbols a set of objects needs, against the list kept in the
# tree: any difference fails, so the list always says what the link needs.
#
#   opencv-symbols.sh check LIST NM CXXFILT OBJECT...
#   opencv-symbols.sh imports LIST NM CXXFILT DLLTOOL DLL IMPORT_LIB OBJECT...
#
# check compares the need of the objects (any platform) with LIST; imports
# does the same for MinGW objects and then writes an import library of DLL
# for exactly those symbols. LIST holds demangled names as a 64-bit Linux
# build spells them; MinGW's 64-bit integer types are read as Linux's.
set -euo pipefail
mode=$1 list=$2 nm=$3 cxxfilt=$4
shift 4
if [ "$mode" = imports ]; then
  dlltool=$1 dll=$2 import_lib=$3
  shift 3
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Undefined symbols of the objects that name an OpenCV function.
"$nm" -u --format=posix "$@" 2>/dev/null | awk 'NF >= 2 && $2 == "U" { print $1 }' | sort -u > "$work/mangled"
: > "$work/needed"
: > "$work/pairs"
while read -r symbol; do
  demangled=$("$cxxfilt" "$symbol")
  case "$demangled" in
    cv::*)
      normal=$(printf '%s\n' "$demangled" | sed -e 's/unsigned long long/unsigned long/g' -e 's/long long/long/g')
      printf '%s\n' "$normal" >> "$work/needed"
      printf '%s\n' "$symbol" >> "$work/pairs"
      ;;
  esac
done < "$work/mangled"
sort -u "$work/needed" -o "$work/needed"
grep -v '^#' "$list" | sed '/^$/d' | sort -u > "$work/listed"

if ! diff -u "$work/listed" "$work/needed" > "$work/diff"; then
  echo "The OpenCV symbols the objects need differ from $list" >&2
  echo "(- listed but not needed, + needed but not listed):" >&2
  tail -n +3 "$work/diff" | grep '^[-+]' >&2
  exit 1
fi

if [ "$mode" = imports ]; then
  mkdir -p "$(dirname "$import_lib")"
  { echo "LIBRARY $dll.dll"; echo "EXPORTS"; sed 's/^/    /' "$work/pairs"; } > "$work/imports.def"
  "$dlltool" --input-def "$work/imports.def" --dllname "$dll.dll" --output-lib "$import_lib"
fi
