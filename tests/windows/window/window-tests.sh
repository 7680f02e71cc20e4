#!/usr/bin/env bash
# versionup.exe under wine on a virtual X display of its own, with openbox as window manager and
# a wine prefix of its own, against the Linux machine-sim on COM1, driven by keys and clicks only:
#   window-tests.sh VERSIONUP_EXE WINDOW_TEXT_EXE MACHINE_SIM [SCREENSHOT_DIR]
# What the windows show is read back with window-text.exe. With SCREENSHOT_DIR every step is
# photographed in English and Japanese into it.
set -uo pipefail

exe=$(realpath "$1")
window_text=$(realpath "$2")
machine_sim=$(realpath "$3")
shots=${4:+$(realpath -m "$4")}
here=$(cd "$(dirname "$0")" && pwd)
strings_en=$here/../../../resources/strings_en.txt
strings_ja=$here/../../../resources/strings_ja.txt

tmp=$(mktemp -d -t versionup-wine-window.XXXXXX) || exit 1
xvfb= openbox= sim= app=
cleanup() {
    [[ -n $app ]] && kill "$app" 2>/dev/null
    [[ -n $sim ]] && kill -TERM "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
    WINEPREFIX=$tmp/prefix wineserver -k 2>/dev/null
    [[ -n $openbox ]] && kill "$openbox" 2>/dev/null
    [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 143' INT TERM HUP

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The virtual display picks its own number.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
for _ in $(seq 600); do
    [[ -s $tmp/display ]] && break
    sleep 0.05
done
[[ -s $tmp/display ]] || { cat "$tmp/xvfb.log"; echo "FAIL: no virtual display"; exit 1; }
export DISPLAY=":$(head -n 1 "$tmp/display")"
unset WAYLAND_DISPLAY LC_ALL LC_MESSAGES
export LANG=C.UTF-8 WINEPREFIX=$tmp/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# openbox, without its own Alt+Space: that key opens the program's system menu.
sed '/<keybind key="A-space">/,/<\/keybind>/d' /etc/xdg/openbox/rc.xml >"$tmp/rc.xml"
openbox --config-file "$tmp/rc.xml" >"$tmp/openbox.log" 2>&1 &
openbox=$!

# Japanese needs a ja_JP locale on the host for wine to report a Japanese UI language.
mkdir -p "$tmp/locale" ${shots:+"$shots"}
localedef -i ja_JP -f UTF-8 "$tmp/locale/ja_JP.UTF-8" 2>/dev/null \
    || { echo "FAIL: no ja_JP locale"; exit 1; }

wineboot -i >"$tmp/wineboot.log" 2>&1 || { cat "$tmp/wineboot.log"; echo "FAIL: no wine prefix"; exit 1; }
# COM1 and COM5 to COM16 (a USB adapter's numbers) are the simulator's links; COM2 to COM4 lead
# nowhere, so the computer's own ports stay out. COM20 is listed as a Bluetooth port.
ports=$tmp/ports
for n in 1 2 3 4 {5..16} 20; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$ports/com$n" /f >/dev/null 2>&1
done
wineserver -w
# The list of ports is rebuilt when a wineserver starts: this one stays for the whole run, and
# one started after a failed case gets the same list.
list_ports() {
    wineserver -p >/dev/null 2>&1
    # Wine also gives this computer's own serial ports the free numbers above ours: out of the list.
    wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>/dev/null | tr -d '\r' |
        awk '$2 == "REG_SZ" && $3 !~ /^COM([1-9]|1[0-6]|20)$/ { print $1 }' |
        while read -r name; do
            wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "$name" /f >/dev/null 2>&1
        done
    wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\Serial19' /f >/dev/null 2>&1
    wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\BthModem0' /t REG_SZ /d COM20 \
        /f >/dev/null 2>&1
}
list_ports

title='Version up tool for NRP-7/70 TVK-35/50'
app_title=$(basename "$exe" .exe)

# The text of string ID as window-text.exe prints it.
text_of() { # ID [FILE]
    awk -F'\t' -v id="$1" '$1 == id { print $2 }' "${2:-$strings_en}" | sed 's/\\r\\n/\\n/g'
}
# The lines of window-text.exe for the windows titled $1.
read_windows() { wine "$window_text" "$1" 2>/dev/null | tr -d '\r'; }
# The text of control $2 in the window titled $1.
control_text() { read_windows "$1" | awk -F'|' -v id="$2" '$1 == id { print $3; exit }'; }

# Waits up to $2 seconds for condition command $1 (a string for eval) to hold.
wait_for() {
    local deadline=$((SECONDS + $2))
    while ((SECONDS < deadline)); do
        eval "$1" && return 0
        sleep 0.2
    done
    return 1
}
shown() { xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }
# The same through wine, for titles that xdotool does not match (Japanese).
shown_in_wine() { [[ -n $(read_windows "$1") ]]; }
# A popup menu (the right-button popups, the system menu) is up.
menu_shown() { wine "$window_text" 2>/dev/null | tr -d '\r' | grep -q '^window|[^|]*|#32768$'; }
step_is() { [[ $(control_text "$title" 1000) == "$1" ]]; }

start_sim() { start_sim_on 1 "$@"; }
start_sim_on() { # N OPTIONS...: the machine on COMn
    local com=$1
    shift
    rm -rf "$ports"
    "$machine_sim" --ports "$ports" --com "$com" "$@" >"$tmp/machine-sim.log" 2>&1 &
    sim=$!
    wait_for '[[ -L $ports/com$com ]]' 10 || { cat "$tmp/machine-sim.log"; echo "FAIL: no simulated machine"; exit 1; }
}
stop_sim() {
    kill -TERM "$sim"
    wait "$sim"
    sim=
}

start_app() { # [ENV=VALUE...]
    env "$@" wine "$exe" >"$tmp/app.log" 2>&1 &
    app=$!
    wait_for 'shown "$title"' 60 || { fail "no main window"; return 1; }
    window=$(xdotool search --onlyvisible --name "^$title\$" | head -1)
    xdotool windowfocus --sync "$window"
}
press() { # KEY [WINDOW]
    xdotool windowfocus --sync "${2:-$window}" 2>/dev/null
    xdotool key --clearmodifiers "$1"
}
end_app() {
    # An Escape that comes while the run that showed the last box is still ending is that run's
    # cancel, not the window's end: the operator presses it again.
    press Escape
    wait_for '! kill -0 $app 2>/dev/null' 5 || press Escape
    wait_for '! kill -0 $app 2>/dev/null' 20 || { fail "Escape did not end the program"; kill "$app"; }
    wait "$app" 2>/dev/null
    app=
}
# Presses Enter until the step text is $1; keys pressed while the check runs are dropped.
next_until() { # TEXT SECONDS
    local deadline=$((SECONDS + $2))
    while ((SECONDS < deadline)); do
        step_is "$1" && return 0
        shown "$app_title" && return 1
        press Return
        wait_for 'step_is "$1"' 2 && return 0
    done
    return 1
}
# A photograph of the active window with the window manager's frame around it.
shot() { # NAME
    [[ -n $shots ]] || return 0
    sleep 1 # a window that has just come up paints after it is mapped
    local active x y width height left right top bottom
    active=$(xdotool getactivewindow)
    read -r x y width height < <(xwininfo -id "$active" | awk '/Absolute upper-left X/ { x = $NF }
        /Absolute upper-left Y/ { y = $NF } /Width:/ { w = $NF } /Height:/ { h = $NF }
        END { print x, y, w, h }')
    read -r left right top bottom < <(xprop -id "$active" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    # The frame from the screen; the inside from the window itself, since the screen shows some
    # of wine's windows (dialogs over the main window) black.
    xwd -root -silent | convert xwd:- -crop "$((width + left + right))x$((height + top + bottom))+$((x - left))+$((y - top))" \
        +repage "$tmp/frame.png"
    xwd -id "$active" -silent | convert xwd:- "$tmp/inside.png"
    convert "$tmp/frame.png" "$tmp/inside.png" -geometry "+$left+$top" -composite "$shots/$1.png"
}

# The whole upgrade, step by step, with a photograph of each in language $1.
walk_upgrade() { # en|ja STRINGS ENV...
    local lang=$1 table=$2
    shift 2
    start_sim
    start_app "$@" || return
    shot "$lang-01-start"
    next_until "$(text_of 112 "$table")" 20 || fail "$lang: no Connect step"
    shot "$lang-02-connect"
    next_until "$(text_of 115 "$table")" 60 || fail "$lang: the check did not pass"
    [[ $(control_text "$title" 1004) == "V250 TVK-50" ]] || fail "$lang: status line: $(control_text "$title" 1004)"
    shot "$lang-03-unplug-adapter"
    next_until "$(text_of 121 "$table")" 20 || fail "$lang: no Unplug-J9/J10 step"
    shot "$lang-04-unplug-j9j10"
    next_until "$(text_of 122 "$table")" 20 || fail "$lang: no Plug-J1/J2 step"
    shot "$lang-05-plug-j1j2"
    next_until "$(text_of 123 "$table")" 20 || fail "$lang: no Plug-adapter step"
    shot "$lang-06-plug-adapter"
    # One Enter starts the transfer; another would press Cancel in the progress dialog.
    press Return
    local sending
    sending=$(text_of 104 "$table")
    wait_for 'shown_in_wine "$sending"' 30 || fail "$lang: no progress dialog"
    wait_for '[[ $(control_text "$sending" 1004) =~ ^[1-9][0-9]?%$ ]]' 120 && shot "$lang-07-sending"
    wait_for '! shown_in_wine "$sending"' 300 || fail "$lang: the transfer did not end"
    wait_for 'step_is "$(text_of 117 "$table")"' 10 || fail "$lang: no Transfer-done step"
    shown "$app_title" && fail "$lang: a message box after the transfer"
    shot "$lang-08-transfer-done"
    next_until "$(text_of 118 "$table")" 20 || fail "$lang: no Unplug-J1/J2 step"
    shot "$lang-09-unplug-j1j2"
    next_until "$(text_of 119 "$table")" 20 || fail "$lang: no Plug-J9/J10 step"
    shot "$lang-10-plug-j9j10"
    next_until "$(text_of 120 "$table")" 20 || fail "$lang: no Finished step"
    shot "$lang-11-finished"
    end_app
    stop_sim
    grep -q '^loader: 3064 bytes, the built-in loader exactly$' "$tmp/machine-sim.log" \
        || { cat "$tmp/machine-sim.log"; fail "$lang: the machine did not receive the built-in loader"; }
    grep -q '^package: 118658 bytes, the built-in package exactly$' "$tmp/machine-sim.log" \
        || fail "$lang: the machine did not receive the built-in package"
}

# The check against machine-sim answering $1: the message box text (empty: none) and the step.
check_answer() { # REPLY [ENV=VALUE...]
    start_sim --reply "$1"
    shift
    start_app "$@" || return
    next_until "$(text_of 112)" 20 || fail "reply $1: no Connect step"
    press Return
}

test_upgrade_en() { walk_upgrade en "$strings_en"; }
test_upgrade_ja() { walk_upgrade ja "$strings_ja" LANG=ja_JP.UTF-8 LOCPATH="$tmp/locale"; }

test_unnecessary() {
    check_answer "V260 TVK-50;"
    if wait_for 'shown "$app_title"' 60; then
        [[ $(control_text "$app_title" 65535) == "$(text_of 105)" ]] \
            || fail "unnecessary: the box says: $(read_windows "$app_title")"
        shot "en-12-upgrade-unnecessary"
        press Return "$(xdotool search --onlyvisible --name "^$app_title\$" | head -1)"
        wait_for '! shown "$app_title"' 10 || fail "unnecessary: the box stays"
    else
        fail "unnecessary: no message box"
    fi
    end_app
    stop_sim
}

# A USB adapter that got COM7, nothing on COM1 to COM4: the check from the keys finds it.
test_com7() {
    start_sim_on 7 --reply "V260 TVK-50;"
    start_app || return
    next_until "$(text_of 112)" 20 || fail "com7: no Connect step"
    press Return
    if wait_for 'shown "$app_title"' 60; then
        [[ $(control_text "$app_title" 65535) == "$(text_of 105)" ]] \
            || fail "com7: the box says: $(read_windows "$app_title")"
        [[ $(control_text "$title" 1006) == "COM7:" ]] || fail "com7: the port is $(control_text "$title" 1006)"
        press Return "$(xdotool search --onlyvisible --name "^$app_title\$" | head -1)"
        wait_for '! shown "$app_title"' 10 || fail "com7: the box stays"
    else
        shown "Select COM port" && fail "com7: the port dialog came up instead" || fail "com7: no message box"
    fi
    end_app
    stop_sim
}

# COM1 to COM4 absent, eleven silent adapters on COM5 to COM15, the machine on COM16 and a silent
# Bluetooth peer on COM20: the check from the keys finds COM16 and never writes to COM20.
test_discovery_above() {
    local start bluetooth
    start_sim_on 16 --reply "V260 TVK-50;" $(for n in {5..15}; do echo --port $n=silent; done)
    "$machine_sim" --ports "$ports" --com 20 --fault silent >"$tmp/bluetooth.log" 2>&1 &
    bluetooth=$!
    start_app || { kill -INT "$bluetooth"; return; }
    next_until "$(text_of 112)" 20 || fail "above: no Connect step"
    start=$(date +%s%N)
    press Return
    if wait_for 'shown "$app_title"' 60; then
        echo "above: the box after $(( ($(date +%s%N) - start) / 1000000 )) ms"
        [[ $(control_text "$app_title" 65535) == "$(text_of 105)" ]] \
            || fail "above: the box says: $(read_windows "$app_title")"
        [[ $(control_text "$title" 1006) == "COM16:" ]] || fail "above: the port is $(control_text "$title" 1006)"
        press Return "$(xdotool search --onlyvisible --name "^$app_title\$" | head -1)"
        wait_for '! shown "$app_title"' 10 || fail "above: the box stays"
    else
        shown "Select COM port" && fail "above: the port dialog came up instead" || fail "above: no message box"
    fi
    end_app
    stop_sim
    kill -INT "$bluetooth"
    wait "$bluetooth"
    grep -qF 'received 0 bytes' "$tmp/bluetooth.log" || fail "above: the Bluetooth port was written to"
}

# Esc and the window manager's close (Alt+F4) while discovery waits on silent ports, COM1 and
# COM5 to COM15: the check ends as Cancel in the port dialog ends it, on the Start step with no
# port, with neither the port dialog nor a box, and the window stays.
test_cancel_check() {
    local key start
    for key in Escape alt+F4; do
        start_sim --fault silent $(for n in {5..15}; do echo --port $n=silent; done)
        start_app || return
        next_until "$(text_of 112)" 20 || fail "cancel check $key: no Connect step"
        press Return
        wait_for 'step_is "$(text_of 113)"' 10 || fail "cancel check $key: no check"
        start=$(date +%s%N)
        press "$key"
        wait_for 'step_is "$(text_of 111)"' 20 || fail "cancel check $key: not on the Start step"
        echo "cancel check $key: Start step after $(( ($(date +%s%N) - start) / 1000000 )) ms"
        shown "Select COM port" && fail "cancel check $key: the port dialog came up"
        shown "$app_title" && fail "cancel check $key: a message box came up"
        [[ -z $(control_text "$title" 1006) ]] || fail "cancel check $key: the port is $(control_text "$title" 1006)"
        kill -0 "$app" 2>/dev/null || fail "cancel check $key: the window went"
        end_app
        stop_sim
    done
}

# Started with VERSIONUP_TRACE, as support asks, the window writes the check's trace as it closes,
# into a folder named in Japanese too.
test_scanner() {
    check_answer "V250 NRP-7;" VERSIONUP_TRACE="$(winepath -w "$tmp/トレース" 2>/dev/null | tr -d '\r')"
    wait_for 'step_is "$(text_of 115)"' 60 || fail "scanner: the check did not pass"
    [[ $(control_text "$title" 1004) == "V250 NRP-7" ]] || fail "scanner: status line: $(control_text "$title" 1004)"
    shot "en-13-scanner-unplug-adapter"
    end_app
    stop_sim
    local trace
    trace=$(ls "$tmp"/トレース/COM1-*.trace 2>/dev/null)
    [[ -n $trace ]] || { fail "scanner: no trace written"; return; }
    for line in 'open COM1 (' '> 46 3b' '< 56 32 35 30' 'outcome: upgrade needed: V250 NRP-7'; do
        grep -qF -- "$line" "$trace" || { cat "$trace"; fail "scanner: no \"$line\" in the trace"; }
    done
}

# A machine that hangs up in the package: the transfer ends on the Retry step, with no box.
test_failed_transfer() {
    start_sim --boot-fault hangup-package:2000
    start_app || return
    next_until "$(text_of 123)" 90 || fail "failed transfer: no Plug-adapter step"
    press Return
    wait_for 'shown_in_wine "$(text_of 104)"' 30 || fail "failed transfer: no progress dialog"
    wait_for '! shown_in_wine "$(text_of 104)"' 120 || fail "failed transfer: the transfer did not end"
    wait_for 'step_is "$(text_of 115)"' 20 || fail "failed transfer: not on the Retry step"
    shot "en-14-retry"
    shown "$app_title" && fail "failed transfer: a message box came up"
    [[ $(read_windows "$title" | awk -F'|' '$1 == 1002 { print $4 }') != disabled ]] \
        || fail "failed transfer: Back is disabled on the Retry step"
    end_app
    stop_sim
    grep -q '^package: .*not the built-in package' "$tmp/machine-sim.log" \
        || { cat "$tmp/machine-sim.log"; fail "failed transfer: the machine did not see a cut package"; }
}

# The service popup's Select Port and Open... with a malformed package, refused at once; About
# still names the built-in package. The top line's texts open no popup.
test_service() {
    printf 'no firmware package at all' >"$tmp/bad.ufw"
    builtin='TVK35/50 NRP7/70  V260'
    start_app || return
    local x
    for x in 20 150; do # the port's text, then the package's
        xdotool mousemove --window "$window" "$x" 8 click --repeat 2 --delay 80 3
        wait_for menu_shown 3 && { fail "service: a popup from the top line at x $x"; press Escape; }
    done
    # The service popup: right-button double-click with Shift and Ctrl on the picture.
    xdotool mousemove --window "$window" 150 120 keydown shift keydown ctrl click --repeat 2 --delay 80 3 \
        keyup ctrl keyup shift
    wait_for menu_shown 10 || fail "service: no popup"
    shot "en-15-service-popup"
    xdotool key p # "Select &Port...", to the menu that has the keyboard
    if wait_for 'shown "Select COM port"' 10; then
        shot "en-16-select-port"
        port=$(xdotool search --onlyvisible --name '^Select COM port$' | head -1)
        press Tab "$port" # from OK to the list
        press Down "$port"
        press Return "$port"
        wait_for '[[ $(control_text "$title" 1006) == "COM2:" ]]' 10 || fail "service: the port is $(control_text "$title" 1006)"
    else
        fail "service: no port dialog"
    fi
    xdotool mousemove --window "$window" 150 120 keydown shift keydown ctrl click --repeat 2 --delay 80 3 \
        keyup ctrl keyup shift
    wait_for menu_shown 10 || fail "service: no popup"
    xdotool key o # "&Open..."
    if wait_for 'shown "Open"' 20; then
        dialog=$(xdotool search --onlyvisible --name '^Open$' | head -1)
        xdotool windowfocus --sync "$dialog"
        xdotool type --delay 20 "Z:${tmp//\//\\}\\bad.ufw"
        press Return "$dialog"
        # Checked at once: the box names the file, and the built-in package stays in force.
        if wait_for 'shown "$app_title"' 20; then
            shot "en-17-malformed-package"
            [[ $(control_text "$app_title" 65535) == *bad.ufw* ]] \
                || fail "service: the box says: $(read_windows "$app_title")"
            press Return "$(xdotool search --onlyvisible --name "^$app_title\$" | head -1)"
            wait_for '! shown "$app_title"' 10 || fail "service: the box stayed"
        else
            fail "service: the malformed package was not refused"
        fi
        [[ $(control_text "$title" 1007) == "$builtin" ]] \
            || fail "service: the package text is $(control_text "$title" 1007)"
        # No file in force: a plain double-click opens the plain popup again.
        xdotool mousemove --window "$window" 150 120 click --repeat 2 --delay 80 3
        if wait_for menu_shown 10; then
            press Escape
            wait_for '! menu_shown' 10 || fail "service: the popup stayed"
        else
            fail "service: no plain popup"
        fi
        step_is "$(text_of 111)" || fail "service: the step changed"
    else
        fail "service: no file-open dialog"
    fi
    # About from the system menu: Alt+Space, then Up from the first item wraps to the last, ours.
    press alt+space
    wait_for menu_shown 10 || fail "about: no system menu"
    shot "en-18-system-menu"
    xdotool key Up
    xdotool key Return
    if wait_for 'shown About' 10; then
        shot "en-19-about"
        [[ $(control_text About 1008) == "Upgrade for $builtin" ]] \
            || fail "about: $(read_windows About)"
        press Return "$(xdotool search --onlyvisible --name '^About$' | head -1)"
        wait_for '! shown About' 10 || fail "about: OK did not close it"
    else
        fail "about: no About box"
    fi
    end_app
}

# A machine silent in boot mode, the "Sending" dialog focused: Esc, Enter on its focused Cancel and
# the window manager's close (the close box, Alt+F4) each end the transfer on the Retry step at
# once, long before the synchronisation's 10 s.
test_cancel_keys() {
    local key progress start
    for key in Escape Return alt+F4; do
        start_sim --boot-fault silent
        start_app || return
        if ! next_until "$(text_of 123)" 90; then
            fail "cancel $key: no Plug-adapter step"
        else
            press Return
            if wait_for 'shown_in_wine "$(text_of 104)"' 30; then
                progress=$(xdotool search --onlyvisible --name "^$(text_of 104)\$" | head -1)
                start=$SECONDS
                press "$key" "$progress"
                wait_for '! shown_in_wine "$(text_of 104)"' 8 || fail "cancel $key: the dialog stayed"
                wait_for 'step_is "$(text_of 115)"' 20 || fail "cancel $key: not on the Retry step"
                echo "cancel $key: Retry step after $((SECONDS - start)) s"
                shown "$app_title" && fail "cancel $key: a message box came up"
            else
                fail "cancel $key: no progress dialog"
            fi
        fi
        end_app
        stop_sim
    done
}

# Every step text in the window's own step text box (step-text-fit.exe, STEP_TEXT_FIT), in each
# language with the desktop font wine gives it: no line may reach beyond the box.
test_step_texts() {
    [[ -n ${STEP_TEXT_FIT:-} ]] || { fail "step texts: STEP_TEXT_FIT names no step-text-fit.exe"; return; }
    local lang
    for lang in en ja; do
        local env=()
        [[ $lang == ja ]] && env=(LANG=ja_JP.UTF-8 LOCPATH="$tmp/locale")
        env "${env[@]}" wine "$STEP_TEXT_FIT" 2>/dev/null | tr -d '\r' >"$tmp/fit-$lang.log"
        cat "$tmp/fit-$lang.log"
        grep -q "^ok [0-9]* $lang:" "$tmp/fit-$lang.log" || fail "step texts ($lang): nothing measured"
        grep -q "^FAIL" "$tmp/fit-$lang.log" && fail "step texts ($lang): a line is wider than the box"
    done
}

# WINDOW_TESTS picks some of them, for a quicker look.
SECONDS=0
for name in ${WINDOW_TESTS:-upgrade_en upgrade_ja unnecessary com7 discovery_above cancel_check scanner failed_transfer service cancel_keys}; do
    echo "== $name"
    before=$failures
    "test_$name"
    # A case that failed may leave its program or machine behind for the next.
    if ((failures > before)); then
        [[ -n $app ]] && kill "$app" 2>/dev/null && app=
        [[ -n $sim ]] && stop_sim
        wineserver -k 2>/dev/null
        wineserver -w 2>/dev/null
        list_ports
    fi
done
echo "window tests under wine: ${SECONDS}s"
if ((failures)); then
    echo "FAIL: $failures"
    exit 1
fi
echo "PASS: the window under wine"
