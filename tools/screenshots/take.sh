#!/usr/bin/env bash
# Writes docs/screenshots/en/*.png and docs/screenshots/ja/*.png: the main window at every step,
# its popups, the About box and a message, in English and in Japanese, on a virtual X display
# with a window manager, so that the windows carry their title bars as on a desktop.
#   tools/screenshots/take.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
tools/deps.sh
cmake --build "$build" --target versionup-screenshots
shooter=$(realpath "$build/tools/screenshots/versionup")
for lang in en ja; do
    locale=C.UTF-8
    [[ $lang == ja ]] && locale=ja_JP.UTF-8
    out=$PWD/docs/screenshots/$lang
    rm -rf "$out"
    # A home of its own, so that nothing of the run stays in the caller's.
    home=$(mktemp -d)
    env -u LC_ALL -u LC_MESSAGES -u WAYLAND_DISPLAY LANG=$locale HOME="$home" \
        XDG_CONFIG_HOME="$home/.config" QT_QPA_PLATFORM=xcb \
        xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96 -wr" \
        bash -c 'openbox >/dev/null 2>&1 & wm=$!; sleep 1; "$0" "$1"; status=$?; kill $wm; exit $status' \
        "$shooter" "$out"
    rm -rf "$home"
done
