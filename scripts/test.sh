#!/usr/bin/env bash
# Installs what the build and the tests need (Debian's packages), then builds
# and runs every test in the debug build, in the sanitizer builds and in the
# fuzzing build (a bounded run of each fuzzer, with the unit tests built by
# clang).
# BT_PRESETS picks other presets, e.g. BT_PRESETS=dev.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

for preset in ${BT_PRESETS:-dev asan tsan fuzz}; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
