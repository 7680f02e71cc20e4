#!/usr/bin/env bash
# shellcheck disable=SC2317 # the checks run their conditions through expect
# Runs versionup-cli on real kernel serial drivers: boots Debian's own kernel under QEMU with a
# 16550A UART and an emulated FTDI adapter (ftdi_sio), each wired to a simulated machine on the
# host, and judges what the guest and the two machines report.
#
# usage: kernel-drivers.sh VERSIONUP_CLI MACHINE_SIM WORK_DIR
# WORK_DIR keeps the downloaded kernel between runs (kernel/); each run starts run/ afresh.
set -uo pipefail

# Behaviour that other changes bring: while a name is listed here its checks are reported but do
# not fail the run. Remove the name once the change is in.
pending=()

cli=$1
sim=$2
work=$3
here=$(cd "$(dirname "$0")" && pwd)
cache=$work/kernel
run=$work/run
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
die() {
    echo "FAIL: $*" >&2
    exit 1
}
is_pending() {
    local name
    for name in "${pending[@]}"; do [[ $name == "$1" ]] && return 0; done
    return 1
}
# expect NAME DESCRIPTION COMMAND...: a check of the run; a pending one only reports.
expect() {
    local name=$1 what=$2
    shift 2
    if "$@"; then
        echo "ok: $what"
    elif is_pending "$name"; then
        echo "pending ($name): $what does not hold yet"
    else
        fail "$what"
    fi
}

