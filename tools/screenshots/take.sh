#!/usr/bin/env bash
# Writes docs/screenshots/en/*.png and docs/screenshots/ja/*.png: the main window at every step,
# its popups, the About box and a message, in English and in Japanese, on a virtual X display
# with a window manager, so that the windows carry their title bars as on a desktop. The same again
# at a scale factor of 2, as on a high-density screen, in docs/screenshots/en-2x and ja-2x.
#   tools/screenshots/take.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
tools/deps.sh
cmake --build "$build" --target versionup-screenshots
shooter=$(realpath "$build/tools/screenshots/versionup")
for scale in 1 2; do
    for lang in en ja; do
        locale=C.UTF-8
        [[ $lang == ja ]] && locale=ja_JP.UTF-8
        out=$PWD/docs/screenshots/$lang
        [[ $scale == 1 ]] || out=$out-${scale}x
        rm -rf "$out"
        # A home of its own, so that nothing of the run stays in the caller's.
        home=$(mktemp -d)
        # The screen grows with the scale, so that it holds as much as at scale 1. The windows
        # open once the window manager has taken the display (it names the current desktop then),
        # or they would have no title bars.
        env -u LC_ALL -u LC_MESSAGES -u WAYLAND_DISPLAY -u QT_SCREEN_SCALE_FACTORS \
            -u QT_AUTO_SCREEN_SCALE_FACTOR LANG=$locale HOME="$home" \
            XDG_CONFIG_HOME="$home/.config" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale \
            xvfb-run -a -s "-screen 0 $((1024 * scale))x$((768 * scale))x24 -dpi 96 -wr" \
            bash -c 'openbox >/dev/null 2>&1 & wm=$!
                     for _ in $(seq 100); do xdotool get_desktop >/dev/null 2>&1 && break; sleep 0.1; done
                     "$0" "$1"; status=$?; kill $wm; exit $status' \
            "$shooter" "$out"
        rm -rf "$home"
    done
done
