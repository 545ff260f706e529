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

# The user works in the folder; a second install updates the program and keeps the rest.
echo "db99" >>"$folder/collections/local.txt"
echo "mine" >"$folder/collections/mine.txt"
rm "$folder/scripts/ping.txt"
echo "a record" >"$folder/logs/log.txt"
echo "pending" >"$folder/temp/temp1.bat"
printf 'old program' >"$folder/corvane"
cmake --install "$build" --prefix "$folder" >/dev/null || { echo "FAILED: second install"; exit 1; }
check "program updated" cmp -s "$folder/corvane" "$build/workspace/corvane"
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
for entry in corvane collections/local.txt scripts/ping.txt temp/ logs/; do
    check "archive holds $entry" grep -q "^corvane-[0-9.]*-Linux/$entry$" <<<"$listing"
done
check "archive holds no menu entry" test -z "$(grep -E '\.desktop|metainfo' <<<"$listing")"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
