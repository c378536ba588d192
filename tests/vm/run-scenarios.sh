#!/bin/sh
# Plays each scenario to the button trainer through the uhid player and keeps
# what came of it in RESULTS: NAME.out (the trainer's output), NAME.log (the
# player's log) and NAME.status (the player's exit status). The same script
# runs inside the test VM (busybox sh) and on a host with /dev/uhid.
#
# usage: run-scenarios.sh PLAYER TRAINER RESULTS SCENARIO...
set -u
if [ "$#" -lt 4 ]; then
  echo "usage: run-scenarios.sh PLAYER TRAINER RESULTS SCENARIO..." >&2
  exit 2
fi
player=$1
trainer=$2
results=$3
shift 3
mkdir -p "$results" || exit 1
for scenario in "$@"; do
  name=$(basename "$scenario" .scenario)
  "$player" "$scenario" -- "$trainer" >"$results/$name.out" 2>"$results/$name.log"
  status=$?
  echo "$status" >"$results/$name.status"
  echo "scenario $name: player exit status $status"
done
