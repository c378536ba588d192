#!/usr/bin/env bash
# Runs the button trainer against a virtual gamepad that presses its
# buttons: the real program, built over scripted devices (no hardware
# needed). Installs what the build needs first (Debian's packages).
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/packages.sh
ensure_packages cmake ninja-build g++ libgtest-dev libgmock-dev

cmake --preset release >/dev/null
cmake --build --preset release --target button-trainer-scripted >/dev/null
BT_SCENARIO=scripts/demo/gamepad.scenario build/release/trainer/button-trainer-scripted
