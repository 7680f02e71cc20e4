#!/bin/bash
# The machine stops reading for a while near the end of the package, behind Debian's ser2net on
# the loopback: the server then still holds the last bytes when the program closes the port.
# Each run must end with the machine's copy exact, or report a failure; a run that reports
# success with bytes missing is counted as a false success.
#   stall-through-ser2net.sh VERSIONUP_CLI MACHINE_SIM [RUNS [STALL_MS [BYTES_BEFORE_END]]]
# VERSIONUP_CLI may be versionup-cli.exe (run under wine, a prefix of its own). LOAD=N keeps N
# busy loops running beside the runs. Prints one line a run and the tally; judges nothing.
set -u
cli=$1 sim=$2 runs=${3:-5} stall=${4:-3000} before_end=${5:-6000}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/versionup-ser2net-stall-XXXXXX)
sim_pid= ser2net_pid= load_pids=()
wine=()
[[ $cli == *.exe ]] && wine=(wine)
cleanup() {
    [[ -n $ser2net_pid ]] && kill "$ser2net_pid" 2>/dev/null
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null
    for p in "${load_pids[@]}"; do kill "$p" 2>/dev/null; done
    [[ ${#wine[@]} -gt 0 ]] && "$here/../../tests/windows/wine-prefix.sh" stop "$work/prefix" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
source "$here/../../tests/support/ser2net-server.sh"

package=118658
for _ in $(seq "${LOAD:-0}"); do (while :; do :; done) & load_pids+=($!); done
if [[ ${#wine[@]} -gt 0 ]]; then
    export WINEPREFIX=$work/prefix WINEDEBUG=-all
    "$here/../../tests/windows/wine-prefix.sh" start "$WINEPREFIX" "$work/wine-ports" >/dev/null ||
        exit 1
fi
exact=0 failed=0 false_success=0 other=0
for i in $(seq "$runs"); do
    rm -rf "$work/ports" "$work/trace" && mkdir -p "$work/ports" "$work/trace"
    "$sim" --ports "$work/ports" --com 1 --paced \
        --boot-fault "stall-package:$((package - before_end)):$stall" >"$work/sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do [[ -L $work/ports/com1 ]] && break; sleep 0.05; done
    start_ser2net "$work" "$(readlink -f "$work/ports/com1")" || exit 1
    trace=(--trace "$work/trace")
    [[ ${#wine[@]} -gt 0 ]] && trace=()
    start=$(date +%s.%N)
    "${wine[@]}" "$cli" upgrade --port "$url" --yes "${trace[@]}" >"$work/out.txt" 2>&1
    rc=$?
    end=$(date +%s.%N)
    # The machine reads what the line still carries once its hold is over.
    sleep $(( stall / 1000 + 2 ))
    stop_ser2net
    kill -INT "$sim_pid"; wait "$sim_pid"; sim_pid=
    got=$(sed -n 's/^package: \([0-9]*\) bytes.*/\1/p' "$work/sim.log")
    exact_copy=0
    grep -q "package: $package bytes, the built-in package exactly" "$work/sim.log" && exact_copy=1
    said=$(grep -o 'Transit completed\|handed every byte[^(]*\|the machine held[^(]*\|line went dead[^(]*' "$work/out.txt" | head -1)
    if [[ $rc == 0 && $exact_copy == 1 ]]; then ((exact++)); verdict=exact
    elif [[ $rc == 0 ]]; then ((false_success++)); verdict="FALSE SUCCESS"
    elif [[ $rc == 1 ]]; then ((failed++)); verdict="failure reported"
    else ((other++)); verdict="exit $rc"; fi
    delivery=$(grep -ho ' delivery: .*' "$work"/trace/*.trace 2>/dev/null | tail -1 | cut -c2-100)
    printf 'run %2d: exit %d, %s of %d package bytes, %s, %.1f s: %s%s\n' "$i" "$rc" "${got:-?}" \
        "$package" "$verdict" "$(echo "$end - $start" | bc)" "${said:-?}" \
        "${delivery:+ [$delivery]}"
done
printf '%d runs (stall %d ms, %d bytes before the end, load %s): exact %d, failure reported %d, false success %d, other %d\n' \
    "$runs" "$stall" "$before_end" "${LOAD:-0}" "$exact" "$failed" "$false_success" "$other"
