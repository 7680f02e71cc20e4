#!/bin/bash
# versionup-cli.exe under wine against the Linux machine-sim on COM1, one case a run:
#   cli-under-wine.sh CASE EXE MACHINE_SIM PORTS_DIR WORK_DIR
# The wine prefix (WINEPREFIX) points COM1 at PORTS_DIR/com1, where machine-sim links its side
# of a pseudo-terminal (wine-prefix.sh set it up). Wine's own output goes to files in WORK_DIR.
set -u
case_name=$1 exe=$2 sim=$3 ports=$4 work=$5/$1
[[ -x $sim ]] || { echo "FAIL: no machine-sim; configure with -DVERSIONUP_HOST_SIM=<Linux build>/sim/machine-sim"; exit 1; }
rm -rf "$work" && mkdir -p "$work" "$ports"
rm -f "$ports"/com*

fail() { echo "FAIL ($case_name): $*"; echo "--- stdout"; cat "$work/out.txt"; echo "--- stderr";
         cat "$work/err.txt"; echo "--- machine-sim"; cat "$work/sim.log"; exit 1; }

# starts the simulated machine with the given options and waits for its port
start_sim() { start_sim_on 1 "$@"; }
start_sim_on() { # N OPTIONS...: the machine on COMn
    local com=$1
    shift
    "$sim" --ports "$ports" --com "$com" "$@" >"$work/sim.log" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do
        [[ -L $ports/com$com ]] && return 0
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    fail "no simulated machine"
}
stop_sim() { kill -INT "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }
sim_pid=

# Debian's ser2net in front of the simulated machine, as a device server on 127.0.0.1.
source "$(dirname "$0")/../support/ser2net-server.sh"
ser2net_pid=
bluetooth_pid=
trap '[[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null; [[ -n $ser2net_pid ]] && kill "$ser2net_pid" 2>/dev/null; [[ -n $bluetooth_pid ]] && kill "$bluetooth_pid" 2>/dev/null' EXIT

# runs the program; rc holds its exit status
run() {
    wine "$exe" "$@" >"$work/out.txt" 2>"$work/err.txt"
    rc=$?
}
expect_rc() { [[ $rc == "$1" ]] || fail "exit status $rc, expected $1"; }
expect_out() { grep -qF -- "$1" "$work/out.txt" "$work/err.txt" || fail "no \"$1\" in the output"; }
expect_sim() { grep -qF -- "$1" "$work/sim.log" || fail "machine-sim did not say \"$1\""; }

case $case_name in
check-normal)
    start_sim
    run check --port COM1
    stop_sim
    expect_rc 0
    expect_out 'COM1:  reply "V250 TVK-50"  model TVK-50  version V250  package V260  Upgrade needed.'
    ;;
check-scanner)
    start_sim --reply 'V250 NRP-70;'
    run check --port COM1
    stop_sim
    expect_rc 0
    expect_out 'model NRP-70'
    ;;
check-no-upgrade)
    start_sim --reply 'V260 TVK-35;'
    run check --port COM1
    stop_sim
    expect_rc 1
    expect_out 'Upgrade unnecessary.'
    ;;
check-silent)
    start_sim --fault silent
    run check --port COM1
    stop_sim
    expect_rc 3
    expect_out 'reply ""  model -'
    ;;
ports)
    start_sim
    run ports
    stop_sim
    expect_rc 0
    grep -qE '^COM1 .*present' "$work/out.txt" || fail "COM1 not present"
    # The prefix points COM2 to COM4 at nothing, so the computer's own ports stay out.
    grep -qE '^COM2 .*(no device|absent|not a serial port)' "$work/out.txt" ||
        fail "COM2 is not kept out"
    ;;
high-port)
    # Adapters on Windows often get numbers above 4: any COMn is taken, and an absent one named.
    start_sim
    run check --port COM200
    stop_sim
    expect_rc 3
    expect_out 'COM200'
    ;;
