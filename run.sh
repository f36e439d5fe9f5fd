#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the bundled samples: the thumbnail
# maker renders the sample maps, and the updater updates a sample installation from the sample
# update site (served by nginx on a free loopback port).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh release
sh scripts/demo-thumb.sh
sh scripts/demo-thumb-window.sh
bash scripts/demo-renewel.sh
