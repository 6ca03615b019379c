#!/usr/bin/env bash
# The menu entry and the metainfo pass their validators; the entry starts
# the program on the file it is given, names the installed icon and the
# window's class, and declares the header's file type as the metainfo does.
set -euo pipefail
data=$1
entry="$data/example.morvane.Morvane.desktop"
metainfo="$data/example.morvane.Morvane.metainfo.xml"
type=application/x-morvane-header
desktop-file-validate "$entry"
appstreamcli validate --no-net "$metainfo"
grep -qx "Exec=morvane %f" "$entry" || { echo "Exec line must be 'morvane %f'"; exit 1; }
grep -qx "Icon=morvane" "$entry" || { echo "Icon must be the installed 'morvane'"; exit 1; }
grep -qx "Name=Morvane" "$entry" || { echo "Name must be Morvane"; exit 1; }
grep -qx "Categories=Utility;FileTools;" "$entry" || { echo "Categories must be Utility;FileTools;"; exit 1; }
grep -qx "MimeType=$type;" "$entry" || { echo "MimeType must be $type"; exit 1; }
grep -qx "StartupWMClass=Morvane" "$entry" || { echo "StartupWMClass must be the window's class, Morvane"; exit 1; }
grep -q "<mediatype>$type</mediatype>" "$metainfo" || { echo "metainfo does not provide $type"; exit 1; }
echo "desktop entry and metainfo valid"
