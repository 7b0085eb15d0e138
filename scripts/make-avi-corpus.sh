#!/usr/bin/env bash
# Regenerates the seed corpus of the AVI fuzz target and corpus test in
# tests/data/avi-corpus: small files of ffmpeg (AVI 1.0 with idx1, with sound,
# with fixed-size audio samples), files of our own writer and muxer (empty
# samples 0 and 1, OpenDML parts with the RIFF limit lowered), and damaged
# files built from them: cut short, lying indexes, lying sizes, odd headers.
# Every file stays below 12 KiB. The files are committed, so nobody needs to
# run this to build or test; run it again (after building slidomat-cli) only
# to change the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

cli=${SLIDOMAT_CLI:-build/slidomat-cli}
for tool in ffmpeg python3 "$cli"; do
  command -v "$tool" >/dev/null || { echo "make-avi-corpus: $tool is missing (build it, or scripts/setup.sh)" >&2; exit 1; }
done

out=tests/data/avi-corpus
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export SLIDOMAT_REGISTRY_DIR="$tmp/hive" XDG_DATA_HOME="$tmp/data"

ff() { ffmpeg -v error -y "$@"; }
ff -f lavfi -i testsrc=size=16x16:rate=5 -frames:v 4 -c:v mjpeg -q:v 31 "$tmp/ffmpeg-mjpeg.avi"
ff -f lavfi -i testsrc=size=16x16:rate=5 -frames:v 6 -c:v mpeg4 -g 3 -bf 0 -q:v 31 "$tmp/ffmpeg-mpeg4-gop3.avi"
ff -f lavfi -i testsrc=size=8x8:rate=5 -frames:v 4 -c:v rawvideo -pix_fmt bgr24 "$tmp/ffmpeg-raw.avi"
ff -f lavfi -i testsrc=size=16x16:rate=5 -f lavfi -i sine=frequency=300:sample_rate=16000:duration=0.3 \
  -frames:v 2 -c:v mjpeg -q:v 31 -c:a libmp3lame -b:a 8k -ac 1 -shortest "$tmp/ffmpeg-mjpeg-mp3.avi"
ff -f lavfi -i testsrc=size=8x8:rate=5 -f lavfi -i sine=frequency=300:sample_rate=8000:duration=0.2 \
  -frames:v 1 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 -ac 1 "$tmp/ffmpeg-raw-pcm.avi"

# Our writer's own layout: uncompressed 8x8 frames from sample position 2 on,
# and with parts of 4 KiB, OpenDML indexes.
python3 - "$tmp" <<'PYEOF'
import struct, sys
tmp = sys.argv[1]
for n in range(12):
    w = h = 16 if n >= 4 else 8
    img = bytes((x * 13 + y * 7 + n * 29) & 255 for y in range(h) for x in range(w * 3))
    hdr = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(img), 0, 0, 0, 0)
    open('%s/f%02d.bmp' % (tmp, n), 'wb').write(b'BM' + struct.pack('<IHHI', 54 + len(img), 0, 0, 54) + hdr + img)
PYEOF
"$cli" encode --codec "DIB " -o "$tmp/ours-dib.avi" "$tmp"/f0[0-3].bmp >/dev/null
SLIDOMAT_AVI_RIFF_LIMIT=4096 "$cli" encode --codec "DIB " -o "$tmp/ours-odml.avi" "$tmp"/f0[4-9].bmp "$tmp"/f1*.bmp >/dev/null
"$cli" encode --codec MJPG -o "$tmp/ours-mjpg.avi" "$tmp"/f0[4-6].bmp >/dev/null
python3 -c "
import sys
f = bytes([0xFF, 0xFB, 0x90, 0x64]) + bytes(413)
open(sys.argv[1], 'wb').write(f * 6)" "$tmp/silence.mp3"
"$cli" mux "$tmp/ours-dib.avi" "$tmp/silence.mp3" "$tmp/ours-muxed.avi" >/dev/null 2>&1

rm -rf "$out"
mkdir -p "$out"
python3 - "$tmp" "$out" <<'PYEOF'
import os, random, struct, sys

tmp, out = sys.argv[1], sys.argv[2]
rng = random.Random(20261210)
LIMIT = 12 * 1024

def read(name):
    return bytearray(open(os.path.join(tmp, name), 'rb').read())

def write(name, data):
    assert len(data) < LIMIT, (name, len(data))
    open(os.path.join(out, name), 'wb').write(bytes(data))

def put32(b, at, v):
    b[at:at + 4] = struct.pack('<I', v & 0xFFFFFFFF)

def get32(b, at):
    return struct.unpack_from('<I', b, at)[0]

