#!/usr/bin/env bash
# A real browser plays what we write: slidomat-cli makes a short MP4 (H.264,
# AAC) and WebM (VP9, Opus) with a soundtrack, and Debian's Chromium, headless,
# opens each in a <video> element (check.html): it must load it, present a
# frame after seeking to its end, and decode its sound.
#
# Chromium's --dump-dom is no use here (the page is dumped before the media
# load), so the page logs one "RESULT {json}" line to the console, which
# Chromium writes to its log on stderr; the line is waited for, then the
# browser's whole process group is ended.
# Usage: browser-check.sh PATH/TO/slidomat-cli   (exit 77 = skipped: no chromium)
set -euo pipefail
cli=${1:?usage: browser-check.sh PATH/TO/slidomat-cli}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
if ! command -v chromium >/dev/null 2>&1; then
  echo "browser-check: chromium is not installed (scripts/setup.sh installs it); skipped"
  exit 77
fi

base=${SDM_TEST_TMP:-${TMPDIR:-/tmp}}
mkdir -p "$base"
tmp=$(mktemp -d "$base/browser-XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# The program's own settings, apart from everyone else's: an installed copy
# (the machine hive's uninstall entry) with a private user hive.
mkdir -p "$tmp/machine" "$tmp/user" "$tmp/data" "$tmp/cache"
printf '%s\n\n%s\n%s\n' 'Slidomat registry hive 1' \
  '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Tarvenit Slidomat]' \
  '"DisplayName"="Tarvenit Slidomat"' > "$tmp/machine/HKEY_LOCAL_MACHINE.reg"
export SLIDOMAT_REGISTRY_DIR="$tmp/user" SLIDOMAT_MACHINE_REGISTRY_DIR="$tmp/machine"
export XDG_DATA_HOME="$tmp/data" XDG_CACHE_HOME="$tmp/cache"

ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=3" -ac 2 -c:a libvorbis "$tmp/song.ogg"
pictures=("$source_dir/examples/landscape.jpg" "$source_dir/examples/portrait.jpg" "$source_dir/examples/wide.jpg")

# One file: its result line, status 0 when it played.
play() {
  local file=$1 profile="$tmp/profile-$RANDOM" log line="" i
  mkdir -p "$profile"
  log="$profile/chromium.log"
  setsid chromium --headless=new --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync --mute-audio \
    --user-data-dir="$profile" --autoplay-policy=no-user-gesture-required --allow-file-access-from-files \
    --enable-logging=stderr --v=0 "file://$here/check.html?src=file://$file" > /dev/null 2> "$log" &
  local pid=$!
  for ((i = 0; i < 600; ++i)); do
    line=$(grep -a -o 'RESULT {.*}' "$log" 2> /dev/null | head -1) || true
    [ -n "$line" ] && break
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.1
  done
  kill -- -"$pid" 2> /dev/null || true
  wait "$pid" 2> /dev/null || true
  echo "$(basename "$file"): ${line:-no result (timeout)}"
  [[ "$line" == *'"ok":true'* ]]
}

status=0
for kind in mp4 webm; do
  out="$tmp/show.$kind"
  "$cli" render --quiet --resolution 1280x720 --fps 2 --ms-per-picture 1000 --no-xfade --no-osd \
    --sound "$tmp/song.ogg" -o "$out" "${pictures[@]}"
  play "$out" || status=1
done
exit $status
