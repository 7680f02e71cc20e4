#!/usr/bin/env bash
# Runs a window test program on the xcb platform, under a virtual X display of its own:
#   under-xvfb.sh PROGRAM [ARGUMENT...]
# The X server picks a free display number itself and hands it over on a descriptor, so runs
# side by side never race for the same number. A server that does not come up fails the test.
set -uo pipefail

dir=$(mktemp -d -t versionup-xvfb.XXXXXX) || exit 1
xvfb=
cleanup() {
    if [[ -n $xvfb ]]; then
        kill -TERM "$xvfb" 2>/dev/null
        wait "$xvfb" 2>/dev/null
    fi
    rm -rf "$dir"
}
trap cleanup EXIT
# A run stopped from outside (CTest's time-out) still takes its X server with it.
trap 'exit 143' INT TERM HUP

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
# The limit only stops a test whose server never comes; it is no measure of speed.
display=
for _ in $(seq 600); do
    display=$(head -n 1 "$dir/display" 2>/dev/null)
    [[ -n $display ]] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.05
done
if [[ -z $display ]]; then
    echo "FAIL: the virtual X display did not start" >&2
    cat "$dir/xvfb.log" >&2
    exit 1
fi

env -u WAYLAND_DISPLAY DISPLAY=":$display" QT_QPA_PLATFORM=xcb "$@"
