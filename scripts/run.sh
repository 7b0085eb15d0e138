#!/usr/bin/env bash
# Sets up Slidomat and its demo project on the bundled pictures: a slideshow
# with cross-fades, captions and a soundtrack. With a display, the window
# opens on the demo project (press Go ! to make out/demo.avi); without one,
# the headless command line renders it into out/demo.avi.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
mkdir -p out
root=$(pwd)

# The soundtrack is made here: an 18-second tone sweep, encoded to MP3.
sox -n -r 44100 -c 2 -b 16 out/demo-tone.wav synth 18 sine 220-660 vol 0.4
lame --quiet -b 128 out/demo-tone.wav out/demo.mp3
rm -f out/demo-tone.wav

# The demo project. A project file names its pictures by full path, so it is
# written for this checkout.
{
  printf ';Sound=%s\r\n' "$root/out/demo.mp3"
  printf ';Output=%s\r\n' "$root/out/demo.avi"
  printf '%s\t%s\r\n' "$root/examples/landscape.jpg" "Over the hills"
  printf '%s\t%s\r\n' "$root/examples/portrait.jpg" "Standing tall"
  printf '%s\t%s\r\n' "$root/examples/wide.jpg" "The wide view"
  printf '%s\t%s\r\n' "$root/examples/bars.bmp" "Colour bars"
  printf '%s\r\n' "$root/examples/portrait.bmp"
} > out/demo.sdm

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/slidomat ]; then
  echo "run: opening the window on out/demo.sdm"
  exec build/slidomat out/demo.sdm
fi
build/slidomat-cli render --codec xvid --resolution 720x576 --fps 25 --ms-per-picture 3000 --yes out/demo.sdm
echo "run: wrote out/demo.avi from out/demo.sdm"
