#!/usr/bin/env bash
# Draws the bundled example pictures with ffmpeg's built-in test sources, so
# nothing in examples/ comes from elsewhere. Run again to re-create them.
set -euo pipefail
cd "$(dirname "$0")/../examples"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
ff -f lavfi -i "testsrc2=size=640x480:rate=1" -frames:v 1 -q:v 3 landscape.jpg
ff -f lavfi -i "mandelbrot=size=480x640:rate=1" -frames:v 1 -q:v 3 portrait.jpg
ff -f lavfi -i "gradients=size=800x450:rate=1:c0=0x203080:c1=0xF0C040:c2=0x208040:nb_colors=3:seed=7" -frames:v 1 -q:v 3 wide.jpg
ff -f lavfi -i "smptehdbars=size=400x224:rate=1" -frames:v 1 -pix_fmt bgr24 bars.bmp
ff -f lavfi -i "life=size=240x320:rate=1:mold=10:ratio=0.3:life_color=#C08040:death_color=#203040" -frames:v 1 -pix_fmt bgr24 portrait.bmp
