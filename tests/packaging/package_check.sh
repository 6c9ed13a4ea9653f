#!/usr/bin/env bash
# Makes the Debian package from a build with cpack and checks it as a machine that installs it
# would meet it: its name, version and changelog agree; it holds every file in its place and
# nothing outside /usr; its Depends name the package of every library the programs load, and
# lame; its copyright file is machine-readable and says GPL-3.0-or-later; dpkg installs it
# into a throwaway root against this machine's installed packages, the installed demo serves
# its catalogue, and dpkg removes it again without a trace; lintian finds no error in it.
# Usage: package_check.sh <build folder>
set -uo pipefail
build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/vornel-package-XXXXXX")
demo_pid=""
cleanup() {
  [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null && wait "$demo_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL  cpack -G DEB"
  exit 1
fi
arch=$(dpkg --print-architecture)
debs=("$work"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "FAIL  cpack made ${#debs[@]} packages: ${debs[*]}"
  exit 1
fi
deb=${debs[0]}
field() { dpkg-deb --field "$deb" "$1"; }
echo "package: $(basename "$deb")"

# --- metadata -------------------------------------------------------------------------------
version=$(field Version)
[ "$(field Package)" = vornelplayer ] || fail "the package is called '$(field Package)'"
[ "$(field Architecture)" = "$arch" ] || fail "the architecture is '$(field Architecture)', not $arch"
[ "$(basename "$deb")" = "vornelplayer_${version}_${arch}.deb" ] || fail "the file name does not follow name_version_arch.deb"
[ "$(field Section)" = sound ] || fail "the section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no maintainer"
[ "$(field Description | wc -l)" -gt 1 ] || fail "the description has no long text"

dpkg-deb --extract "$deb" "$work/tree"
doc="$work/tree/usr/share/doc/vornelplayer"
changelog_version=$(gzip -dc "$doc/changelog.Debian.gz" 2>/dev/null | sed -n '1s/^vornelplayer (\([^)]*\)).*$/\1/p')
[ "$changelog_version" = "$version" ] ||
  fail "the changelog's newest entry is '$changelog_version', the package's version $version"

# --- contents -------------------------------------------------------------------------------
expected=(
  usr/bin/vornelplayer
  usr/bin/vornel-demo
  usr/share/applications/vornelplayer.desktop
  usr/share/metainfo/org.vornelplayer.VornelPlayer.metainfo.xml
  usr/share/icons/hicolor/scalable/apps/vornelplayer.svg
  usr/share/man/man1/vornelplayer.1.gz
  usr/share/man/man1/vornel-demo.1.gz
  usr/share/doc/vornelplayer/copyright
  usr/share/doc/vornelplayer/changelog.Debian.gz
)
for size in 16 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/vornelplayer.png")
done
for file in "${expected[@]}"; do
  [ -s "$work/tree/$file" ] || fail "$file is not in the package"
done
outside=$(dpkg-deb --contents "$deb" | awk '{print $6}' | grep -v -e '^\./$' -e '^\./usr/')
[ -z "$outside" ] || fail "files outside /usr: $outside"

# --- copyright ------------------------------------------------------------------------------
[ "$(head -n 1 "$doc/copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
  fail "the copyright file is not in the machine-readable format"
main_licence=$(awk '/^Files: \*$/ { inside = 1; next } /^$/ { inside = 0 } inside && /^License:/ { print $2 }' "$doc/copyright")
[ "$main_licence" = GPL-3.0-or-later ] || fail "the copyright file gives the program's licence as '$main_licence'"

# --- dependencies ---------------------------------------------------------------------------
depends=$(field Depends)
depends_names=" $(echo "$depends" | tr ',|' '\n\n' | sed 's/(.*)//; s/:[a-z0-9]*//; s/[[:space:]]//g' | tr '\n' ' ') "
[[ "$depends_names" == *" lame "* ]] || fail "Depends does not name lame, which vornel-demo runs: $depends"
for program in "$work"/tree/usr/bin/*; do
  needed=$(readelf --dynamic "$program" | sed -n 's/.*Shared library: \[\(.*\)\]$/\1/p')
  [ -n "$needed" ] || fail "$(basename "$program") loads no library at all"
  resolved=$(ldd "$program")
  for soname in $needed; do
    path=$(echo "$resolved" | awk -v so="$soname" '$1 == so && $2 == "=>" { print $3 }')
    if [ -z "$path" ] || [ ! -e "$path" ]; then
      fail "$(basename "$program") needs $soname, which this machine cannot find"
      continue
    fi
    # dpkg knows a library by the path its package ships, with or without the /usr prefix.
    owner=$( (dpkg --search "$path" || dpkg --search "$(readlink -f "$path")" ||
              dpkg --search "/usr${path#/usr}" || dpkg --search "${path#/usr}") 2>/dev/null |
            head -n 1 | sed 's/[:,].*//')
    if [ -z "$owner" ]; then
      fail "no installed package holds $path ($soname)"
    elif [[ "$depends_names" != *" $owner "* ]]; then
      fail "$(basename "$program") loads $soname from $owner, which Depends does not name: $depends"
    fi
  done
done

# --- install into a throwaway root and remove again ------------------------------------------
# The root's package database is a copy of this machine's, so dpkg checks Depends against
# what is installed here, as `apt-get install ./vornelplayer_*.deb` would.
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
cp /var/lib/dpkg/status "$root/var/lib/dpkg/status"
# Empty file lists for the copied packages: their files are not in this root.
dpkg-query --show --showformat='${binary:Package}\n' | while read -r name; do
  : >"$root/var/lib/dpkg/info/$name.list"
done
dpkg_in_root() {
  if [ "$(id -u)" -eq 0 ]; then
    dpkg --root="$root" --log=/dev/null "$@"
  else
    fakeroot dpkg --force-not-root --root="$root" --log=/dev/null "$@"
  fi
}
status_in_root() {
  dpkg-query --admindir="$root/var/lib/dpkg" --show --showformat='${Status}' vornelplayer 2>/dev/null
}
if ! dpkg_in_root --install "$deb" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "dpkg --install into a throwaway root (unmet Depends on this machine?)"
fi
[ "$(status_in_root)" = "install ok installed" ] || fail "after the install dpkg says '$(status_in_root)'"
for file in "${expected[@]}"; do
  [ -s "$root/$file" ] || fail "$file is not installed"
done
[ -x "$root/usr/bin/vornelplayer" ] && [ -x "$root/usr/bin/vornel-demo" ] || fail "the programs are not executable"
missing_libraries=$(ldd "$root/usr/bin/vornelplayer" "$root/usr/bin/vornel-demo" | grep 'not found')
[ -z "$missing_libraries" ] || fail "the installed programs miss libraries: $missing_libraries"

# The installed demo, on ports of the system's choosing, serves a catalogue page that links to
# its file host.
"$root/usr/bin/vornel-demo" --catalogue-port 0 --file-port 0 --track-seconds 1 \
  --cache-dir "$work/demo-cache" >"$work/demo.out" 2>&1 &
demo_pid=$!
while kill -0 "$demo_pid" 2>/dev/null && ! grep -qx ready "$work/demo.out"; do sleep 0.1; done
catalogue=$(sed -n 's/^vornel-demo: catalogue at \(http:[^ ]*\) , file host at \(http:[^ ]*\) ,.*$/\1/p' "$work/demo.out")
file_host=$(sed -n 's/^vornel-demo: catalogue at \(http:[^ ]*\) , file host at \(http:[^ ]*\) ,.*$/\2/p' "$work/demo.out")
if ! grep -qx ready "$work/demo.out" || [ -z "$catalogue" ]; then
  fail "the installed vornel-demo did not start: $(cat "$work/demo.out")"
else
  page=$(curl --silent --show-error --max-time 60 "$catalogue" 2>&1)
  [[ "$page" == *"${file_host%/}"* ]] || fail "the installed demo's catalogue page names no link to ${file_host}: ${page:0:300}"
fi
kill "$demo_pid" 2>/dev/null && wait "$demo_pid" 2>/dev/null
demo_pid=""

if ! dpkg_in_root --purge vornelplayer >"$work/purge.log" 2>&1; then
  cat "$work/purge.log"
  fail "dpkg --purge in the throwaway root"
fi
left=$(find "$root" -path "$root/var" -prune -o -print | grep -v -x "$root")
[ -z "$left" ] || fail "left behind after the purge: $left"
status=$(status_in_root)
[ -z "$status" ] || [ "$status" = "unknown ok not-installed" ] || fail "after the purge dpkg says '$status'"

# --- lintian --------------------------------------------------------------------------------
if ! command -v lintian >/dev/null; then
  fail "lintian is not installed (./scripts/install-deps installs it)"
elif ! lintian --fail-on error "$deb" 2>&1; then
  fail "lintian reports errors"
fi

[ "$failures" -eq 0 ] && echo "the package builds, installs, works, removes cleanly and lintian finds no error"
exit $((failures > 0))