com7)
    # A USB adapter that got COM7, nothing on COM1 to COM4: listed after them, and found by the
    # check without --port.
    start_sim_on 7 --reply 'V260 TVK-50;'
    run ports
    expect_rc 0
    grep -qE '^COM4 ' "$work/out.txt" && grep -qE '^COM7 .*present' "$work/out.txt" ||
        fail "COM7 not listed after COM4 as present"
    run ports --json
    expect_out '{"event":"port","port":"COM7","device":"\\\\.\\COM7","state":"present"}'
    run check
    stop_sim
    expect_rc 1
    expect_out 'COM7:  reply "V260 TVK-50"'
    expect_out 'Upgrade unnecessary.'
    ;;
discovery-above)
    # COM1 to COM4 absent, eleven silent adapters on COM5 to COM15, the machine on COM16, and a
    # Bluetooth port on COM20 with a silent peer: check without --port asks the adapters all at
    # once and finds COM16, and never opens COM20, which ports still lists, marked.
    start_sim_on 16 --reply 'V260 TVK-50;' $(for n in {5..15}; do echo --port $n=silent; done)
    "$sim" --ports "$ports" --com 20 --fault silent >"$work/bluetooth.log" 2>&1 &
    bluetooth_pid=$!
    for _ in $(seq 100); do [[ -L $ports/com20 ]] && break; sleep 0.05; done
    start=$(date +%s%N)
    run check
    echo "check: $(( ($(date +%s%N) - start) / 1000000 )) ms"
    expect_rc 1
    expect_out 'COM16:  reply "V260 TVK-50"'
    expect_out 'Upgrade unnecessary.'
    run ports
    grep -qE '^COM20 .*Bluetooth: not searched by the check' "$work/out.txt" ||
        fail "COM20 not listed as Bluetooth"
    run ports --json
    expect_out '{"event":"port","port":"COM20","device":"\\\\.\\COM20","kind":"bluetooth","state":"not-probed"}'
    # The computer's own ports, which wine numbers above ours, are not in the list.
    tr -d '\r' <"$work/out.txt" | grep -qvE '"port":"COM([1-9]|1[0-6]|20)"' &&
        fail "a port of this computer is listed"
    stop_sim
    kill -INT "$bluetooth_pid"
    wait "$bluetooth_pid"
    bluetooth_pid=
    grep -qF 'received 0 bytes' "$work/bluetooth.log" || {
        cat "$work/bluetooth.log"; fail "the Bluetooth port was written to"; }
    ;;
help)
    # Windows has no hang-up signal and names its ports by any number.
    run --help
    expect_rc 0
    expect_out 'NAME            COMn, any number Windows gave the port'
    expect_out '130 interrupted (Ctrl-C, Ctrl-Break, the console window closed)'
    grep -qE 'SIGHUP|129' "$work/out.txt" && fail "the help speaks of SIGHUP"
    ;;
trace-japanese)
    # Folders named in Japanese, made by the program: from --trace in an English locale, and
    # from VERSIONUP_TRACE in a Japanese one. Wine hands the C runtime the ANSI code page, in
    # which such a name is lost.
    # A package of a few records: the folder's name is the point here, and the whole built-in
    # package would add half a minute on the wire (the upgrade case sends that one).
    folder=$work/記録/トレース
    small=$(dirname "$0")/../fuzz/seeds/ufw_package/one-section
    start_sim
    LC_ALL=C.UTF-8 run upgrade --port COM1 --yes \
        --package "$(winepath -w "$small" 2>/dev/null | tr -d '\r')" \
        --trace "$(winepath -w "$folder" 2>/dev/null | tr -d '\r')"
    stop_sim
    expect_rc 0
    ls "$folder"/COM1-*.trace >/dev/null 2>&1 ||
        fail "no trace in $folder: $(cd "$work" && find . -name '*.trace')"
    grep -qF 'outcome: ' "$folder"/COM1-*.trace || fail "the trace has no outcome"
    # wine reads the environment in the locale's character set, which must exist on the host.
    mkdir -p "$work/locale"
    localedef -i ja_JP -f UTF-8 "$work/locale/ja_JP.UTF-8" 2>/dev/null || fail "no ja_JP locale"
    folder=$work/日本語のフォルダ
    start_sim
    VERSIONUP_TRACE=$(winepath -w "$folder" 2>/dev/null | tr -d '\r') LOCPATH=$work/locale \
        LC_ALL=ja_JP.UTF-8 run check --port COM1
    stop_sim
    expect_rc 0
    ls "$folder"/COM1-*.trace >/dev/null 2>&1 ||
        fail "no trace in $folder: $(cd "$work" && find . -name '*.trace')"
    ;;
