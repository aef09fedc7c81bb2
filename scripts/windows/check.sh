#!/usr/bin/env bash
# The Windows check: the MinGW-w64 cross build of both DLLs and cisffc (its
# OpenCV import libraries and export tables are checked as it builds), then,
# under wine, the twelve exports resolved from the loaded DLL and the tests
# that need no OpenCV. Nothing that calls OpenCV can run: there is no OpenCV
# for Windows here.
set -euo pipefail
cd "$(dirname "$0")/../.."
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
build=build-windows

cmake --preset mingw
cmake --build --preset mingw -j "$jobs" --target cisffc ffc_windows_exports ffc_load_exports ffc_windows_tests

# A wine prefix of the build's own, made on first use; wine's messages about
# its own set-up are not the check's.
export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
names=$(sed -n 's/^[[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\);[[:space:]]*$/\1/p' src/exports/exports.map)
# shellcheck disable=SC2086
wine "$build/ffc_load_exports.exe" "$build/src/VyrCISFlatfieldCorrection.dll" $names
wine "$build/ffc_windows_tests.exe" --gtest_brief=1
echo "Windows check passed"
