#!/usr/bin/env bash
# The install as a user meets it: a portable folder with a menu entry, a second install
# over a folder in use, and the archive. Run by CTest with the build folder as $1.
set -uo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_DATA_HOME=$tmp/data
folder=$tmp/My\ Corvane
passed=0
failed=0
check() {  # description, command...
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $what"
    fi
}

cmake --install "$build" --prefix "$folder" >/dev/null || { echo "FAILED: install"; exit 1; }
check "program installed" test -x "$folder/corvane"
check "its window installed" test -s "$folder/corvane-window.so"
check "samples in new folders" test -s "$folder/collections/local.txt"
check "localhost sample" grep -qx localhost "$folder/collections/local.txt"
check "templates" test -s "$folder/scripts/ping.txt"
check "empty temp" test -d "$folder/temp" -a -z "$(ls -A "$folder/temp")"
check "empty logs" test -d "$folder/logs" -a -z "$(ls -A "$folder/logs")"
entry=$XDG_DATA_HOME/applications/corvane.desktop
check "menu entry" test -s "$entry"
check "menu entry starts the program there" grep -qx "Exec=\"$folder/corvane\"" "$entry"
check "menu entry runs in its folder" grep -qx "Path=$folder" "$entry"
for size in 16 32 48 64 128 256; do
    check "icon $size" test -s "$XDG_DATA_HOME/icons/hicolor/${size}x$size/apps/corvane.png"
done
check "desktop entry is valid" desktop-file-validate "$entry"
metainfo=$XDG_DATA_HOME/metainfo/org.corvane.corvane.metainfo.xml
check "metainfo is valid" appstreamcli validate --no-net --pedantic "$metainfo"

# A folder whose name a desktop entry must escape: the entry is valid, and its Exec line,
# read as the desktop reads it, starts the program there.
odd=$tmp/'50% of $HOME `x` "q"'
XDG_DATA_HOME=$tmp/odd-data cmake --install "$build" --prefix "$odd" >/dev/null ||
    { echo "FAILED: install into $odd"; exit 1; }
odd_entry=$tmp/odd-data/applications/corvane.desktop
check "escaped desktop entry is valid" desktop-file-validate "$odd_entry"
# The string escapes first, then %%, then the one quoted word of the command line.
program=$(sed -n 's/^Exec=//p' "$odd_entry" | perl -ne '
    chomp;
    s/\\(.)/$1 eq "s" ? " " : $1 eq "n" ? "\n" : $1 eq "t" ? "\t" : $1 eq "r" ? "\r" : $1/ge;
    s/%%/%/g;
    /^"((?:[^"\\]|\\.)*)"$/ or die "not one quoted word: $_\n";
    ($_ = $1) =~ s/\\(.)/$1/g;
    print')
check "Exec names the program" test "$program" = "$odd/corvane"
said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" 2>&1)
check "Exec starts the program" grep -q "Corvane needs a graphical session" <<<"$said"
path=$(sed -n 's/^Path=//p' "$odd_entry" | perl -pe 's/\\(.)/$1/g')
check "Path is the folder" test "$path" = "$odd"

# The user works in the folder; a second install updates the program and keeps the rest.
echo "db99" >>"$folder/collections/local.txt"
echo "mine" >"$folder/collections/mine.txt"
rm "$folder/scripts/ping.txt"
echo "a record" >"$folder/logs/log.txt"
echo "pending" >"$folder/temp/temp1.bat"
printf 'old program' >"$folder/corvane"
cmake --install "$build" --prefix "$folder" >/dev/null || { echo "FAILED: second install"; exit 1; }
check "program updated" cmp -s "$folder/corvane" "$build/workspace/corvane"
check "its window updated" cmp -s "$folder/corvane-window.so" "$build/workspace/corvane-window.so"
check "edited collection kept" grep -qx db99 "$folder/collections/local.txt"
check "own collection kept" test -s "$folder/collections/mine.txt"
check "deleted template stays deleted" test ! -e "$folder/scripts/ping.txt"
check "run log kept" grep -qx "a record" "$folder/logs/log.txt"
check "temp kept" test -s "$folder/temp/temp1.bat"

# The archive: the folder, nothing of the installing user's.
(cd "$build" && cpack -G TGZ -B "$tmp/package" >/dev/null) || { echo "FAILED: cpack"; exit 1; }
archive=$tmp/package/corvane-$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")-Linux.tar.gz
check "archive made" test -s "$archive"
listing=$(tar tzf "$archive" 2>/dev/null)
for entry in corvane corvane-window.so collections/local.txt scripts/ping.txt temp/ logs/; do
    check "archive holds $entry" grep -q "^corvane-[0-9.]*-Linux/$entry$" <<<"$listing"
done
check "archive holds no menu entry" test -z "$(grep -E '\.desktop|metainfo' <<<"$listing")"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
