#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that each file lands in its
# standard place and that the desktop entry and the AppStream metainfo validate.
# Usage: install_check.sh <build folder>
set -uo pipefail
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/vornel-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }

if ! cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1; then
  cat "$prefix.log"; rm -f "$prefix.log"
  echo "FAIL  cmake --install"; exit 1
fi
rm -f "$prefix.log"

expected=(
  bin/vornelplayer
  share/applications/vornelplayer.desktop
  share/metainfo/org.vornelplayer.VornelPlayer.metainfo.xml
  share/icons/hicolor/scalable/apps/vornelplayer.svg
)
for size in 16 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/vornelplayer.png")
done
for file in "${expected[@]}"; do
  [ -s "$prefix/$file" ] || fail "$file is not installed"
done
[ -x "$prefix/bin/vornelplayer" ] || fail "bin/vornelplayer is not executable"

# Each PNG holds the size its folder names.
for size in 16 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/vornelplayer.png"
  [ -s "$png" ] || continue
  read -r width height < <(od -An -tu1 -j16 -N8 "$png" |
    awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$width" = "$size" ] && [ "$height" = "$size" ] || fail "the ${size}px icon is ${width}x${height}"
done
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/vornelplayer.svg" || fail "the scalable icon is no SVG"
# Each installed icon shows on a light and on a dark panel.
python3 "$(dirname "$0")/icon_contrast.py" "$prefix"/share/icons/hicolor/*x*/apps/vornelplayer.png ||
  fail "an icon does not reach 3:1 on a white or a black panel"

desktop-file-validate "$prefix/share/applications/vornelplayer.desktop" || fail "desktop-file-validate"
grep -qx 'Exec=vornelplayer' "$prefix/share/applications/vornelplayer.desktop" || fail "the entry does not run vornelplayer"
grep -qx 'Icon=vornelplayer' "$prefix/share/applications/vornelplayer.desktop" || fail "the entry does not name the icon"
appstreamcli validate --no-net "$prefix/share/metainfo/org.vornelplayer.VornelPlayer.metainfo.xml" || fail "appstreamcli validate"

[ "$failures" -eq 0 ] && echo "every installed file is in place and valid"
exit $((failures > 0))
