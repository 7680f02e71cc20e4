#!/bin/bash
# The whole upgrade through Debian's ser2net on the loopback, in front of machine-sim paced at
# the real baud rates, beside the same upgrade on the simulator's own device: the time against
# the wire limit, and what each of the loader's 3,064 echoes costs through the server.
#   upgrade-through-ser2net.sh VERSIONUP_CLI MACHINE_SIM [VERSIONUP_CLI_EXE]
# With the Windows build's versionup-cli.exe, the same upgrade through ser2net under wine too
# (a wine prefix of its own in a temporary folder). Prints figures; judges nothing.
set -u
cli=$1 sim=$2 exe=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/versionup-ser2net-bench-XXXXXX)
sim_pid= ser2net_pid=
cleanup() {
    [[ -n $ser2net_pid ]] && kill "$ser2net_pid" 2>/dev/null
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null
    [[ -n $exe ]] && "$here/../../tests/windows/wine-prefix.sh" stop "$work/prefix" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

loader=3064 package=118658
# What the line allows at 10 bits a byte (as bench/windows/upgrade-under-wine.sh counts it).
wire=$(echo "scale=3; (2 + 2 + 2*2 + 2*$loader + 1) * 10 / 9600 + $package * 10 / 38400 + 2.5" | bc)

start_sim() {
    rm -rf "$work/ports" && mkdir -p "$work/ports"
    "$sim" --ports "$work/ports" --com 1 --paced >"$work/sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do [[ -L $work/ports/com1 ]] && break; sleep 0.05; done
}
stop_sim() { kill -INT "$sim_pid"; wait "$sim_pid"; sim_pid=; }

source "$here/../../tests/support/ser2net-server.sh"

# The loader's span in a trace: from "step loader: ..." to "step loader end", in seconds.
loader_span() {
    awk '/ step loader: / { a = $1 } / step loader end/ { b = $1 } END { printf "%.3f", b - a }' "$1"
}

# NAME PORT(direct|server) COMMAND...: one paced upgrade; prints its line, sets span.
one_run() {
    local name=$1 how=$2
    shift 2
    start_sim
    local port
    port=$(readlink -f "$work/ports/com1")
    if [[ $how == server ]]; then start_ser2net "$work" "$port" || exit 1; port=$url; fi
    rm -rf "$work/trace" && mkdir -p "$work/trace"
    local trace=(--trace "$work/trace")
    [[ $1 == wine ]] && trace=()
    "$@" upgrade --port "$port" --yes --json "${trace[@]}" >"$work/out.json" 2>>"$work/err.log"
    local rc=$?
    [[ $how == server ]] && stop_ser2net
    stop_sim
    grep -q 'package: 118658 bytes, the built-in package exactly' "$work/sim.log" || rc=1
    grep -q 'loader: 3064 bytes, the built-in loader exactly' "$work/sim.log" || rc=1
    local seconds
    seconds=$(grep '"result":' "$work/out.json" | grep -v '"result":null' | tail -1 |
              sed 's/.*"seconds":\([0-9.]*\).*/\1/')
    span=
    local file
    file=$(ls "$work"/trace/*.trace 2>/dev/null | head -1)
    [[ -n $file ]] && span=$(loader_span "$file")
    printf '%-34s exit %d, %7.3f s against the wire limit %.3f s: %.3f%s\n' "$name" "$rc" \
        "${seconds:-0}" "$wire" "$(echo "scale=3; ${seconds:-0} / $wire" | bc)" \
        "${span:+; loader $span s}"
}

one_run "versionup-cli, simulator's device" direct "$cli"
direct_span=$span
one_run "versionup-cli through ser2net" server "$cli"
server_span=$span
if [[ -n $direct_span && -n $server_span ]]; then
    printf 'each of the %d loader echoes: %.3f ms on the device, %.3f ms through ser2net (+%.3f ms)\n' \
        "$loader" "$(echo "scale=6; $direct_span * 1000 / $loader" | bc)" \
        "$(echo "scale=6; $server_span * 1000 / $loader" | bc)" \
        "$(echo "scale=6; ($server_span - $direct_span) * 1000 / $loader" | bc)"
fi
if [[ -n $exe ]]; then
    export WINEPREFIX=$work/prefix WINEDEBUG=-all
    "$here/../../tests/windows/wine-prefix.sh" start "$WINEPREFIX" "$work/wine-ports" >/dev/null ||
        exit 1
    one_run "versionup-cli.exe through ser2net" server wine "$exe"
fi
exit 0
