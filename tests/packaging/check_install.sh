#!/usr/bin/env bash
# Installs the build into a temporary prefix and finds every file where the
# desktop looks for it.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
expected=(
    bin/morvane
    libexec/morvane/morvane_window
    share/applications/example.morvane.Morvane.desktop
    share/metainfo/example.morvane.Morvane.metainfo.xml
    share/icons/hicolor/32x32/apps/morvane.png
    share/icons/hicolor/scalable/apps/morvane.svg
    share/mime/packages/morvane.xml
    share/man/man1/morvane.1.gz
    share/bash-completion/completions/morvane
    share/doc/morvane/copyright
    share/doc/morvane/changelog.gz
)
for f in "${expected[@]}"; do
    [ -f "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
[ -x "$prefix/bin/morvane" ] || { echo "bin/morvane is not executable"; exit 1; }
# The commands load no GUI library; the window program is found from the launcher.
! readelf -d "$prefix/bin/morvane" | grep -q "libQt6\(Gui\|Widgets\)" || { echo "bin/morvane needs a GUI library"; exit 1; }
env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/morvane" --version | grep -qx "Morvane 1.1.1" || { echo "bin/morvane did not start the window program"; exit 1; }
size=$(file -b "$prefix/share/icons/hicolor/32x32/apps/morvane.png" | grep -o "32 x 32" || true)
[ "$size" = "32 x 32" ] || { echo "the hicolor 32x32 icon is not 32 x 32"; exit 1; }
extra=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort | comm -23 - <(printf '%s\n' "${expected[@]}" | sort))
[ -z "$extra" ] || { echo "unexpected files installed: $extra"; exit 1; }
echo "all ${#expected[@]} files installed where they belong"