upgrade)
    start_sim
    run upgrade --port COM1 --yes
    stop_sim
    expect_rc 0
    expect_sim 'loader: 3064 bytes, the built-in loader exactly'
    expect_sim 'package: 118658 bytes, the built-in package exactly'
    ;;
hangup)
    start_sim --boot-fault hangup-package:4000
    run upgrade --port COM1 --yes
    stop_sim
    expect_rc 1
    expect_out 'Transmission faild. Try again.'
    ;;
interrupt)
    start_sim
    wine "$exe" upgrade --port COM1 --yes >"$work/out.txt" 2>"$work/err.txt" &
    cli_pid=$!
    for _ in $(seq 200); do grep -q 'package' "$work/out.txt" 2>/dev/null && break; sleep 0.1; done
    kill -INT "$cli_pid"
    wait "$cli_pid"
    rc=$?
    stop_sim
    expect_rc 130
    expect_out 'Interrupted'
    ;;
json)
    start_sim --boot-fault hangup-package:2000
    run upgrade --port COM1 --yes --json
    stop_sim
    expect_rc 1
    expect_out '"port":"COM1"'
    # One object a line (ended CR LF, as Windows writes text), nothing else on standard output,
    # and the hang-up as the port's result.
    tr -d '\r' <"$work/out.txt" >"$work/lines.txt"
    grep -qvE '^\{"event":"[a-z]+","port":"COM1",.*\}$' "$work/lines.txt" &&
        fail "a line that is no event"
    grep -qE '^\{"event":"done",.*"result":"failed",.*"reason":"the line went dead' \
        "$work/lines.txt" || fail "no failed result for the hang-up"
    ;;
japanese)
    start_sim --reply 'V260 TVK-35;'
    LC_ALL=ja_JP.UTF-8 run check --port COM1
    stop_sim
    expect_rc 1
    LC_ALL=ja_JP.UTF-8 wine "$exe" --help >"$work/out.txt" 2>"$work/err.txt"
    expect_out '使い方: versionup-cli'
    ;;
ser2net-check)
    # The machine on a device server: Winsock to ser2net, ser2net to the simulator.
    start_sim
    start_ser2net "$work" "$(readlink -f "$ports/com1")" || fail "ser2net did not start"
    run check --port "$url"
    stop_ser2net
    stop_sim
    expect_rc 0
    expect_out "$url:  reply \"V250 TVK-50\"  model TVK-50"
    ;;
