#!/usr/bin/env bash
# Draws the program's pictures: the main window's background (700 x 500), the About
# window's background (400 x 300), the window icon (16, 32 at 256 colours; 16, 32,
# 48, 128 at 32 bits), the icons of the desktop's menu (PNG, 16 to 256 pixels) and the
# check mark of the mode boxes. The results are committed, so a build needs no image
# tool; run this only to change them. Needs ImageMagick 6 (Debian's imagemagick).
set -euo pipefail
cd "$(dirname "$0")/../src/resources"
convert=/usr/bin/convert
[ -x "$convert" ] && "$convert" -version | grep -q ImageMagick ||
    { echo "Needs ImageMagick: apt-get install imagemagick" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# One hub fanning out to six servers: one template, many servers.
emblem() {  # size
    local s=$1
    local c=$((s / 2)) r=$((s * 3 / 8)) b=$((s / 10 > 1 ? s / 10 : 1))
    local draw="stroke '#f0c060' stroke-width $(((s + 31) / 32)) "
    local i x y
    for i in 0 1 2 3 4 5; do
        x=$(awk -v c=$c -v r=$r -v i=$i 'BEGIN{printf "%d", c + r*cos(i*3.14159265/3 - 3.14159265/2)}')
        y=$(awk -v c=$c -v r=$r -v i=$i 'BEGIN{printf "%d", c + r*sin(i*3.14159265/3 - 3.14159265/2)}')
        draw+="line $c,$c $x,$y "
        draw+="fill '#c03020' rectangle $((x - b)),$((y - b)) $((x + b)),$((y + b)) "
    done
    draw+="fill '#ffd070' circle $c,$c $((c + b + 1)),$c"
    $convert -size "${s}x${s}" xc:none -draw "$draw" "$tmp/emblem$s.png"
}

# Main window: night-blue gradient with a faint grid of rack rows; the controls cover
# most of it, so it carries no figure that would show only in pieces.
$convert -size 700x500 gradient:'#16324f'-'#04080f' \
    -stroke '#1f4468' -strokewidth 1 \
    -draw "$(for y in $(seq 20 20 500); do printf 'line 0,%d 700,%d ' "$y" "$y"; done)" \
    -draw "$(for x in $(seq 0 40 700); do printf 'line %d,0 %d,500 ' "$x" "$x"; done)" \
    -quality 90 form1_background.jpg

# About window: the emblem large in the left half; the right half stays calm for text.
emblem 180
$convert -size 400x300 gradient:'#1b3b5e'-'#05090f' \
    "$tmp/emblem180.png" -geometry +20+40 -composite \
    -fill '#2a5078' -draw 'rectangle 212,8 396,140' \
    -quality 92 about_background.jpg

# Icon: four true-colour images and two 256-colour ones.
for s in 16 32 48 128; do
    emblem $s
    $convert -size "${s}x${s}" xc:'#102438' "$tmp/emblem$s.png" -composite "PNG32:$tmp/icon$s.png"
done
for s in 16 32; do
    $convert "$tmp/icon$s.png" -colors 256 -type Palette "BMP3:$tmp/icon${s}p.bmp"
done
$convert "$tmp/icon16p.bmp" "$tmp/icon32p.bmp" "$tmp/icon16.png" "$tmp/icon32.png" \
    "$tmp/icon48.png" "$tmp/icon128.png" corvane.ico

# The desktop's icon theme: the same emblem on the same ground.
mkdir -p icons
for s in 16 32 48 64 128 256; do
    emblem $s
    $convert -size "${s}x${s}" xc:'#102438' "$tmp/emblem$s.png" -composite \
        -define png:exclude-chunks=date,time "PNG32:icons/corvane-$s.png"
done

# The check mark of a ticked mode box, dark on white inside a dark outline, so that both
# states read clearly on the boxes' orange face.
$convert -size 13x13 xc:white -fill none -stroke '#404040' -draw 'rectangle 0,0 12,12' \
    -stroke '#000080' -strokewidth 2 -draw 'polyline 3,6 5,9 10,3' \
    -define png:exclude-chunks=date,time PNG32:check.png
