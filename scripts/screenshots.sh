#!/usr/bin/env bash
# Renders every window and dialog of the program to PNG files in
# out/screenshots/ (Qt's offscreen platform: no display needed): the main
# window empty, with pictures, during a job and after it, and each dialog.
# Further options are passed to the renderer (`--out FOLDER`, `--examples
# FOLDER`; see build/slidomat-screenshots --help).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${SDM_BUILD_DIR:-build}
if [ ! -x "$build_dir/slidomat-screenshots" ]; then
  scripts/setup.sh
fi
cmake --build "$build_dir" --target slidomat-screenshots -j2 >/dev/null
rm -rf out/screenshots
QT_QPA_PLATFORM=offscreen "$build_dir/slidomat-screenshots" --out out/screenshots "$@"
