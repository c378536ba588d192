#!/usr/bin/env bash
# Builds the button trainer and runs it on this machine's HID devices for its
# run time (two minutes). Installs what the build needs first (Debian's
# packages). On Linux it reads /dev/hidraw*: a node the user may not open is
# skipped (see the README on giving access to one device).
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/packages.sh
ensure_packages cmake ninja-build g++ libgtest-dev libgmock-dev

cmake --preset release >/dev/null
cmake --build --preset release --target button-trainer >/dev/null
exec build/release/trainer/button-trainer
