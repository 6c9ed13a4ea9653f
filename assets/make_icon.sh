#!/usr/bin/env bash
# Makes icon-16.png to icon-256.png: a white V and a play triangle on a transparent ground,
# drawn at four times the largest size and scaled down. vornelplayer.svg is the same
# picture as a scalable icon (192 x 192 units, the V traced from this glyph).
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
convert -size 768x768 xc:none \
  -font "$font" -pointsize 600 -fill white -gravity northwest -annotate +56-48 'V' \
  -fill white -draw "polygon 472,416 472,736 736,576" \
  icon-master.png
for size in 256 128 64 48 32 16; do
  convert icon-master.png -filter Lanczos -resize ${size}x${size} -strip PNG32:icon-${size}.png
done
rm -f icon-master.png
