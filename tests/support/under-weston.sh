#!/usr/bin/env bash
# Runs a window test program on the wayland platform, under a headless compositor of its own:
#   under-weston.sh PROGRAM [ARGUMENT...]
# The compositor's socket lives in a private runtime folder (mode 0700, or the compositor and Qt
# refuse it), so runs side by side never meet and the caller's desktop is never used. A
# compositor that does not come up fails the test; so does a Qt without its wayland plugin,
# since the platform is named and not merely preferred.
set -uo pipefail

runtime=$(mktemp -d -t versionup-weston.XXXXXX) || exit 1
chmod 0700 "$runtime"
socket=wayland-versionup
weston=
cleanup() {
    if [[ -n $weston ]]; then
        kill -TERM "$weston" 2>/dev/null
        wait "$weston" 2>/dev/null
    fi
    rm -rf "$runtime"
}
trap cleanup EXIT
# A run stopped from outside (CTest's time-out) still takes its compositor with it.
trap 'exit 143' INT TERM HUP

# The desktop shell, as a desktop user has it: dialogs and popups are placed by the compositor
# relative to their transient parent. No idle time-out, which would blank the output mid-test.
XDG_RUNTIME_DIR=$runtime weston --backend=headless-backend.so --socket="$socket" --no-config \
    --idle-time=0 --log="$runtime/weston.log" &
weston=$!
# The limit only stops a test whose compositor never comes; it is no measure of speed.
for _ in $(seq 600); do
    [[ -S $runtime/$socket ]] && break
    kill -0 "$weston" 2>/dev/null || break
    sleep 0.05
done
if [[ ! -S $runtime/$socket ]]; then
    echo "FAIL: the headless compositor did not start" >&2
    cat "$runtime/weston.log" >&2 2>/dev/null
    exit 1
fi

# The headless compositor has no seat, and Qt's text-input support dereferences the missing seat
# on the first key event; the plain compose input context is what a desktop without an input
# method has. The program's own handling of keys is the same with either.
status=0
env -u DISPLAY XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland \
    QT_IM_MODULE=compose "$@" || status=$?
if ((status != 0)); then
    echo "--- compositor log" >&2
    cat "$runtime/weston.log" >&2
fi
exit "$status"
