#!/usr/bin/env bash
# The release packages' own checks: lintian finds no error in the .deb, its Depends name the
# libraries the programs link, the desktop entries and the AppStream metainfo validate, every
# icon size is there, and the guide names the runtime packages and the score server.
# Usage: package_files_test.sh PACKAGE-FOLDER VERSION SCORE-SERVER
set -u
usage="usage: package_files_test.sh PACKAGE-FOLDER VERSION SCORE-SERVER"
packages=${1:?$usage}
version=${2:?$usage}
server=${3:?$usage}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
for tool in lintian appstreamcli desktop-file-validate dpkg-deb; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

# The names players and download pages expect.
deb=$packages/vesquin_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb") among: $(ls "$packages")"
[ -f "$packages/vesquin-$version-linux-$(uname -m).tar.gz" ] ||
  fail "no vesquin-$version-linux-$(uname -m).tar.gz among: $(ls "$packages")"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"

lintian --no-tag-display-limit "$deb" >"$scratch/lintian.log" 2>&1
grep -q '^E: ' "$scratch/lintian.log" && fail "lintian reports errors: $(grep '^E: ' "$scratch/lintian.log")"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libsdl2-2.0-0 libcurl4 libmysofa1 libc6; do
  grep -q "\b$library\b" <<<"$depends" || fail "Depends does not name $library: $depends"
done

root=$scratch/root
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "a desktop entry does not validate"
grep -qx 'Categories=Game;' "$root/usr/share/applications/org.vesquin.Vesquin.desktop" || fail "the game is not in the Game menu"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.vesquin.Vesquin.metainfo.xml" ||
  fail "the AppStream metainfo does not validate"
for size in 16x16 32x32 48x48 128x128; do
  [ -s "$root/usr/share/icons/hicolor/$size/apps/org.vesquin.Vesquin.png" ] || fail "no $size icon"
done
[ -s "$root/usr/share/icons/hicolor/scalable/apps/org.vesquin.Vesquin.svg" ] || fail "no scalable icon"

guide=$root/usr/share/doc/vesquin
for library in $(sed 's/([^)]*)//g; s/,/ /g' <<<"$depends"); do
  grep -q "\b$library\b" "$guide/player-guide.txt" || fail "the guide does not name the runtime package $library"
done
grep -q "$server" "$guide/player-guide.txt" || fail "the guide does not name the score server $server"
grep -q '<h1>' "$guide/player-guide.html" && grep -q '<h2' "$guide/player-guide.html" ||
  fail "the HTML guide has no headings"
grep -q '<img' "$guide/player-guide.html" && fail "the HTML guide needs images"
echo "package files test passed"
