#!/usr/bin/env bash
# Draws the 48 x 48 PNG icon from the SVG one (rsvg-convert, librsvg2-bin).
# The PNG is committed, so only a change of the SVG needs this script.
set -euo pipefail
cd "$(dirname "$0")/.."
svg=data/icons/io.github.tarvenit.Slidomat.svg
rsvg-convert -w 48 -h 48 "$svg" -o data/icons/io.github.tarvenit.Slidomat.png
echo "make-icon: wrote data/icons/io.github.tarvenit.Slidomat.png"
