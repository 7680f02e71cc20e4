#!/bin/bash
# The whole upgrade of versionup-cli.exe under wine against machine-sim paced at the real baud
# rates, beside the same upgrade of the Linux versionup-cli for comparison. Prints the time
# against the wire limit and the synchronisation zeros sent beyond the one the machine needs.
#   upgrade-under-wine.sh VERSIONUP_CLI_EXE MACHINE_SIM [LINUX_VERSIONUP_CLI]
# Uses a wine prefix of its own in a temporary folder; wine's output goes to a file there.
set -u
exe=$1 sim=$2 linux_cli=${3:-}
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

one_run "versionup-cli.exe (wine)" COM1 wine "$exe"
[[ -n $linux_cli ]] && one_run "versionup-cli (Linux)" path "$linux_cli"
exit 0
