#!/usr/bin/env bash
# Makes banner.jpg: a 750 x 205 baseline JPEG of a dark concert stage with the lettering.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
convert -size 750x205 xc:'#0b0a09' \
  \( -size 750x205 radial-gradient:'#7a2a12'-'#0b0a09' -resize 750x205! \) -compose screen -composite \
  -fill '#f3d38a' -draw "polygon 120,0 160,0 260,205 40,205" \
  -fill '#e9a14c' -draw "polygon 590,0 630,0 720,205 500,205" \
  -blur 0x18 \
  -fill '#000000' -draw "rectangle 0,170 750,205" \
  -fill '#000000' -draw "circle 60,182 60,150" -draw "circle 130,176 130,140" \
  -draw "circle 210,184 210,152" -draw "circle 300,174 300,136" -draw "circle 390,182 390,148" \
  -draw "circle 480,176 480,140" -draw "circle 570,184 570,150" -draw "circle 660,178 660,142" \
  -draw "circle 730,184 730,154" \
  -font "$font" -pointsize 56 -fill '#f4ece0' -stroke '#1a0d06' -strokewidth 2 \
  -gravity center -annotate +0-28 'VornelPlayer' \
  -font "$font" -pointsize 15 -stroke none -fill '#c4b9b9' -annotate +0+22 'music from the catalogue, live' \
  -strip -interlace none -sampling-factor 2x2 -quality 88 jpeg:banner.jpg
