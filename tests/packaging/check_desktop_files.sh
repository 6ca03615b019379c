#!/usr/bin/env bash
# The menu entry and the metainfo pass their validators; the entry starts
# the program without arguments and names the installed icon.
set -euo pipefail
data=$1
entry="$data/example.morvane.Morvane.desktop"
desktop-file-validate "$entry"
appstreamcli validate --no-net "$data/example.morvane.Morvane.metainfo.xml"
grep -qx "Exec=morvane" "$entry" || { echo "Exec line must be 'morvane' with no arguments"; exit 1; }
grep -qx "Icon=morvane" "$entry" || { echo "Icon must be the installed 'morvane'"; exit 1; }
grep -qx "Name=Morvane" "$entry" || { echo "Name must be Morvane"; exit 1; }
grep -qx "Categories=Utility;FileTools;" "$entry" || { echo "Categories must be Utility;FileTools;"; exit 1; }
echo "desktop entry and metainfo valid"
