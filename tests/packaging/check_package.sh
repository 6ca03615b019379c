#!/usr/bin/env bash
# Builds the Debian package, reads its control fields and file list, lets
# lintian check it, and unpacks it into a temporary root to see what the
# desktop makes of the header's file type.
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
for dep in libqt6widgets6 libqt6gui6 libqt6core6 libc6 fonts-dejavu-core fonts-dejavu-extra; do
    echo "$depends" | grep -q "\b$dep\b" || fail "Depends lacks $dep: $depends"
done
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/morvane ./usr/libexec/morvane/morvane_window \
         ./usr/share/applications/example.morvane.Morvane.desktop \
         ./usr/share/metainfo/example.morvane.Morvane.metainfo.xml \
         ./usr/share/icons/hicolor/32x32/apps/morvane.png \
         ./usr/share/icons/hicolor/scalable/apps/morvane.svg \
         ./usr/share/mime/packages/morvane.xml ./usr/share/man/man1/morvane.1.gz \
         ./usr/share/bash-completion/completions/morvane \
         ./usr/share/doc/morvane/copyright ./usr/share/doc/morvane/changelog.gz; do
    echo "$files" | grep -qx "$f" || fail "package lacks $f"
done

# No error and no warning, hardening included.
if ! lintian --fail-on error,warning "$deb" > "$out/lintian.log" 2>&1 ||
    grep -q "^[EW]: " "$out/lintian.log"; then
    cat "$out/lintian.log"
    fail "lintian complains"
fi

# The file type database and the desktop's list of handlers, built from the
# unpacked package alone.
root="$out/root"
dpkg -x "$deb" "$root"
XDG_DATA_DIRS="$root/usr/share" update-mime-database "$root/usr/share/mime"
update-desktop-database "$root/usr/share/applications"
type=application/x-morvane-header
# The type of `name` by the database's globs, as the desktop looks it up:
# the heaviest matching glob; without the "cs" flag a glob ignores case.
typeof() {
    local name=$1 weight kind glob flags best=0 found=""
    while IFS=: read -r weight kind glob flags; do
        [[ $weight == \#* ]] && continue
        local subject=$name
        [[ ,$flags, == *,cs,* ]] || { subject=${name,,}; glob=${glob,,}; }
        # shellcheck disable=SC2053
        if [[ $subject == $glob ]] && ((weight > best)); then best=$weight found=$kind; fi
    done < "$root/usr/share/mime/globs2"
    echo "$found"
}
for name in movie.hed movie.HED Movie.Hed; do
    [ "$(typeof "$name")" = "$type" ] || fail "$name is not $type but '$(typeof "$name")'"
done
[ -z "$(typeof movie.hedx)" ] || fail "movie.hedx is taken for $(typeof movie.hedx)"
grep -q "<comment>Division header</comment>" "$root/usr/share/mime/application/x-morvane-header.xml" ||
    fail "the type is not described as a division header"
grep -qx "$type=example.morvane.Morvane.desktop;" "$root/usr/share/applications/mimeinfo.cache" ||
    fail "the menu entry does not open $type"
# Completion as an interactive bash loads it: commands, options, headers after glue.
completes() {
    (mkdir -p "$out/comp" && cd "$out/comp" && touch movie.hed movie.avi &&
        bash --norc -i -c ". /usr/share/bash-completion/bash_completion; . $root/usr/share/bash-completion/completions/morvane
            COMP_WORDS=($1); COMP_CWORD=$2; COMP_LINE=\"\${COMP_WORDS[*]}\"; COMP_POINT=\${#COMP_LINE}
            _morvane morvane; echo \"\${COMPREPLY[*]}\"" 2>/dev/null)
}
if [ -f /usr/share/bash-completion/bash_completion ]; then
    for row in "morvane d|1|divide" "morvane glue ''|2|movie.hed" "morvane divide x --c|3|--count"; do
        IFS="|" read -r words cword want <<<"$row"
        [ "$(completes "$words" "$cword")" = "$want" ] ||
            fail "completing '$words' gives '$(completes "$words" "$cword")', not '$want'"
    done
fi
echo "$(basename "$deb"): Depends: $depends; lintian clean; *.hed is $type"
