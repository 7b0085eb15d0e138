#!/usr/bin/env bash
# Installs the Debian packages Slidomat needs (only those missing) and builds
# the program and its tests into build/. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev
  libjpeg62-turbo-dev libjpeg-turbo-progs
  libfreetype-dev libfontconfig-dev fonts-dejavu-core
  libavcodec-dev libavutil-dev libswscale-dev libavformat-dev libswresample-dev
  libogg-dev libvorbis-dev
  libpng-dev libwebp-dev libtiff-dev libheif-dev libgif-dev liblcms2-dev
  clang libclang-rt-14-dev clang-format
  ffmpeg lame mpg123 sox musepack-tools
  python3-pil libheif-examples colord-data libgs-common
  qt6-base-dev qt6-translations-l10n xvfb xauth x11-utils desktop-file-utils appstream
  dpkg-dev lintian
  chromium
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build_dir=${SDM_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build_dir" -j2