def chunk(fourcc, data):
    data = bytes(data)
    return fourcc + struct.pack('<I', len(data)) + data + (b'\0' if len(data) & 1 else b'')

def lst(kind, *children):
    body = kind + b''.join(children)
    return b'LIST' + struct.pack('<I', len(body)) + body

def riff(kind, *children):
    body = kind + b''.join(children)
    return b'RIFF' + struct.pack('<I', len(body)) + body

def avih(streams, w=8, h=8):
    return chunk(b'avih', struct.pack('<14I', 200000, 0, 0, 0x10, 0, 0, streams, 0, w, h, 0, 0, 0, 0))

def strh(kind, handler, scale=1, rate=5, start=0, length=0, sample_size=0):
    return chunk(b'strh', kind + handler + struct.pack('<IHHIIIIIIII4h', 0, 0, 0, 0, scale, rate, start, length,
                                                          0, 0, sample_size, 0, 0, 8, 8))

def bih(w=8, h=8, comp=0):
    return struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, comp, w * h * 3, 0, 0, 0, 0)

def frame(n, size=192):
    return bytes((i * 7 + n * 31) & 255 for i in range(size))

# A plain file built here, so that each damage below changes one thing.
def plain(frames=4, idx=True, extra_strl=b'', streams=1):
    movi, index, pos = b'', b'', 4
    for n in range(frames):
        c = chunk(b'00db', frame(n))
        index += b'00db' + struct.pack('<III', 0x10, pos, 192)
        movi += c
        pos += len(c)
    hdrl = lst(b'hdrl', avih(streams), lst(b'strl', strh(b'vids', b'DIB ', length=frames), chunk(b'strf', bih())),
               extra_strl)
    parts = [hdrl, lst(b'movi', movi)]
    if idx:
        parts.append(chunk(b'idx1', index))
    return bytearray(riff(b'AVI ', *parts))

for name in os.listdir(tmp):
    if name.endswith('.avi'):
        write(name, read(name))

base = plain()
write('plain.avi', base)
idx1 = bytes(base).rfind(b'idx1')
movi = bytes(base).find(b'movi')

def damaged(name, fn, src=base):
    b = bytearray(src)
    fn(b)
    write(name, b)

# Cut short anywhere: inside the index, inside a frame, inside the headers.
for at in (len(base) - 20, movi + 300, 100, 12, 4):
    write('cut-%d.avi' % at, base[:at])
# Index entries that repeat, overlap, point before or after the movi data.
damaged('idx1-repeats.avi', lambda b: [b.__setitem__(slice(idx1 + 8 + 16 * k, idx1 + 24 + 16 * k),
                                                     b[idx1 + 8:idx1 + 24]) for k in range(1, 4)])
damaged('idx1-overlap.avi', lambda b: put32(b, idx1 + 8 + 16 * 2 + 8, get32(b, idx1 + 8 + 16 * 2 + 8) - 5))
damaged('idx1-before-movi.avi', lambda b: put32(b, idx1 + 8 + 8, 0xFFFFFF00))
damaged('idx1-past-movi.avi', lambda b: put32(b, idx1 + 8 + 16 * 3 + 8, idx1 - movi))
damaged('idx1-huge-size.avi', lambda b: put32(b, idx1 + 8 + 12, 0x7FFFFFFF))
damaged('idx1-unknown-stream.avi', lambda b: b.__setitem__(slice(idx1 + 8, idx1 + 12), b'07db'))
damaged('idx1-count-lies.avi', lambda b: put32(b, idx1 + 4, 0xFFFFFFF0))
damaged('idx1-absolute-offsets.avi', lambda b: [put32(b, idx1 + 8 + 16 * k + 8, get32(b, idx1 + 8 + 16 * k + 8) + movi)
                                                for k in range(4)])
