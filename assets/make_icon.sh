#!/usr/bin/env bash
# Makes icon-16.png to icon-256.png: a white V and a play triangle on a dark rounded plate
# with a lighter rim, so that the icon shows on light and dark panels alike. Drawn at four
# times the largest size and scaled down. vornelplayer.svg is the same picture as a scalable
# icon (192 x 192 units, the V traced from this glyph).
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert -size 768x768 xc:none \
  -font "$font" -pointsize 600 -fill white -gravity northwest -annotate +56-48 'V' \
  -fill white -draw "polygon 472,416 472,736 736,576" \
  -resize 80% "$work/glyph.png"
convert -size 768x768 xc:none -fill '#202028' -stroke '#8a8a98' -strokewidth 32 \
  -draw "roundrectangle 16,16 751,751 128,128" "$work/plate.png"
convert "$work/plate.png" "$work/glyph.png" -gravity center -composite "$work/icon-master.png"
for size in 256 128 64 48 32 16; do
  convert "$work/icon-master.png" -filter Lanczos -resize ${size}x${size} -strip PNG32:icon-${size}.png
done
