#!/bin/bash
# The test run's own wine prefix, never the user's:
#   wine-prefix.sh start PREFIX PORTS_DIR   makes the prefix, points COM1 and COM7 (a USB
#                                           adapter's number) at PORTS_DIR/com1 and com7 and
#                                           COM2 to COM4 at nothing (the computer's own serial
#                                           ports stay out), starts one persistent wineserver
#   wine-prefix.sh stop PREFIX              ends that wineserver
# Wine's own output goes to PREFIX.log.
set -eu
export WINEPREFIX=$2 WINEDEBUG=-all
log=$2.log
case $1 in
start)
    mkdir -p "$3"
    wineserver -k >>"$log" 2>&1 || true
    for n in 1 2 3 4 7; do
        target=/nonexistent/com$n
        [[ $n == 1 || $n == 7 ]] && target=$3/com$n
        wine reg add 'HKLM\Software\Wine\Ports' /v COM$n /t REG_SZ /d "$target" /f >>"$log" 2>&1
    done
    # The links in dosdevices are made from the registry when a wineserver starts, so the first
    # one must end before the one the tests share starts.
    wineserver -w >>"$log" 2>&1
    wineserver -p >>"$log" 2>&1
    wine cmd /c exit >>"$log" 2>&1
    [[ $(readlink "$WINEPREFIX/dosdevices/com1") == "$3/com1" ]] || {
        cat "$log"; echo "FAIL: COM1 of the wine prefix is not $3/com1"; exit 1; }
    ;;
stop)
    wineserver -k >>"$log" 2>&1 || true
    ;;
esac
