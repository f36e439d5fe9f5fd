#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those that are missing.
#   scripts/install-deps.sh run    what building the programs and running the demonstration need
#   scripts/install-deps.sh test   that, and what the tests, benchmarks and packaging need (default)
set -euo pipefail
what=${1:-test}

# Building the programs, and the demonstration: nginx serves the sample site, curl waits for it,
# minisign checks its signature, python3 finds a free port; the windows draw their captions with
# DejaVu when no desktop supplies fonts.
run_packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libqt6webenginecore6-bin
  libcurl4-openssl-dev libjpeg62-turbo-dev libssl-dev libzstd-dev
  libdivsufsort-dev
  nginx-light curl minisign python3 fonts-dejavu-core
)
# Only the tests, benchmarks and packages need these.
test_packages=(
  libgtest-dev libbenchmark-dev openssl
  # packages and their checks; the desktop files' validators
  lintian dpkg-dev file desktop-file-utils shared-mime-info xdg-utils libglib2.0-bin
  # renewel-publish's push is tested against rclone, its signing time under a shifted clock
  # (faketime); its benchmark compares against rsync
  rclone faketime rsync
  # the download peers of the benchmarks, and the delta-update tools bench_delta compares with
  aria2 zsync zchunk casync
  # the binary-patch tools bench_patch races
  bsdiff xdelta3
  # thumb's KDE preview plugin (KF5 KIO on Qt 5) and the thumbnail clients its tests run: KIO's
  # thumbnail worker, XFCE's tumbler on a private D-Bus, GNOME's thumbnail factory from Python
  libkf5kio-dev qtbase5-dev kio-extras
  tumbler dbus python3-gi gir1.2-gdkpixbuf-2.0 gir1.2-gnomedesktop-3.0
)
case "$what" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [run|test]" >&2; exit 2 ;;
esac

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
# nginx is started by the tests and the demonstration on free loopback ports, never as the
# system service.
if command -v systemctl >/dev/null 2>&1; then $sudo systemctl disable --now nginx >/dev/null 2>&1 || true; fi
