#!/usr/bin/env bash
# Runs the button trainer against a virtual gamepad that presses its buttons
# and prints what the trainer printed: the real program reading a real
# kernel's /dev/hidraw node, with the gamepad played through /dev/uhid. Where
# root may write /dev/uhid that is this machine's kernel; elsewhere Debian's
# kernel booted under qemu (scripts/vm-test.sh). No hardware needed; installs
# what it needs first (Debian's packages).
set -euo pipefail
cd "$(dirname "$0")/.."

exec bash scripts/vm-test.sh --show tests/vm/scenarios/gamepad.scenario
