#!/usr/bin/env bash
# Builds the Release configuration and makes the packages in build/release/packages:
#   ironvale-thumb_<version>_<arch>.deb               thumb, system-wide (dependencies from the binary)
#   ironvale-renewel-publish_<version>_<arch>.deb     renewel-publish, for the studio's machines
#   ironvale-renewel-<version>-linux-x86_64.tar.gz    renewel for the game's own folder
# then checks them: the .deb's contents and lintian (no errors), the archive's contents.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh release
cd build/release
rm -rf packages
cpack >/dev/null

deb=$(ls packages/ironvale-thumb_*_*.deb)
publish=$(ls packages/ironvale-renewel-publish_*_*.deb)
tgz=$(ls packages/ironvale-renewel-*-linux-x86_64.tar.gz)

fail() { echo "package.sh: $*" >&2; exit 1; }

listing=$(dpkg-deb -c "$deb")
echo "$listing"
for path in usr/bin/thumb usr/share/man/man1/thumb.1.gz usr/share/mime/packages/ironvale-map.xml \
            usr/share/thumbnailers/ironvale-map.thumbnailer usr/share/applications/ironvale-thumb.desktop \
            usr/share/icons/hicolor/48x48/apps/ironvale-thumb.png usr/share/doc/ironvale-thumb/copyright; do
  grep -q " \./$path\$" <<<"$listing" || fail "$deb lacks $path"
done
dpkg-deb -f "$deb" Depends | grep libqt6gui6 > /dev/null || fail "$deb: its dependencies were not computed"
# KDE's preview plugin, when KF5 KIO was there to build it.
for kde in packages/ironvale-thumb-kde_*_*.deb; do
  [ -e "$kde" ] || continue
  dpkg-deb -c "$kde" | grep '/qt5/plugins/kf5/thumbcreator/ironvale-map-thumbnail\.so$' > /dev/null ||
    fail "$kde lacks the plugin"
  lintian --fail-on error "$kde" 2>/dev/null || fail "lintian found errors in $kde"
done
# lintian complains about running as root on standard error; its findings go to standard output.
status=0
lintian --fail-on error "$deb" 2>/dev/null || status=$?
[ "$status" -eq 0 ] || fail "lintian found errors in $deb"

listing=$(dpkg-deb -c "$publish")
echo "$listing"
for path in usr/bin/renewel-publish usr/share/man/man1/renewel-publish.1.gz \
            usr/share/doc/ironvale-renewel-publish/copyright; do
  grep -q " \./$path\$" <<<"$listing" || fail "$publish lacks $path"
done
depends=$(dpkg-deb -f "$publish" Depends)
grep -q minisign <<<"$depends" && grep -q libqt6core6 <<<"$depends" || fail "$publish: Depends is \"$depends\""
status=0
lintian --fail-on error "$publish" 2>/dev/null || status=$?
[ "$status" -eq 0 ] || fail "lintian found errors in $publish"

listing=$(tar tzf "$tgz")
echo "$listing"
top=$(basename "$tgz" .tar.gz)
for path in renewel librenewel-browser.so renewel.lng README renewel.1; do
  grep -qx "$top/$path" <<<"$listing" || fail "$tgz lacks $top/$path"
done

echo "packages: build/release/$deb build/release/$publish build/release/$tgz"