# Lying sizes of the containers.
damaged('riff-size-huge.avi', lambda b: put32(b, 4, 0xFFFFFFFF))
damaged('riff-size-zero.avi', lambda b: put32(b, 4, 0))
damaged('movi-size-huge.avi', lambda b: put32(b, movi - 4, 0xFFFFFFF0))
damaged('movi-size-small.avi', lambda b: put32(b, movi - 4, 4))
damaged('hdrl-size-huge.avi', lambda b: put32(b, 16, 0xFFFFFF00))
damaged('frame-size-huge.avi', lambda b: put32(b, movi + 8, 0x7FFFFFFF))
damaged('frame-size-odd.avi', lambda b: put32(b, movi + 8, 191))
strf = bytes(base).find(b'strf')
damaged('strf-size-huge.avi', lambda b: put32(b, strf + 4, 0x40000000))
strh_at = bytes(base).find(b'strh')
damaged('strh-short.avi', lambda b: put32(b, strh_at + 4, 20))
damaged('strh-start-huge.avi', lambda b: put32(b, strh_at + 8 + 28, 0x7FFFFFF0))
damaged('strh-sample-size-1.avi', lambda b: put32(b, strh_at + 8 + 44, 1))
damaged('strh-sample-size-7.avi', lambda b: put32(b, strh_at + 8 + 44, 7))
damaged('strh-scale-zero.avi', lambda b: put32(b, strh_at + 8 + 20, 0))
damaged('avih-streams-huge.avi', lambda b: put32(b, bytes(base).find(b'avih') + 8 + 24, 0xFFFFFFFF))
# Structures: no header list, no index and no movi, groups of chunks, junk.
write('no-hdrl.avi', riff(b'AVI ', lst(b'movi', chunk(b'00db', frame(0)))))
write('no-index.avi', plain(idx=False))
write('no-movi.avi', riff(b'AVI ', lst(b'hdrl', avih(1), lst(b'strl', strh(b'vids', b'DIB '), chunk(b'strf', bih())))))
write('rec-lists.avi', riff(b'AVI ', lst(b'hdrl', avih(1), lst(b'strl', strh(b'vids', b'DIB '), chunk(b'strf', bih()))),
                            lst(b'movi', lst(b'rec ', chunk(b'00db', frame(0)), chunk(b'JUNK', b'x' * 9)),
                                lst(b'rec ', chunk(b'00db', frame(1)), chunk(b'ix00', b'\0' * 24)))))
write('empty-lists.avi', riff(b'AVI ', b'LIST' + struct.pack('<I', 0), lst(b'hdrl', avih(1),
                              lst(b'strl', strh(b'vids', b'DIB '), chunk(b'strf', bih()))), b'LIST\x04\0\0\0movi'))
write('streams-40.avi', riff(b'AVI ', lst(b'hdrl', avih(40), *[lst(b'strl', strh(b'vids' if k % 2 else b'auds', b'\0\0\0\0'),
                                                                    chunk(b'strf', b'\0' * 18)) for k in range(40)]),
                              lst(b'movi', *[chunk(b'%02ddc' % k, frame(k, 10)) for k in range(40)])))
write('audio-only.avi', riff(b'AVI ', lst(b'hdrl', avih(1), lst(b'strl', strh(b'auds', b'\0\0\0\0', 1152, 44100),
                                                                 chunk(b'strf', b'\x55\0\2\0' + b'\0' * 26))),
                             lst(b'movi', chunk(b'00wb', frame(0, 100)))))
write('empty.avi', b'')
write('riff-only.avi', b'RIFF\x04\0\0\0AVI ')
write('not-avi.avi', riff(b'WAVE', chunk(b'fmt ', b'\0' * 16)))
write('random.avi', bytes(rng.getrandbits(8) for _ in range(3000)))

# OpenDML files of our writer with their standard and super indexes damaged.
odml = read('ours-odml.avi')
ix = bytes(odml).find(b'ix00')
indx = bytes(odml).find(b'indx')
def ix_repeat(b):
    b[ix + 32 + 8 * 3:ix + 32 + 8 * 4] = b[ix + 32 + 8 * 2:ix + 32 + 8 * 3]
damaged('odml-ix-repeats.avi', ix_repeat, odml)
damaged('odml-ix-count-lies.avi', lambda b: put32(b, ix + 12, 0x10000000), odml)
damaged('odml-ix-base-huge.avi', lambda b: put32(b, ix + 24, 0xFFFFFFFF), odml)
damaged('odml-indx-outside.avi', lambda b: put32(b, indx + 8 + 24, len(odml) + 1000), odml)
damaged('odml-indx-count-lies.avi', lambda b: put32(b, indx + 8 + 4, 0xFFFF), odml)
write('odml-cut.avi', odml[:len(odml) * 2 // 3])
avix = bytes(odml).find(b'AVIX')
damaged('odml-avix-size-huge.avi', lambda b: put32(b, avix - 4, 0xFFFFFFF0), odml)

# Random bytes changed in the headers of some of the real files.
for name in ('ffmpeg-mjpeg-mp3.avi', 'ours-muxed.avi', 'ours-dib.avi'):
    src = read(name)
    for k in range(2):
        b = bytearray(src)
        for _ in range(6):
            b[rng.randrange(12, min(len(b), 600))] = rng.getrandbits(8)
        write('%s-flipped-%d.avi' % (name[:-4], k), b)

total = sum(os.path.getsize(os.path.join(out, n)) for n in os.listdir(out))
print('avi corpus: %d files, %d bytes' % (len(os.listdir(out)), total))
assert total < 256 * 1024
PYEOF