# Debian's current kernel: linux-image-amd64 only depends on the real image package. Downloaded
# once and kept with a modules.dep, which the package leaves to its install scripts.
fetch_kernel() {
    mkdir -p "$cache"
    local image
    image=$(apt-cache depends linux-image-amd64 2>/dev/null |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }')
    if [[ -z $image ]]; then
        # No package lists (apt-get update never ran): the kernel fetched last time will do.
        image=$(find "$cache" -maxdepth 1 -name '*.ready' -printf '%T@ %f\n' 2>/dev/null |
            sort -rn | sed -n '1s/^[^ ]* \(.*\)\.ready$/\1/p')
        [[ -n $image ]] || die "apt-cache names no kernel image for linux-image-amd64 (apt-get update?)"
    fi
    root=$cache/$image
    if [[ ! -f $root.ready ]]; then
        rm -rf "$root" "$cache"/*.deb
        (cd "$cache" && apt-get download "$image") || die "cannot download $image"
        dpkg-deb -x "$cache"/"$image"_*.deb "$root" || die "cannot unpack $image"
        rm -f "$cache"/*.deb
        version=$(ls "$root/lib/modules")
        busybox depmod -b "$root" "$version" || die "depmod failed on $image"
        # Only the USB drivers are ever loaded; the rest would keep 400 MB in the build folder.
        find "$root/lib/modules/$version/kernel" -mindepth 1 -maxdepth 1 ! -name drivers \
            -exec rm -rf {} +
        find "$root/lib/modules/$version/kernel/drivers" -mindepth 1 -maxdepth 1 ! -name usb \
            -exec rm -rf {} +
        touch "$root.ready"
    fi
    version=$(ls "$root/lib/modules")
    kernel=$root/boot/vmlinuz-$version
    [[ -f $kernel ]] || die "no kernel in $image"
}

# busybox, the program with the libraries it links, the USB serial modules with what they need,
# and the guest's init.
make_initramfs() {
    local dir=$run/initramfs modules=$root/lib/modules/$version
    mkdir -p "$dir"/{bin,usr/bin,proc,sys,dev,tmp,lib/modules/"$version"}
    cp /bin/busybox "$dir/bin/busybox"
    cp "$cli" "$dir/usr/bin/versionup-cli"
    cp "$here/guest-init.sh" "$dir/init"
    local lib
    for lib in $(ldd "$cli" | awk '$2 == "=>" { print $3 } $1 ~ /^\// { print $1 }'); do
        mkdir -p "$dir$(dirname "$lib")"
        cp -L "$lib" "$dir$lib"
    done
    local ko
    grep -E '^kernel/drivers/usb/(host/xhci-pci|serial/ftdi_sio)\.ko:' "$modules/modules.dep" |
        tr ' :' '\n' | sort -u | while read -r ko; do
        [[ -n $ko ]] || continue
        mkdir -p "$dir/lib/modules/$version/$(dirname "$ko")"
        cp "$modules/$ko" "$dir/lib/modules/$version/$ko" || die "no $ko in $image"
        grep "^$ko:" "$modules/modules.dep" >>"$dir/lib/modules/$version/modules.dep"
    done
    (cd "$dir" && find . | cpio -o -H newc --quiet) >"$run/initramfs.cpio" ||
        die "cannot pack the initramfs"
}

# A machine on a pseudo-terminal; prints the terminal's path. Unpaced: the program itself waits
# out each write's time on the wire, which keeps the run at the line's pace anyway.
start_machine() {
    local name=$1
    "$sim" --ports "$run/$name-ports" --com 1 >"$run/$name.log" 2>&1 &
    echo $! >"$run/$name.pid"
    local pty=
    while [[ -z $pty ]] && kill -0 "$(cat "$run/$name.pid")" 2>/dev/null; do
        pty=$(sed -n 's/^machine-sim: COM1: is \(\/dev\/[^ ]*\).*/\1/p' "$run/$name.log")
        [[ -n $pty ]] || sleep 0.1
    done
    [[ -n $pty ]] || die "machine-sim did not start: $(cat "$run/$name.log")"
    echo "$pty"
}
stop_machine() {
    local pid
    pid=$(cat "$run/$1.pid")
    kill -TERM "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

# The lines of one step of the guest's console, without the frame.
section() {
    awk -v name="$1" '$0 == "==> " name { on = 1; next }
        on && index($0, "<== " name " rc=") == 1 { exit }
        on { print }' "$run/console.txt"
}
status() {
    sed -n "s/^<== $1 rc=\([0-9]*\)$/\1/p" "$run/console.txt"
}

started=$SECONDS
fetch_kernel
rm -rf "$run"
mkdir -p "$run"
make_initramfs

trap 'kill $(cat "$run"/*.pid 2>/dev/null) 2>/dev/null' EXIT
uart_pty=$(start_machine uart) || exit 1
usb_pty=$(start_machine usb) || exit 1

# A nested guest that has /dev/kvm but no virtualisation extensions hangs in the kernel's
# decompressor, so KVM only where the processor shows them.
accel=(-accel tcg)
if [[ -w /dev/kvm ]] && grep -qwE 'vmx|svm' /proc/cpuinfo; then
    accel=(-accel kvm -cpu host)
fi
echo "kernel $version under ${accel[1]}"

# QEMU asks a host terminal for the modem lines, and a pseudo-terminal has none: the guest would
# see CTS, DSR and DCD low and the 16550A would hold every byte under RTS/CTS. A multiplexed
# character device answers no line requests, so both the UART and the FTDI adapter show the lines
# high; the price is that the guest's line settings no longer reach the machines' terminals (the
# guest's own samples check them instead). The multiplexer looks for its escape character in
# the data and would eat a loader byte 0x01; 256 is no byte.
timeout 600 qemu-system-x86_64 -nodefaults -display none -no-reboot -m 256 "${accel[@]}" \
    -kernel "$kernel" -initrd "$run/initramfs.cpio" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1" \
    -chardev file,id=console,path="$run/console.log" -serial chardev:console \
    -echr 256 \
    -chardev serial,id=uart,path="$uart_pty",mux=on -device isa-serial,chardev=uart,index=1 \
    -device qemu-xhci,id=xhci \
    -chardev serial,id=usb,path="$usb_pty",mux=on \
    -device usb-serial,bus=xhci.0,chardev=usb,always-plugged=on \
    >"$run/qemu.log" 2>&1
qemu_rc=$?
stop_machine uart
stop_machine usb
tr -d '\r' <"$run/console.log" >"$run/console.txt"
echo "--- guest console"
cat "$run/console.txt"
# The machines repeat their complaints about line settings for every byte; once each is enough.
echo "--- machine on the 16550A"
awk '!seen[$0]++' "$run/uart.log"
echo "--- machine on the FTDI adapter"
awk '!seen[$0]++' "$run/usb.log"
echo "---"
[[ $qemu_rc -eq 0 ]] || fail "qemu ended with $qemu_rc: $(cat "$run/qemu.log")"
grep -q '^==> done$' "$run/console.txt" || fail "the guest did not finish its steps"

# Not through a pipe: grep -q would end before awk and pipefail would count that as failure.
has() { grep -qE "$2" <<<"$(section "$1")"; }
lacks() { ! has "$@"; }
ran() { [[ $(status "$1") == 0 ]]; }
same() { [[ -n $(section "$1") && "$(section "$1")" == "$(section "$2")" ]]; }
console_untouched() { ! grep -q 'F;' "$run/console.txt"; }

# Without them nothing below can work; see the multiplexer above.
expect - "the 16550A sees CTS, DSR and DCD raised" has modem-lines '^1: uart:16550A .*CTS\|DSR\|CD'
for port in ttyS1 ttyUSB0; do
    expect - "ports lists $port" has ports "^COM[1-4] +/dev/$port +present"
done
expect - "ports skips the phantom ttyS2 and ttyS3" lacks ports 'ttyS[23]'
expect - "check without --port succeeds" ran check-discovery
expect - "check without --port reads a machine's reply" has check-discovery 'reply "V250 TVK-50"'
expect console-skipped "discovery writes nothing into the console (ttyS0)" console_untouched
for port in ttyS1 ttyUSB0; do
    expect - "check on $port reads the machine's reply" \
        has check-both "^/dev/$port: +reply \"V250 TVK-50\" +model TVK-50 .*Upgrade needed"
done
expect - "check on both ports succeeds" ran check-both
expect - "the upgrade succeeds" ran upgrade
expect - "the upgrade names both machines upgraded" has upgrade '^2 of 2 machines upgraded'
for machine in uart usb; do
    expect - "the machine on $machine received the built-in loader byte for byte" \
        grep -q '^loader: 3064 bytes, the built-in loader exactly$' "$run/$machine.log"
    expect - "the machine on $machine received the built-in package byte for byte" \
        grep -q '^package: 118658 bytes, the built-in package exactly$' "$run/$machine.log"
done

# What the drivers held while the program ran, from the guest's samples: QEMU does not pass the
# handshake settings on to the host side, so the machines cannot see them.
for port in ttyS1 ttyUSB0; do
    expect - "$port carried the loader at 9600 8N1 without handshake or XON/XOFF" \
        has settings-during "^/dev/$port speed 9600 baud;.* -parenb .* cs8 .* -cstopb .* -crtscts .* -ixon -ixoff "
    expect - "$port carried the package at 38400 8N1 with RTS/CTS and without XON/XOFF" \
        has settings-during "^/dev/$port speed 38400 baud;.* -parenb .* cs8 .* -cstopb .* crtscts .* -ixon -ixoff "
done
expect - "the 16550A was in low-latency mode while open" \
    has settings-during '^uart flags: 0x[0-9a-f]*[2367abef][0-9a-f]{3}$'
expect - "the FTDI adapter's latency timer was 1 ms while open" \
    has settings-during '^usb latency_timer: 1$'
expect uart-rx-trigger "the 16550A's receive FIFO interrupted at every byte during the upload" \
    has settings-during '^uart rx_trig_bytes: 1$'
expect - "low latency, latency timer and FIFO trigger are put back after the run" \
    same flags-before flags-after
expect termios-restored "ttyS1's settings are put back after the run" \
    same stty-uart-before stty-uart-after
expect termios-restored "ttyUSB0's settings are put back after the run" \
    same stty-usb-before stty-usb-after

echo "guest and machines took $((SECONDS - started)) s"
exit $((failures > 0))
