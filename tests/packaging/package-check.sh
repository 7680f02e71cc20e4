#!/usr/bin/env bash
# The Debian package as the archive's tools and a user see it: CPack's own target builds it from
# the finished build, it holds both programs and everything a desktop and `man` look for, its
# dependencies name the package of every library the programs load, lintian finds nothing to
# complain about, and both programs start from the files it unpacks.
#   package-check.sh BUILD VERSION WINDOW_TITLE
set -euo pipefail

fail() {
    echo "FAIL: $*"
    exit 1
}

if [[ ${1:-} != --inside ]]; then
    build=$(realpath "$1")
    version=$2
    title=$3
    tmp=$(mktemp -d -t versionup-package.XXXXXX)
    trap 'rm -rf "$tmp"' EXIT

    echo "--- cmake --build --target package"
    cmake --build "$build" --target package
    deb=$build/versionup_${version}_$(dpkg --print-architecture).deb
    [[ -f $deb ]] || fail "no $deb"

    echo "--- contents"
    dpkg-deb --contents "$deb"
    dpkg-deb --contents "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$tmp/contents"
    for file in /usr/bin/versionup /usr/bin/versionup-cli \
        /usr/share/applications/versionup.desktop \
        /usr/share/icons/hicolor/16x16/apps/versionup.png \
        /usr/share/icons/hicolor/32x32/apps/versionup.png \
        /usr/share/metainfo/org.example.versionup.metainfo.xml \
        /usr/share/man/man1/versionup.1.gz /usr/share/man/man1/versionup-cli.1.gz \
        /usr/share/doc/versionup/copyright /usr/share/doc/versionup/changelog.gz; do
        grep -qxF "$file" "$tmp/contents" || fail "the package lacks $file"
    done
    # The simulator, the generators and the test programs are for developers only.
    programs=$(grep '^/usr/bin/.' "$tmp/contents" | sort | tr '\n' ' ')
    [[ $programs == "/usr/bin/versionup /usr/bin/versionup-cli " ]] ||
        fail "the package's programs are $programs"

    echo "--- control"
    dpkg-deb --info "$deb"
    root=$tmp/root
    dpkg-deb -x "$deb" "$root"

    # One version everywhere a user or a software centre reads it.
    field() { dpkg-deb --field "$deb" "$1"; }
    [[ $(field Package) == versionup ]] || fail "package name $(field Package)"
    changelog=$(zcat "$root/usr/share/doc/versionup/changelog.gz" >"$tmp/changelog" &&
        dpkg-parsechangelog -l "$tmp/changelog" -S Version)
    release=$(grep -o -m1 '<release version="[^"]*"' \
        "$root/usr/share/metainfo/org.example.versionup.metainfo.xml" | cut -d'"' -f2)
    cli=$("$root/usr/bin/versionup-cli" --version) || fail "versionup-cli --version failed"
    echo "versionup-cli --version: $cli"
    for pair in "control:$(field Version)" "changelog:$changelog" "metainfo release:$release"; do
        [[ ${pair#*:} == "$version" ]] || fail "${pair%%:*} says ${pair#*:}, not $version"
    done
    [[ $cli == *"$version"* ]] || fail "versionup-cli --version says \"$cli\", not $version"

    # Every library a program asks for directly must come from a package it depends on, and
    # nothing a program was built with may be left in it.
    depends=" $(field Depends | sed 's/([^)]*)//g; s/[,|]/ /g') "
    echo "depends on:$depends"
    for program in "$root"/usr/bin/*; do
        name=${program##*/}
        sections=$(readelf -S --wide "$program")
        grep -qE '\.symtab|\.debug_' <<<"$sections" && fail "$name is not stripped"
        for lib in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            owners=$(dpkg -S "*/$lib" 2>/dev/null | cut -d: -f1 | tr ', ' '\n\n' | sort -u)
            [[ -n $owners ]] || fail "$name needs $lib, which no installed package holds"
            found=0
            for owner in $owners; do
                [[ $depends == *" $owner "* ]] && found=1
            done
            ((found)) || fail "$name needs $lib from $(echo $owners), which is not in Depends"
        done
    done
    grep -qE ' [^ ]+-dev ' <<<"$depends" && fail "the package depends on a development package"

    echo "--- desktop entry and metainfo"
    desktop-file-validate "$root/usr/share/applications/versionup.desktop" ||
        fail "desktop-file-validate"
    appstreamcli validate --no-net "$root/usr/share/metainfo/org.example.versionup.metainfo.xml" ||
        fail "appstreamcli validate"
    # The tree as a software centre reads it: the metainfo's launchable and icon must be there.
    appstreamcli validate-tree --no-net "$root" || fail "appstreamcli validate-tree"

    echo "--- lintian"
    lintian --fail-on error,warning --display-info "$deb" || fail "lintian"

    echo "--- the window from the unpacked package"
    mkdir -p "$tmp/home"
    env -u LC_ALL -u LC_MESSAGES -u WAYLAND_DISPLAY -u LD_LIBRARY_PATH LANG=C.UTF-8 \
        QT_QPA_PLATFORM=xcb HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" \
        XDG_CACHE_HOME="$tmp/home/.cache" XDG_DATA_HOME="$tmp/home/.local/share" \
        xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside "$root/usr/bin/versionup" "$title"
    echo "PASS: package"
    exit 0
fi

# Inside the virtual display: the window comes up, stays up for a second and ends on Escape.
versionup=$2
title="^$3\$"
"$versionup" &
app=$!
window=
for _ in $(seq 150); do
    window=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -1) && [[ -n $window ]] &&
        break
    kill -0 "$app" 2>/dev/null || break
    sleep 0.2
done
[[ -n $window ]] || { kill "$app" 2>/dev/null; fail "no window from $versionup"; }
echo "window $window is up"
sleep 1
kill -0 "$app" 2>/dev/null || fail "the program ended by itself"
xdotool search --onlyvisible --name "$title" >/dev/null || fail "the window went away by itself"
xdotool windowfocus --sync "$window"
# A key that reaches the window before it takes keys comes to nothing on a busy computer: the
# operator presses Escape again until the program ends.
for _ in $(seq 60); do
    xdotool key --clearmodifiers Escape || true
    for _ in $(seq 10); do
        kill -0 "$app" 2>/dev/null || break 2
        sleep 0.1
    done
done
if kill -0 "$app" 2>/dev/null; then
    kill "$app"
    fail "Escape did not end the program"
fi
wait "$app" || fail "the program ended with status $?"
