#!/usr/bin/env bash
# The real program on a virtual X display against machine-sim, driven by keystrokes only: Enter
# through the steps to the end of the transfer, Enter on to the Finished step, Escape to close.
# The machine must have received the built-in loader and package exactly, no message may have
# come up, the program must end on Escape, and the home folder must be as it was.
#   end-to-end.sh VERSIONUP MACHINE_SIM
set -euo pipefail

if [[ ${1:-} != --inside ]]; then
    versionup=$(realpath "$1")
    machine_sim=$(realpath "$2")
    tmp=$(mktemp -d -t versionup-e2e.XXXXXX)
    ports=$tmp/config/versionup/ports
    mkdir -p "$tmp/home"
    sim=
    cleanup() {
        [[ -n $sim ]] && kill -TERM "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
        rm -rf "$tmp"
    }
    trap cleanup EXIT
    "$machine_sim" --ports "$ports" --com 1 >"$tmp/machine-sim.log" 2>&1 &
    sim=$!
    for _ in $(seq 100); do
        [[ -L $ports/com1 ]] && break
        sleep 0.05
    done
    [[ -L $ports/com1 ]] || { cat "$tmp/machine-sim.log"; echo "FAIL: no simulated machine"; exit 1; }

    status=0
    # Display numbers of its own, as other tests run beside it: two xvfb-run -a that start at
    # the same number race for it.
    env -u LC_ALL -u LC_MESSAGES -u WAYLAND_DISPLAY LANG=C.UTF-8 QT_QPA_PLATFORM=xcb \
        HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" XDG_CACHE_HOME="$tmp/home/.cache" \
        XDG_DATA_HOME="$tmp/home/.local/share" \
        xvfb-run -a -n 161 -s "-screen 0 1024x768x24" "$0" --inside "$versionup" || status=$?

    kill -TERM "$sim"
    wait "$sim" || true
    sim=
    cat "$tmp/machine-sim.log"
    grep -q '^loader: 3064 bytes, the built-in loader exactly$' "$tmp/machine-sim.log" \
        || { echo "FAIL: the machine did not receive the built-in loader"; status=1; }
    grep -q '^package: 118658 bytes, the built-in package exactly$' "$tmp/machine-sim.log" \
        || { echo "FAIL: the machine did not receive the built-in package"; status=1; }
    left=$(cd "$tmp/home" && find . -mindepth 1)
    [[ -z $left ]] || { echo "FAIL: the run left files in the home folder:"; echo "$left"; status=1; }
    left=$(cd "$tmp/config" && find . -mindepth 1 -not -path './versionup' \
        -not -path './versionup/ports' -not -path './versionup/ports/com1')
    [[ -z $left ]] || { echo "FAIL: the run left settings behind:"; echo "$left"; status=1; }
    (( status == 0 )) && echo "PASS: end to end"
    exit "$status"
fi

# Inside the virtual display.
versionup=$2
title='^Version up tool for NRP-7/70 TVK-35/50$'
app_title="^$(basename "$versionup")\$" # the caption of every message box

# Waits up to $2 seconds until `xdotool search` for $1 finds (or, with $3 = gone, no longer
# finds) a visible window.
wait_window() {
    local deadline=$((SECONDS + $2))
    while ((SECONDS < deadline)); do
        if xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; then
            [[ ${3:-} != gone ]] && return 0
        else
            [[ ${3:-} == gone ]] && return 0
        fi
        sleep 0.2
    done
    return 1
}
no_message() {
    if xdotool search --onlyvisible --name "$app_title" >/dev/null 2>&1; then
        echo "FAIL: a message box came up $1"
        return 1
    fi
}

"$versionup" &
app=$!
wait_window "$title" 20 || { echo "FAIL: no main window"; kill "$app"; exit 1; }
window=$(xdotool search --onlyvisible --name "$title" | head -1)
xdotool windowfocus --sync "$window"
sleep 0.5

# Start -> Connect -> Version check, which passes and moves on to Unplug adapter by itself.
# Keys pressed while the check waits for the machine are dropped, so the operator presses Enter
# again until the step moves: Unplug J9/J10, Plug J1/J2, Plug adapter, and the last one starts the
# transfer. No key may follow that one: in the progress dialog Enter would press Cancel.
for _ in 1 2; do
    xdotool key --clearmodifiers Return
    sleep 0.3
done
for _ in $(seq 40); do
    wait_window '^Sending$' 1 && break
    no_message "instead of the transfer" || { kill "$app"; exit 1; }
    xdotool key --clearmodifiers Return
done
wait_window '^Sending$' 30 || { no_message "instead of the transfer"; echo "FAIL: no transfer"; kill "$app"; exit 1; }
echo "transfer running"
wait_window '^Sending$' 300 gone || { echo "FAIL: the transfer did not end"; kill "$app"; exit 1; }
echo "transfer ended"
sleep 0.5
no_message "after the transfer" || { kill "$app"; exit 1; }

# Transfer done -> Unplug J1/J2 -> Plug J9/J10 -> Finished, then Escape ends the program.
xdotool windowfocus --sync "$window"
for _ in 1 2 3; do
    xdotool key --clearmodifiers Return
    sleep 0.3
done
no_message "on the last steps" || { kill "$app"; exit 1; }
# The window ignores keys until it has taken the end of the run, which on a busy computer may
# come after the Enters above: the operator presses Escape again until the program ends.
for _ in $(seq 60); do
    xdotool key --clearmodifiers Escape || true
    for _ in $(seq 10); do
        kill -0 "$app" 2>/dev/null || break 2
        sleep 0.1
    done
done
if kill -0 "$app" 2>/dev/null; then
    echo "FAIL: Escape did not end the program"
    kill "$app"
    exit 1
fi
wait "$app"
