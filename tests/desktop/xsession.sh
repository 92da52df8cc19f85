#!/usr/bin/env bash
# Starts an X server (Xvfb) with a window manager (openbox) for the desktop tests and
# prints the display to use; `xsession.sh stop` ends both again.
#
#   eval "$(tests/desktop/xsession.sh start)"   # sets DISPLAY and QUINDLE_XSESSION_PIDS
#   tests/desktop/xsession.sh stop              # ends the processes in QUINDLE_XSESSION_PIDS
set -euo pipefail

case "${1:-start}" in
start)
    for tool in Xvfb openbox xdotool xprop wmctrl; do
        command -v "$tool" >/dev/null || { echo "xsession: $tool is missing (scripts/setup installs it)" >&2; exit 1; }
    done
    # The first display number without a server; -displayfd would tell us, but Xvfb
    # then also needs a free number to start from.
    n=${QUINDLE_DISPLAY_FROM:-90}
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    log=${TMPDIR:-/tmp}/quindle-xsession-$n.log
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >"$log" 2>&1 &
    xpid=$!
    # Wait for the server to take connections (no fixed sleep: poll with a deadline).
    for _ in $(seq 1 200); do
        DISPLAY=":$n" xprop -root >/dev/null 2>&1 && break
        kill -0 "$xpid" 2>/dev/null || { cat "$log" >&2; exit 1; }
        sleep 0.05
    done
    DISPLAY=":$n" openbox --sm-disable >>"$log" 2>&1 &
    wpid=$!
    # The window manager is ready when it has announced itself on the root window.
    for _ in $(seq 1 200); do
        DISPLAY=":$n" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        kill -0 "$wpid" 2>/dev/null || { cat "$log" >&2; kill "$xpid"; exit 1; }
        sleep 0.05
    done
    echo "export DISPLAY=:$n QUINDLE_XSESSION_PIDS='$wpid $xpid'"
    ;;
stop)
    for pid in ${QUINDLE_XSESSION_PIDS:-}; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in ${QUINDLE_XSESSION_PIDS:-}; do
        while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
    done
    ;;
*)
    echo "usage: xsession.sh start|stop" >&2
    exit 2
    ;;
esac
