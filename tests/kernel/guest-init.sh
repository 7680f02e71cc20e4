#!/bin/busybox sh
# shellcheck shell=dash
# The guest's init: loads the USB serial drivers, then runs versionup-cli on a 16550A (ttyS1) and
# an FTDI adapter (ttyUSB0) whose other ends are simulated machines on the host. ttyS0 is the
# console. Every step is framed by "==> NAME" and "<== NAME rc=N" lines for the host to read.
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin
set -o pipefail
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
dmesg -n 1

step() {
    name=$1
    shift
    echo "==> $name"
    # Through a pipe, so the program draws no progress board on the console.
    "$@" 2>&1 | cat
    rc=$?
    echo "<== $name rc=$rc"
}

uart=/dev/ttyS1
usb=/dev/ttyUSB0
modprobe xhci-pci && modprobe ftdi_sio || echo "modprobe failed"
n=0
while [ ! -e $usb ] && [ $n -lt 300 ]; do
    usleep 100000
    n=$((n + 1))
done

latency=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer
show_flags() {
    echo "uart flags: $(cat /sys/class/tty/ttyS1/flags)"
    echo "uart rx_trig_bytes: $(cat /sys/class/tty/ttyS1/rx_trig_bytes)"
    echo "usb latency_timer: $(cat $latency)"
}
# busybox stty also asks for the window size, which a serial port does not have.
settings() {
    stty -F "$1" -a 2>/dev/null
}
step flags-before show_flags
step stty-uart-before settings $uart
step stty-usb-before settings $usb
step modem-lines cat /proc/tty/driver/serial

step ports versionup-cli ports
step check-discovery versionup-cli check
step check-both versionup-cli check --port $uart --port $usb

# What the program set on each driver while it ran: stty reads it through a second open, which
# the exclusive open lets through for root.
sample() {
    while [ -e /tmp/upgrading ]; do
        for dev in $uart $usb; do
            echo "$dev $(settings "$dev" | tr '\n' ' ' | sed 's/  */ /g')"
        done
        show_flags
        usleep 200000
    done | sort -u
}
touch /tmp/upgrading
sample >/tmp/samples &
sampler=$!
step upgrade versionup-cli upgrade --port $uart --port $usb --yes
rm /tmp/upgrading
wait $sampler
step settings-during cat /tmp/samples

step flags-after show_flags
step stty-uart-after settings $uart
step stty-usb-after settings $usb
echo "==> done"
poweroff -f
