#!/usr/bin/env bash
# Regenerates the seed corpus of the audio facade's fuzz target and corpus
# test in tests/data/audio-corpus. Each seed is one byte that picks the
# extension (0 .wav, 1 .mp3, 2 .wma, 3 .ogg, 4 .ape, 5 .ac3, 6 .mpc, 7 .flac,
# 8 .aac, 9 .m4a)
# followed by the file: short files of every kind made by ffmpeg, lame and
# mpcenc (Monkey's Audio: the committed sample of tests/data/audio-samples),
# files with tags of every kind, and damaged and foreign files. The files are
# committed, so nobody needs to run this to build or test.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in ffmpeg lame mpcenc python3; do
  command -v "$tool" >/dev/null || { echo "make-audio-corpus: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

out=tests/data/audio-corpus
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
rm -rf "$out"
mkdir -p "$out"

seed() {  # selector source name
  { printf "\\x$(printf %02x "$1")"; cat "$2"; } > "$out/$3"
}
cut_half() {  # file
  python3 -c 'import sys; d=open(sys.argv[1],"rb").read(); sys.stdout.buffer.write(d[:len(d)//2])' "$1"
}
tone() {  # rate channels seconds file [ffmpeg options...]
  local rate=$1 channels=$2 seconds=$3 file=$4
  shift 4
  ffmpeg -v error -y -f lavfi -i "sine=frequency=880:sample_rate=$rate:duration=$seconds" -ac "$channels" "$@" "$file"
}

tone 8000 1 0.05 "$tmp/a.wav" -c:a pcm_s16le
tone 8000 2 0.05 "$tmp/a8.wav" -c:a pcm_u8
tone 16000 1 0.1 "$tmp/src.wav" -c:a pcm_s16le
lame --quiet -b 32 "$tmp/src.wav" "$tmp/a.mp3"
tone 22050 1 0.2 "$tmp/a.wma" -c:a wmav2 -b:a 32k
tone 22050 2 0.2 "$tmp/a1.asf" -c:a wmav1 -b:a 48k
tone 22050 1 0.2 "$tmp/a.ogg" -c:a libvorbis -q:a 0 -metadata title=Seed -metadata artist=Corpus
tone 48000 1 0.1 "$tmp/a.ac3" -c:a ac3 -b:a 64k
tone 48000 6 0.07 "$tmp/six.ac3" -c:a ac3 -b:a 192k
tone 44100 2 0.3 "$tmp/mpc.wav" -c:a pcm_s16le
mpcenc --silent --overwrite "$tmp/mpc.wav" "$tmp/a.mpc"
tone 8000 1 0.1 "$tmp/a.flac" -c:a flac -metadata title=Seed
tone 8000 2 0.1 "$tmp/deep.flac" -c:a flac -sample_fmt s32
tone 22050 1 0.2 "$tmp/a.aac" -c:a aac -b:a 32k -f adts
tone 22050 2 0.2 "$tmp/a.m4a" -c:a aac -b:a 48k

seed 0 "$tmp/a.wav" wav-mono.bin
seed 0 "$tmp/a8.wav" wav-8bit-stereo.bin
seed 1 "$tmp/a.mp3" mp3-layer3.bin
seed 2 "$tmp/a.wma" wma-v2.bin
seed 2 "$tmp/a1.asf" asf-wma-v1.bin
seed 3 "$tmp/a.ogg" ogg-vorbis-comments.bin
seed 4 tests/data/audio-samples/mono-22050.ape ape-mono.bin
seed 5 "$tmp/a.ac3" ac3-mono.bin
seed 5 "$tmp/six.ac3" ac3-5.1.bin
seed 6 "$tmp/a.mpc" mpc-sv8.bin
seed 7 "$tmp/a.flac" flac-comments.bin
seed 7 "$tmp/deep.flac" flac-24bit.bin
seed 8 "$tmp/a.aac" aac-adts.bin
seed 9 "$tmp/a.m4a" aac-m4a.bin
seed 1 "$tmp/a.aac" aac-named-mp3.bin

# Tags of every kind: ID3v2 and ID3v1 around an MP3 with an APEv2 tag, an
# ID3v2 tag in front of FLAC and AC-3 (odd-sized, as ours are).
python3 - "$tmp" <<'PY'
import struct, sys
tmp = sys.argv[1]
def id3v2(title):
    body = b"\x01\xff\xfe" + title.encode("utf-16-le") + b"\0\0"
    frame = b"TIT2" + struct.pack(">I", len(body)) + b"\0\0" + body
    size = len(frame)
    syncsafe = bytes([(size >> 21) & 127, (size >> 14) & 127, (size >> 7) & 127, size & 127])
    return b"ID3\x03\x00\x00" + syncsafe + frame
def id3v1(title):
    return b"TAG" + title.encode().ljust(30, b" ") + b"Artist".ljust(30, b" ") + b"Album".ljust(30, b" ") + b"2024" + \
        b"Comment".ljust(28, b"\0") + b"\0\x07" + b"\x11"
def apev2(items):
    body = b"".join(struct.pack("<II", len(v), 0) + k + b"\0" + v for k, v in items)
    footer = b"APETAGEX" + struct.pack("<IIII", 2000, len(body) + 32, len(items), 0) + b"\0" * 8
    return body + footer
def read(name): return open(f"{tmp}/{name}", "rb").read()
def write(name, data): open(f"{tmp}/{name}", "wb").write(data)
write("tagged.mp3", id3v2("Title") + read("a.mp3") + apev2([(b"Artist", b"Ape"), (b"Title", b"T")]) + id3v1("Old"))
write("tagged.flac", id3v2("Flac") + read("a.flac"))
write("tagged.ac3", id3v2("Odd") + read("a.ac3"))
write("tagged.ape", open("tests/data/audio-samples/mono-22050.ape", "rb").read() + apev2([(b"Title", b"Monkey")]))
write("text.txt", b"This is a text file, not music.\n")
PY
seed 1 "$tmp/tagged.mp3" mp3-id3v2-ape-id3v1.bin
seed 7 "$tmp/tagged.flac" flac-after-id3v2.bin
seed 5 "$tmp/tagged.ac3" ac3-after-odd-id3v2.bin
seed 4 "$tmp/tagged.ape" ape-apev2.bin

# Damaged and foreign files.
for pair in "2 a.wma wma" "3 a.ogg ogg" "5 six.ac3 ac3" "6 a.mpc mpc" "7 a.flac flac"; do
  set -- $pair
  cut_half "$tmp/$2" > "$tmp/cut"
  seed "$1" "$tmp/cut" "$3-cut-in-half.bin"
done
for n in 0 2 3 4 5 6 7; do seed "$n" "$tmp/text.txt" "text-$n.bin"; done
printf '\x03' > "$out/ogg-empty.bin"
seed 2 "$tmp/a.ogg" wma-named-ogg.bin
seed 4 "$tmp/a.flac" ape-named-flac.bin

echo "make-audio-corpus: $(ls "$out" | wc -l) seeds, $(du -sk "$out" | cut -f1) KiB"
