#!/usr/bin/env bash
# Sets up and runs Slidomat's main job on the bundled pictures. Without a
# window system this is the headless command line; the result lands in out/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
mkdir -p out
build/slidomat-cli fit examples/landscape.jpg 720x576 out/landscape-720x576.bmp
echo "run: wrote out/landscape-720x576.bmp"
