#!/bin/sh
# make PREFIX WINE WINESERVER: replaces PREFIX by a new Wine prefix, waits
# until its first start has finished (Wine's own HID devices exist then) and
# starts it again for the tests.
# stop PREFIX WINE WINESERVER: ends the prefix's wineserver and its programs.
set -eu
action=$1 prefix=$2 wine=$3 wineserver=$4
export WINEPREFIX="$prefix" WINEDEBUG=-all
# No Mono or Gecko installers: the tests need neither, and they would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  make)
    [ ! -e "$prefix" ] || "$wineserver" -k 2>/dev/null || true
    rm -rf "$prefix"
    "$wine" wineboot -i
    "$wineserver" -w
    # One wineserver and one set of Wine's services for the whole run, with
    # no test's output as theirs: the test program that happened to start
    # them would otherwise not end, for ctest, before they did. The server
    # outlives its last program by 60 s should the run stop short.
    "$wineserver" -p60 </dev/null >/dev/null 2>&1
    "$wine" wineboot </dev/null >/dev/null 2>&1
    ;;
  stop)
    [ ! -e "$prefix" ] || "$wineserver" -k 2>/dev/null || true
    ;;
  *)
    echo "wine-prefix.sh: unknown action '$action'" >&2
    exit 2
    ;;
esac
