#!/bin/bash
# The whole upgrade of versionup-cli.exe under wine against machine-sim paced at the real baud
# rates, beside the same upgrade of the Linux versionup-cli for comparison, and beside the same
# upgrade through the window versionup.exe when given (on a virtual display of its own, Enter
# pressed through the steps). Prints the time against the wire limit and the synchronisation
# zeros sent beyond the one the machine needs; from each program's wire trace, the transfer from
# its first synchronisation byte to its outcome and the loader's upload, so the window and the
# command line compare on the same clock.
#   upgrade-under-wine.sh VERSIONUP_CLI_EXE MACHINE_SIM [LINUX_VERSIONUP_CLI [VERSIONUP_EXE]]
# Uses a wine prefix of its own in a temporary folder; wine's output goes to a file there.
set -u
exe=$1 sim=$2 linux_cli=${3:-} window_exe=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/versionup-wine-bench-XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
trap '"$here/../../tests/windows/wine-prefix.sh" stop "$WINEPREFIX"; rm -rf "$work"' EXIT
"$here/../../tests/windows/wine-prefix.sh" start "$WINEPREFIX" "$work/ports" || exit 1

# What the line allows at 10 bits a byte: the loader's exchange at 9600 (the sync byte and its
# answer, 0x55 and 0xAA, two length bytes and every loader byte each with its echo, the final
# 0xAA), the package at 38400, and the protocol's pauses of 500, 1000 and 1000 ms.
loader=3064 package=118658
wire=$(echo "scale=3; (2 + 2 + 2*2 + 2*$loader + 1) * 10 / 9600 + $package * 10 / 38400 + 2.5" | bc)

one_run() { # NAME PORT COMMAND...: PORT "COM1", or "path" for the simulator's device itself
    local name=$1 port=$2
    shift 2
    rm -f "$work/ports/com1"
    "$sim" --ports "$work/ports" --com 1 --paced >"$work/sim.log" 2>&1 &
    local sim_pid=$!
    for _ in $(seq 100); do [[ -L $work/ports/com1 ]] && break; sleep 0.05; done
    [[ $port == path ]] && port=$(readlink "$work/ports/com1")
    "$@" upgrade --port "$port" --yes --json >"$work/out.json" 2>>"$work/wine.log"
    local rc=$?
    kill -INT $sim_pid; wait $sim_pid
    # The program's own clock from the open to the result: wine's start-up is no part of it.
    local seconds received surplus
    seconds=$(grep '"result":' "$work/out.json" | grep -v '"result":null' | tail -1 |
              sed 's/.*"seconds":\([0-9.]*\).*/\1/')
    received=$(sed -n 's/^machine-sim: received \([0-9]*\) bytes$/\1/p' "$work/sim.log")
    # Beyond the loader and the package the machine takes one 0x00, 0x55 and two length bytes.
    surplus=$((received - loader - package - 4))
    grep -q 'package: 118658 bytes, the built-in package exactly' "$work/sim.log" || rc=1
    printf '%-28s exit %d, %7.3f s against the wire limit %.3f s: %.3f; surplus sync zeros %d\n' \
        "$name" "$rc" "$seconds" "$wire" "$(echo "scale=3; $seconds / $wire" | bc)" "$surplus"
}

# The transfer in a wire trace: from its first synchronisation byte to its outcome, and the
# loader's upload. A trace written on Windows ends its lines in CR LF.
trace_figures() { # NAME TRACE_FILE
    awk -v name="$1" -v wire="$wire" '
        (/ step sync$/ || / step sync:/) && !open { open = $1 }
        / step loader$/ || / step loader:/ { loader = $1 }
        / step loader end$/ || / step loader end:/ { loader_end = $1 }
        (/ outcome: / || / step finish/) && open { outcome = $1 }
        END {
            if (!open || !outcome) { printf "%-28s no transfer in the trace\n", name; exit }
            printf "%-28s trace: transfer %7.3f s, %.3f of the wire limit; loader %6.3f s\n",
                name, outcome - open, (outcome - open) / wire, loader_end - loader
        }' <(tr -d '\r' <"$2")
}

mkdir -p "$work/cli-trace"
one_run "versionup-cli.exe (wine)" COM1 \
    env VERSIONUP_TRACE="$(winepath -w "$work/cli-trace" 2>/dev/null | tr -d '\r')" wine "$exe"
trace_figures "versionup-cli.exe (wine)" "$(ls "$work"/cli-trace/*.trace 2>/dev/null | tail -1)"
[[ -n $linux_cli ]] && one_run "versionup-cli (Linux)" path "$linux_cli"

window_run() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    local xvfb=$!
    for _ in $(seq 600); do [[ -s $work/display ]] && break; sleep 0.05; done
    export DISPLAY=":$(head -n 1 "$work/display")"
    openbox >"$work/openbox.log" 2>&1 &
    local openbox=$!
    # The prefix's server was started without a display; the window's wine needs one that has it.
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    rm -f "$work/ports/com1"
    "$sim" --ports "$work/ports" --com 1 --paced >"$work/sim.log" 2>&1 &
    local sim_pid=$!
    for _ in $(seq 100); do [[ -L $work/ports/com1 ]] && break; sleep 0.05; done
    mkdir -p "$work/window-trace"
    VERSIONUP_TRACE="$(winepath -w "$work/window-trace" 2>/dev/null | tr -d '\r')" wine "$window_exe" >>"$work/wine.log" 2>&1 &
    local app=$! title='Version up tool for NRP-7/70 TVK-35/50' window=
    for _ in $(seq 600); do
        window=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -1)
        [[ -n $window ]] && break
        sleep 0.1
    done
    # Enter through the steps until the transfer's dialog comes; once it is up, Enter would be
    # its Cancel.
    local sent=
    for _ in $(seq 120); do
        if xdotool search --onlyvisible --name '^Sending$' >/dev/null 2>&1; then sent=1; break; fi
        xdotool windowfocus --sync "$window" 2>/dev/null
        xdotool key --clearmodifiers Return
        sleep 1
    done
    [[ -n $sent ]] && while xdotool search --onlyvisible --name '^Sending$' >/dev/null 2>&1; do
        sleep 0.5
    done
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --clearmodifiers Escape
    for _ in $(seq 200); do kill -0 $app 2>/dev/null || break; sleep 0.1; done
    kill $app 2>/dev/null
    wait $app 2>/dev/null
    kill -INT $sim_pid; wait $sim_pid
    kill $openbox $xvfb 2>/dev/null
    wait $openbox $xvfb 2>/dev/null
    grep -q 'package: 118658 bytes, the built-in package exactly' "$work/sim.log" \
        || { echo "versionup.exe (wine): the machine did not get the built-in package"; tail -3 "$work/sim.log"; }
    trace_figures "versionup.exe (wine)" "$(ls "$work"/window-trace/COM1-*.trace 2>/dev/null | tail -1)"
}
[[ -n $window_exe ]] && window_run
exit 0
