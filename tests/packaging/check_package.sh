#!/usr/bin/env bash
# Builds the Debian package and reads its control fields and file list.
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$out" > "$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/morvane_*_*.deb)
field() { dpkg-deb -f "$deb" "$1"; }
fail() { echo "$1"; exit 1; }
[ "$(field Package)" = morvane ] || fail "Package is $(field Package)"
[ "$(field Version)" = "1.1.1" ] || fail "Version is $(field Version)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is $(field Architecture)"
depends=$(field Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libc6; do
    echo "$depends" | grep -q "\b$lib\b" || fail "Depends lacks $lib: $depends"
done
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/morvane ./usr/share/applications/example.morvane.Morvane.desktop \
         ./usr/share/metainfo/example.morvane.Morvane.metainfo.xml \
         ./usr/share/icons/hicolor/32x32/apps/morvane.png \
         ./usr/share/icons/hicolor/scalable/apps/morvane.svg; do
    echo "$files" | grep -qx "$f" || fail "package lacks $f"
done
echo "$(basename "$deb"): Depends: $depends"
