#!/usr/bin/env bash
# Cross-builds the 32- and 64-bit Windows programs and their tests with
# mingw-w64 (Debian's packages, installed first if missing), then runs the
# 64-bit tests under Wine in a new Wine prefix of the build's own. This
# machine's Wine runs no 32-bit programs: that build is only built.
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/packages.sh
ensure_packages cmake ninja-build googletest wine64 \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix

jobs="$(nproc)"
for preset in mingw32 mingw64; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
# The tests make the prefix first (wine_prefix_make) and end its wineserver
# last (wine_prefix_stop).
ctest --preset mingw64 -j "$jobs"
