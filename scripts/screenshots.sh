#!/usr/bin/env bash
# Renders every window and dialog of the program to PNG files in
# out/screenshots/ (Qt's offscreen platform: no display needed): the main
# window empty, with pictures, during a job and after it, and each dialog.
# Further options are passed to the renderer (`--out FOLDER`, `--examples
# FOLDER`, `--lang fr|de|es` for the windows in that language, into
# out/screenshots/LANG/; see build/slidomat-screenshots --help).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${SDM_BUILD_DIR:-build}
if [ ! -x "$build_dir/slidomat-screenshots" ]; then
  scripts/setup.sh
fi
cmake --build "$build_dir" --target slidomat-screenshots slidomat-languages -j2 >/dev/null
# Only the pictures of the language asked for are made again.
out=out/screenshots
args=("$@")
for ((i = 0; i < ${#args[@]} - 1; i++)); do
  case ${args[i]} in
    --lang) [ "${args[i + 1]}" != en ] && out=out/screenshots/${args[i + 1]} ;;
  esac
done
rm -f "$out"/*.png
QT_QPA_PLATFORM=offscreen "$build_dir/slidomat-screenshots" --out "$out" "$@"
