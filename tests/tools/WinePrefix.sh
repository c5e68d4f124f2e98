#!/bin/sh
# Starts the Wine session that every Windows test of a run shares, or ends it after them.
#   WinePrefix.sh make|stop PREFIX WINE
# A Wine session takes its display driver from the desktop process of its first program: one
# started without a display would leave every later program without one. So the session gets a
# display of its own for its desktop, a server that stays up, and the desktop before any test
# runs; each test still draws its windows on a display of its own.
set -eu
action=$1
prefix=$2
wine=$3
server="$(dirname "$wine")/wineserver"
session="$prefix.session" # the session display's process id
export WINEPREFIX="$prefix" WINEDLLOVERRIDES='mscoree,mshtml=' WINEDEBUG=-all

if [ ! -x "$wine" ]; then
    echo "no Wine at $wine: the Windows tests skip themselves"
    exit 0
fi

stop() {
    if [ -d "$prefix" ]; then "$server" -k 2>/dev/null || true; fi
    if [ -f "$session" ]; then
        kill "$(cat "$session")" 2>/dev/null || true
        rm -f "$session"
    fi
}

case $action in
make)
    stop
    # A prefix left half-made by an interrupted run is made again.
    if [ ! -f "$prefix/.complete" ]; then
        rm -rf "$prefix"
        mkdir -p "$(dirname "$prefix")"
        DISPLAY= "$wine" wineboot --init >/dev/null 2>&1
        "$server" -w
        touch "$prefix/.complete"
    fi
    number="$prefix.display"
    rm -f "$number"
    Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
    echo $! >"$session"
    tries=0
    while ! grep -q . "$number" 2>/dev/null; do
        tries=$((tries + 1))
        if [ $tries -gt 100 ]; then
            echo "Xvfb did not start"
            exit 1
        fi
        sleep 0.1
    done
    "$server" -p >/dev/null 2>&1
    DISPLAY=":$(cat "$number")" "$wine" wineboot >/dev/null 2>&1
    ;;
stop)
    stop
    ;;
esac
