#!/usr/bin/env bash
# What gets installed, and the Debian package: the program, its desktop entry,
# the icon at every size and the AppStream metainfo, each accepted by its
# validator; the package's fields and dependencies, its files the same as a
# plain install's, and the libraries of its program found on this system.
#
# Installs the build directory of APP into a scratch root and packs it with
# cpack (no compiling). The Release package of scripts/package.sh, if there is
# one in build-pkg, is checked too. Needs no desktop.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"

require cmake cpack dpkg-deb desktop-file-validate appstreamcli identify convert compare file ldd
{ [ -n "$APP" ] && [ -x "$APP" ]; } || fail "APP is not set to the program (got '$APP')"
BUILD=$(cd "$(dirname "$APP")" && pwd)
[ -f "$BUILD/CPackConfig.cmake" ] || skip "$BUILD has no CPack configuration"
test_setup

VERSION=$(sed -n 's/^project(mirebo VERSION \([0-9.]*\).*/\1/p' "$SRC/CMakeLists.txt")
APP_ID=io.github.mirebo.mirebo
ICONS=$SRC/resources/icons
SIZES="16 32 48 64 128"
# Every file installed, relative to the root.
EXPECTED="usr/bin/mirebo
usr/share/applications/mirebo.desktop"
for n in $SIZES; do EXPECTED+=$'\n'"usr/share/icons/hicolor/${n}x${n}/apps/mirebo.png"; done
EXPECTED+=$'\n'"usr/share/metainfo/$APP_ID.metainfo.xml"
EXTENSION=usr/share/gnome-shell/extensions/mirebo-windows@mirebo.github.io
for f in extension.js metadata.json callers; do EXPECTED+=$'\n'"$EXTENSION/$f"; done
EXPECTED=$(sort <<<"$EXPECTED")

# Called only from check conditions, which the linter does not read.
# shellcheck disable=SC2317
files_under() { (cd "$1" && find . -type f -printf '%P\n' | sort); }

# The icon's source picture for a size: the 16-pixel art for 16 and 48, the
# 32-pixel art for the others.
icon_source() { case $1 in 16 | 48) echo "$ICONS/mirebo-16.xpm" ;; *) echo "$ICONS/mirebo-32.xpm" ;; esac; }

# Pixels that differ between the installed icon and the source art enlarged
# pixel by pixel to that size.
icon_difference() {
    local ref="$TEST_TMP/ref-$1.png"
    convert "$(icon_source "$1")" -sample "${1}x${1}" "png:$ref"
    compare -metric AE "$ref" "$2" null: 2>&1 || true
}

# check_tree ROOT WHAT PROGRAM: the installed files under ROOT/usr; PROGRAM is where the
# program is once installed (the desktop entry names it so, for KWin).
check_tree() {
    local root=$1 what=$2 program=$3 out n icon desktop=$1/usr/share/applications/mirebo.desktop
    local meta=$1/usr/share/metainfo/$APP_ID.metainfo.xml
    check '[ "$(files_under "$root")" = "$EXPECTED" ]' "$what: installs exactly the program, desktop entry, icons, metainfo and GNOME Shell extension"
    check '[ -x "$root/usr/bin/mirebo" ] && file -b "$root/usr/bin/mirebo" | grep -q "^ELF .* executable"' \
        "$what: usr/bin/mirebo is an executable program"

    out=$(desktop-file-validate "$desktop" 2>&1) || true
    check '[ -z "$out" ]' "$what: desktop-file-validate accepts the desktop entry without a remark${out:+ (said: $out)}"
    check 'grep -qx "Exec=$program" "$desktop" && grep -qx "Icon=mirebo" "$desktop" && grep -qx "Type=Application" "$desktop"' \
        "$what: the desktop entry runs $program with the icon mirebo"
    check 'grep -qx "X-KDE-Wayland-Interfaces=org_kde_plasma_window_management" "$desktop"' \
        "$what: the desktop entry asks KWin for its window list"
    check 'grep -qx "Name\[ja\]=ミレボ" "$desktop" && grep -q "^Comment\[ja\]=." "$desktop"' \
        "$what: the desktop entry has its Japanese name and comment"

    for n in $SIZES; do
        icon=$root/usr/share/icons/hicolor/${n}x${n}/apps/mirebo.png
        check '[ "$(identify -format "%m %w %h" "$icon")" = "PNG $n $n" ]' "$what: the ${n}x${n} icon is a ${n}x${n} PNG"
        out=$(icon_difference "$n" "$icon")
        check '[ "$out" = 0 ]' "$what: the ${n}x${n} icon is the art, each pixel enlarged without smoothing ($out pixels differ)"
    done

    out=$(appstreamcli validate --no-net --pedantic "$meta" 2>&1) || fail "$what: appstreamcli rejects the metainfo: $out"
    check 'grep -q "Validation was successful" <<<"$out" && ! grep -q "^[EWIP]:" <<<"$out"' \
        "$what: appstreamcli validates the metainfo without a remark, even pedantic (said: $out)"
    out=$(appstreamcli validate-tree --no-net "$root" 2>&1) || fail "$what: appstreamcli rejects the installed tree: $out"
    check '! grep -q "^[EWI]:" <<<"$out"' "$what: appstreamcli validate-tree accepts the tree with its desktop entry and icons (said: $out)"
    check 'grep -q "<launchable type=\"desktop-id\">mirebo.desktop</launchable>" "$meta" && grep -q "<binary>mirebo</binary>" "$meta"' \
        "$what: the metainfo names the desktop entry and the program"
    check 'grep -q "<release version=\"$VERSION\"" "$meta"' "$what: the metainfo's release is version $VERSION"

    # GNOME Shell 43 here: the script form, answering the program where this install put it.
    check '[ "$(cat "$root/$EXTENSION/callers")" = "$program" ]' "$what: the GNOME extension answers $program alone"
    check '"$PY" -c "import json,sys; m=json.load(open(sys.argv[1])); sys.exit(not (m[\"uuid\"] == sys.argv[2] and \"43\" in m[\"shell-version\"]))" "$root/$EXTENSION/metadata.json" "$(basename "$EXTENSION")"' \
        "$what: the extension's metadata names its folder and GNOME Shell 43"
    check 'grep -q "^function init(" "$root/$EXTENSION/extension.js"' "$what: the extension is in the form GNOME Shell 43 loads"
}

