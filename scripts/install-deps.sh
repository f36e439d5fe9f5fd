#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those that are missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libqt6webenginecore6-bin
  libcurl4-openssl-dev libjpeg62-turbo-dev
  lintian desktop-file-utils shared-mime-info xdg-utils libglib2.0-bin dpkg-dev file
  libgtest-dev libbenchmark-dev
  nginx-light curl aria2 openssl fonts-dejavu-core minisign libssl-dev
  # renewel-publish pushes sites with rclone; its benchmark compares against rsync
  rclone rsync
  # the chunk store's codec
  libzstd-dev
  # only bench_delta needs these: the delta-update tools renewel's chunk store is compared with
  zsync zchunk casync
  # thumb's KDE preview plugin (KF5 KIO on Qt 5) and the thumbnail clients its tests run: KIO's
  # thumbnail worker, XFCE's tumbler on a private D-Bus, GNOME's thumbnail factory from Python
  libkf5kio-dev qtbase5-dev kio-extras
  tumbler dbus python3-gi gir1.2-gdkpixbuf-2.0 gir1.2-gnomedesktop-3.0
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
# nginx is started by the tests on free loopback ports, never as the system service.
if command -v systemctl >/dev/null 2>&1; then $sudo systemctl disable --now nginx >/dev/null 2>&1 || true; fi
