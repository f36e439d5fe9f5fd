#!/usr/bin/env bash
# Installs what is missing, builds the programs, and runs the main job on the bundled samples: the
# thumbnail maker renders the sample maps, and the updater updates a sample installation from the
# sample update site (served by nginx on a free loopback port). Only what the programs and this
# demonstration need is installed and built; test.sh adds the rest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh run
scripts/build.sh run
sh scripts/demo-thumb.sh
sh scripts/demo-thumb-window.sh
bash scripts/demo-renewel.sh