ser2net-upgrade)
    start_sim
    start_ser2net "$work" "$(readlink -f "$ports/com1")" || fail "ser2net did not start"
    run upgrade --port "$url" --yes --trace "$(winepath -w "$work/traces" 2>/dev/null | tr -d '\r')"
    stop_ser2net
    stop_sim
    # ser2net tells nothing of its line: every byte handed over, delivery not claimed.
    expect_rc 1
    grep -qF 'delivery: handed to the server' "$work"/traces/*.trace ||
        fail "the trace does not say how delivery was judged"
    # Winsock holds no more than the port's own queue (wine doubles what is asked, as Linux
    # does), and probes an idle connection.
    buffer=$(grep -o 'send buffer [0-9]* bytes, keepalive on' "$work"/traces/*.trace | head -1 |
             tr -dc '0-9')
    [[ -n $buffer && $buffer -le 8192 ]] ||
        fail "the connection's send buffer: ${buffer:-not traced}"
    expect_out 'handed every byte to the device server'
    grep -qF 'Transit completed' "$work/out.txt" && fail "a transit claimed through ser2net"
    expect_sim 'loader: 3064 bytes, the built-in loader exactly'
    expect_sim 'package: 118658 bytes, the built-in package exactly'
    ;;
confirm-com7)
    # The machine on a USB adapter's COM7 restarts 12 s after the package (its loader still
    # writing for 8 of them): asked no sooner than 10 s after the transfer, confirmed once back.
    start_sim_on 7 --restart 12
    run upgrade --port COM7 --yes --confirm
    stop_sim
    expect_rc 0
    expect_out 'COM7: Restart it for its own answer: Disconnect the AC Adapter.'
    expect_out 'COM7: confirmed: TVK-50 runs V260'
    expect_out '1 of 1 machines upgraded, 1 of them confirmed'
    expect_sim 'package: 118658 bytes, the built-in package exactly'
    expect_sim 'it answered F; 1 times after'
    ;;
readme-record)
    # The record commands of the zip's README, as written, in wine's cmd in the folder of the
    # unpacked exe, against machines on COM1 and COM7.
    readme=$(dirname "$0")/../../packaging/windows/README.txt
    awk '/^A record for each machine/ { on = 1 } /^A trace for support/ { on = 0 }
         on && /^    [^ ]/ { sub(/^    /, ""); print }' "$readme" >"$work/record.lines"
    [[ $(wc -l <"$work/record.lines") == 3 ]] || fail "not three commands: $(cat "$work/record.lines")"
    grep -qE '\\$|\$\(|~|^export |/' "$work/record.lines" &&
        fail "not cmd syntax: $(cat "$work/record.lines")"
    sed 's/$/\r/' "$work/record.lines" >"$work/record.cmd"
    cp "$exe" "$work/versionup-cli.exe"
    "$sim" --ports "$ports" --com 7 --restart 12 >"$work/sim7.log" 2>&1 &
    sim7_pid=$!
    trap '[[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null; kill "$sim7_pid" 2>/dev/null' EXIT
    start_sim --restart 12
    for _ in $(seq 100); do [[ -L $ports/com7 ]] && break; sleep 0.05; done
    (cd "$work" && wine cmd /c record.cmd >"$work/out.txt" 2>"$work/err.txt")
    stop_sim
    kill -INT "$sim7_pid" 2>/dev/null
    wait "$sim7_pid" 2>/dev/null
    cat "$work/sim7.log" >>"$work/sim.log"
    before=$work/records/before.json after=$work/records/after.json
    for com in COM1 COM7; do
        grep -qE "^\{\"event\":\"check\",\"port\":\"$com\",.*\"version\":\"V250\",\"package\":\"V260\",\"needed\":true\}" \
            "$before" || fail "no $com line with the version before in $before: $(cat "$before")"
        grep -qE "^\{\"event\":\"confirm\",\"port\":\"$com\",\"result\":\"confirmed\",.*\"version\":\"V260\",\"package\":\"V260\",.*\"trace\":\"records\\\\\\\\traces\\\\\\\\$com-[0-9T]+\.trace\"\}" \
            "$after" || fail "no confirmed $com line with its trace in $after: $(cat "$after")"
        grep -qF 'outcome: confirmed: V260 TVK-50' "$work"/records/traces/$com-*.trace ||
            fail "no trace of $com's answer in records\\traces"
    done
    [[ $(grep -c 'the built-in package exactly' "$work/sim.log") == 2 ]] ||
        fail "a package did not arrive exactly"
    ;;
*)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "PASS ($case_name)"
