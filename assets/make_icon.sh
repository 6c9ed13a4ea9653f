#!/usr/bin/env bash
# Makes icon-16.png, icon-32.png and icon-48.png: a white V and a play triangle on a
# transparent ground.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
convert -size 192x192 xc:none \
  -font "$font" -pointsize 150 -fill white -gravity northwest -annotate +14-12 'V' \
  -fill white -draw "polygon 118,104 118,184 184,144" \
  icon-master.png
for size in 48 32 16; do
  convert icon-master.png -filter Lanczos -resize ${size}x${size} -strip PNG32:icon-${size}.png
done
rm -f icon-master.png
