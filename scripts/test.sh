#!/usr/bin/env bash
# Installs what the build and the tests need (Debian's packages), then builds
# and runs every test in the debug build, in the sanitizer builds and in the
# fuzzing build (a bounded run of each fuzzer, with the unit tests built by
# clang).
# BT_PRESETS picks other presets, e.g. BT_PRESETS=dev. Then it plays the
# scenarios of tests/vm to the real program on a Linux kernel
# (scripts/vm-test.sh), unless BT_VM=0.
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/packages.sh
# llvm-14 brings the symbolizer that sanitizer reports (and leak suppressions) need in the clang build.
ensure_packages cmake ninja-build g++ clang libclang-rt-14-dev llvm-14 libgtest-dev libgmock-dev nlohmann-json3-dev

for preset in ${BT_PRESETS:-dev asan tsan fuzz}; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j "$(nproc)"
done

# The real program on a real kernel with virtual devices; BT_VM=0 skips it.
[ "${BT_VM:-1}" = 0 ] || bash scripts/vm-test.sh

# The Windows builds, cross-built and tested under Wine; BT_WINDOWS=0 skips them.
[ "${BT_WINDOWS:-1}" = 0 ] || bash scripts/windows-test.sh