# check_deb DEB WHAT: the package's fields, files and libraries.
check_deb() {
    local deb=$1 what=$2 depends names known dep root out field
    root=$(mktemp -d "$TEST_TMP/deb-root.XXXXXX")
    for field in Package=mirebo Version="$VERSION-1" Section=utils Architecture="$(dpkg --print-architecture)"; do
        check '[ "$(dpkg-deb -f "$deb" "${field%%=*}")" = "${field#*=}" ]' "$what: its ${field%%=*} is ${field#*=}"
    done
    check 'dpkg-deb -f "$deb" Maintainer | grep -q "<.*@.*>"' "$what: it names a maintainer with an address"
    check '[ -n "$(dpkg-deb -f "$deb" Description)" ]' "$what: it has a description"
    depends=$(dpkg-deb -f "$deb" Depends)
    say "$what: Depends: $depends"
    for dep in qt6-qpa-plugins fonts-ipafont-gothic xdg-utils libqt6core6 libqt6gui6 libqt6widgets6 libx11-6 libxcb1 libc6; do
        check 'tr "," "\n" <<<"$depends" | grep -qE "^ *$dep( |\$)"' "$what: Depends has $dep"
    done
    # One apt-cache call for all: each takes most of a second.
    mapfile -t names < <(tr ',' '\n' <<<"$depends" | sed 's/(.*//; s/|.*//' | tr -d ' ' | sort -u)
    known=$(apt-cache show --no-all-versions "${names[@]}" 2>/dev/null | sed -n 's/^Package: //p' | sort -u)
    for dep in "${names[@]}"; do
        check 'grep -qx -- "$dep" <<<"$known"' "$what: the dependency $dep is a package apt knows"
    done
    out=$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')
    check '[ -z "$out" ]' "$what: every file in it belongs to root"

    dpkg-deb -x "$deb" "$root"
    check_tree "$root" "$what" /usr/bin/mirebo
    for f in $EXPECTED; do
        [ "$f" = usr/bin/mirebo ] || [ "$f" = "$EXTENSION/callers" ] && continue
        # The desktop entry names the program where each install put it.
        check 'cmp -s <(grep -v "^Exec=" "$root/$f") <(grep -v "^Exec=" "$INSTALLED/$f")' \
            "$what: $f is the same as a plain install's"
    done
    check '[ "$(stat -c %a "$root/usr/bin/mirebo")" = 755 ]' "$what: the program is mode 755"
    check '! file -b "$root/usr/bin/mirebo" | grep -q "not stripped"' "$what: the program is stripped"
    out=$(ldd "$root/usr/bin/mirebo" 2>&1) || fail "$what: ldd fails on the program: $out"
    check '! grep -q "not found" <<<"$out"' "$what: every library of the program is found here"
    check 'grep -q "libQt6Widgets.so.6 => /" <<<"$out"' "$what: the program finds Qt Widgets on the system"
}

# A plain install of the build directory.
INSTALLED=$TEST_TMP/install
cmake --build "$BUILD" --target mirebo_icons >/dev/null || fail "cannot build the icons in $BUILD"
cmake --install "$BUILD" --prefix "$INSTALLED/usr" >/dev/null || fail "cmake --install $BUILD failed"
check_tree "$INSTALLED" "install" "$INSTALLED/usr/bin/mirebo"

# The package made from the same build.
out=$(cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$TEST_TMP/pack" 2>&1) || fail "cpack failed: $out"
deb=$(find "$TEST_TMP/pack" -maxdepth 1 -name 'mirebo_*.deb')
check '[ -f "$deb" ] && [ "$(basename "$deb")" = "mirebo_${VERSION}-1_$(dpkg --print-architecture).deb" ]' \
    "cpack wrote mirebo_${VERSION}-1_$(dpkg --print-architecture).deb"
check_deb "$deb" "package"

# The Release package, if scripts/package.sh has made one.
shopt -s nullglob
release=("$SRC"/build-pkg/mirebo_*.deb)
if [ ${#release[@]} -eq 1 ]; then
    check_deb "${release[0]}" "build-pkg package"
else
    say "no package in $SRC/build-pkg (scripts/package.sh makes one): only the one from $BUILD checked"
fi
pass
