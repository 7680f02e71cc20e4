#!/bin/bash
# The Win32 serial device's cases on a pseudo-terminal, one machine a suite:
#   device-under-wine.sh TESTS_EXE MACHINE_SIM PORTS_DIR WORK_DIR
# The wine prefix (WINEPREFIX) points COM1 at PORTS_DIR/com1, where machine-sim links its side
# (wine-prefix.sh set it up). A stopped simulator (SIGSTOP) reads nothing, so the writer is held.
set -u
exe=$1 sim=$2 ports=$3 work=$4/device
[[ -x $sim ]] || { echo "FAIL: no machine-sim; configure with -DVERSIONUP_HOST_SIM=<Linux build>/sim/machine-sim"; exit 1; }
rm -rf "$work" && mkdir -p "$work" "$ports"
rm -f "$ports/com1"
sim_pid=
trap '[[ -n $sim_pid ]] && kill -CONT "$sim_pid" 2>/dev/null && kill "$sim_pid" 2>/dev/null' EXIT
failures=0

# SUITE SIM_OPTIONS...: the suite's cases against a machine started so
run_suite() {
    local suite=$1 stop=
    shift
    if [[ ${1:-} == --stopped ]]; then
        stop=1
        shift
    fi
    "$sim" --ports "$ports" --com 1 "$@" >"$work/$suite.sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do
        [[ -L $ports/com1 ]] && break
        sleep 0.05
    done
    [[ -L $ports/com1 ]] || { cat "$work/$suite.sim.log"; echo "FAIL ($suite): no simulated machine"; exit 1; }
    [[ -n $stop ]] && kill -STOP "$sim_pid"
    wine "$exe" --gtest_filter="$suite.*" >"$work/$suite.out" 2>&1 || {
        cat "$work/$suite.out"
        echo "FAIL ($suite)"
        failures=$((failures + 1))
    }
    grep -q 'PASSED' "$work/$suite.out" || { cat "$work/$suite.out"; echo "FAIL ($suite): no case ran"; failures=$((failures + 1)); }
    kill -CONT "$sim_pid" 2>/dev/null
    kill -INT "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
    rm -f "$ports/com1"
}

run_suite WinSerialSilent --fault silent
run_suite WinSerialMachine
run_suite WinSerialHeld --stopped
((failures)) && exit 1
echo "PASS (the Win32 device on a pseudo-terminal)"
