#!/bin/bash
# The test run's own wine prefix, never the user's:
#   wine-prefix.sh start PREFIX PORTS_DIR   makes the prefix, points COM1 and COM5 to COM16
#                                           and COM20 (a USB adapter's numbers; COM20 listed as
#                                           Bluetooth) at PORTS_DIR/comN and COM2 to COM4 at
#                                           nothing (the computer's own serial ports stay out),
#                                           starts one persistent wineserver
#   wine-prefix.sh stop PREFIX              ends that wineserver
# Wine's own output goes to PREFIX.log.
set -eu
export WINEPREFIX=$2 WINEDEBUG=-all
log=$2.log
case $1 in
start)
    mkdir -p "$3"
    wineserver -k >>"$log" 2>&1 || true
    # COM5 to COM16 and COM20 lead to PORTS_DIR too, where a case may put silent adapters and a
    # machine; without a link there they are listed but absent.
    for n in 1 2 3 4 {5..16} 20; do
        target=/nonexistent/com$n
        ((n == 1 || n > 4)) && target=$3/com$n
        wine reg add 'HKLM\Software\Wine\Ports' /v COM$n /t REG_SZ /d "$target" /f >>"$log" 2>&1
    done
    # The links in dosdevices are made from the registry when a wineserver starts, so the first
    # one must end before the one the tests share starts.
    wineserver -w >>"$log" 2>&1
    wineserver -p >>"$log" 2>&1
    wine cmd /c exit >>"$log" 2>&1
    [[ $(readlink "$WINEPREFIX/dosdevices/com1") == "$3/com1" ]] || {
        cat "$log"; echo "FAIL: COM1 of the wine prefix is not $3/com1"; exit 1; }
    # Wine lists every port as a serial driver's (\Device\SerialN, N one below the COM number);
    # COM20 is made a Bluetooth port's, as Windows lists a paired device's. The list lives as
    # long as the wineserver.
    # Wine also gives this computer's own serial ports (/dev/ttyS0, ...) the free numbers above
    # ours; they leave the list, so that no check without --port writes to them.
    wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>>"$log" | tr -d '\r' |
        awk '$2 == "REG_SZ" && $3 !~ /^COM([1-9]|1[0-6]|20)$/ { print $1 }' |
        while read -r name; do
            wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "$name" /f >>"$log" 2>&1
        done
    wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial19' /f >>"$log" 2>&1
    wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\BthModem0' /t REG_SZ /d COM20 \
        /f >>"$log" 2>&1
    ;;
stop)
    wineserver -k >>"$log" 2>&1 || true
    ;;
esac
