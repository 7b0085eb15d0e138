#!/usr/bin/env bash
# Regenerates the seed corpus of the MPEG audio fuzz target and corpus test in
# tests/data/mpeg-corpus: a few real frames of each layer and version (lame for
# Layer III, ffmpeg's mp2 encoder for Layer II, made-up frames for Layer I,
# which neither tool writes), and damaged files built from them. Every file
# stays below 8 KiB. The files are committed, so nobody needs to run this to
# build or test; run it again only to change the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in lame ffmpeg python3; do
  command -v "$tool" >/dev/null || { echo "make-mpeg-corpus: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

out=tests/data/mpeg-corpus
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Sources: a tone with sudden loud onsets every 0.1 s (the encoders switch to
# short blocks there) over a quiet background, so both block kinds appear.
tone() {  # rate channels seconds file
  ffmpeg -v error -y -f lavfi \
    -i "aevalsrc=if(gt(mod(t\,0.1)\,0.07)\,0.9*sin(2*PI*3000*t)*random(0)\,0.02*sin(2*PI*440*t)):s=$1:d=$3" \
    -ac "$2" -c:a pcm_s16le "$4"
}
tone 44100 2 0.6 "$tmp/s44.wav"
tone 48000 2 0.6 "$tmp/s48.wav"
tone 32000 2 0.6 "$tmp/s32.wav"
tone 22050 1 0.8 "$tmp/m22.wav"
tone 24000 2 0.8 "$tmp/s24.wav"
tone 16000 1 0.8 "$tmp/m16.wav"
tone 11025 2 1.0 "$tmp/s11.wav"
tone 8000 1 1.0 "$tmp/m8.wav"

lame_enc() { lame --quiet "$@"; }
lame_enc -b 128 "$tmp/s44.wav" "$tmp/l3-44k-stereo-cbr.mp3"
lame_enc -V 2 -m j "$tmp/s48.wav" "$tmp/l3-48k-joint-vbr.mp3"
lame_enc -b 96 -p "$tmp/s32.wav" "$tmp/l3-32k-crc.mp3"
lame_enc -b 64 -m s --nores "$tmp/s44.wav" "$tmp/l3-44k-noreservoir.mp3"
lame_enc -b 32 -m m "$tmp/m22.wav" "$tmp/l3-22k-mono.mp3"
lame_enc -b 48 -m j "$tmp/s24.wav" "$tmp/l3-24k-joint.mp3"
lame_enc -b 24 -m m -p "$tmp/m16.wav" "$tmp/l3-16k-mono-crc.mp3"
lame_enc -b 32 -m j "$tmp/s11.wav" "$tmp/l3-11k-joint.mp3"
lame_enc -b 16 -m m "$tmp/m8.wav" "$tmp/l3-8k-mono.mp3"

mp2_enc() { ffmpeg -v error -y -i "$1" -ac "$2" -c:a mp2 -b:a "$3" "$4"; }
mp2_enc "$tmp/s48.wav" 2 128k "$tmp/l2-48k-128.mp2"  # allocation table a
mp2_enc "$tmp/s44.wav" 2 192k "$tmp/l2-44k-192.mp2"  # table b
mp2_enc "$tmp/s44.wav" 2 64k "$tmp/l2-44k-64.mp2"    # table c
mp2_enc "$tmp/s32.wav" 2 64k "$tmp/l2-32k-64.mp2"    # table d
mp2_enc "$tmp/m22.wav" 1 48k "$tmp/l2-22k-mono.mp2"  # low sampling frequencies
mp2_enc "$tmp/s24.wav" 2 96k "$tmp/l2-24k-stereo.mp2"

rm -rf "$out"
mkdir -p "$out"
python3 - "$tmp" "$out" <<'PYEOF'
import os, random, struct, sys

tmp, out = sys.argv[1], sys.argv[2]
rng = random.Random(20261209)
LIMIT = 8000

BR1 = [[0,32,64,96,128,160,192,224,256,288,320,352,384,416,448,0],
       [0,32,48,56,64,80,96,112,128,160,192,224,256,320,384,0],
       [0,32,40,48,56,64,80,96,112,128,160,192,224,256,320,0]]
BR2 = [[0,32,48,56,64,80,96,112,128,144,160,176,192,224,256,0],
       [0,8,16,24,32,40,48,56,64,80,96,112,128,144,160,0]]
RATES = {3: [44100, 48000, 32000], 2: [22050, 24000, 16000], 0: [11025, 12000, 8000]}

def frame_len(h):
    if h >> 21 != 0x7FF: return 0
    ver = (h >> 19) & 3; layer = 3 - ((h >> 17) & 3); bri = (h >> 12) & 15
    ri = (h >> 10) & 3; pad = (h >> 9) & 1
    if ver == 1 or layer == 3 or ri == 3 or bri in (0, 15): return 0
    rate = RATES[ver][ri]
    kbps = BR1[layer][bri] if ver == 3 else BR2[0 if layer == 0 else 1][bri]
    if layer == 0: return (12 * kbps * 1000 // rate + pad) * 4
    if layer == 1 or ver == 3: return 144 * kbps * 1000 // rate + pad
    return 72 * kbps * 1000 // rate + pad

def frames_of(name):
    data = open(os.path.join(tmp, name), 'rb').read()
    p, res = 0, []
    while p + 4 <= len(data):
        h = struct.unpack('>I', data[p:p + 4])[0]
        n = frame_len(h)
        if n and p + n <= len(data):
            res.append(bytearray(data[p:p + n])); p += n
        else:
            p += 1
    return res

def header(ver, layer, bri, ri, pad=0, mode=0, modext=0, crc=False):
    h = 0x7FF << 21 | ver << 19 | (3 - layer) << 17 | (0 if crc else 1) << 16
    return h | bri << 12 | ri << 10 | pad << 9 | mode << 6 | modext << 4

def made_up(h, body=None):
    n = frame_len(h)
    f = bytearray(struct.pack('>I', h))
    f += body if body is not None else bytes(rng.getrandbits(8) for _ in range(n - 4))
    return f[:n].ljust(n, b'\0')

def write(name, data):
    data = bytes(data)
    assert len(data) < LIMIT, (name, len(data))
    open(os.path.join(out, name), 'wb').write(data)

def fit(frames, room=3600):
    res, size = [], 0
    for f in frames:
        if size + len(f) > room: break
        res.append(f); size += len(f)
    return res

def join(frames): return b''.join(bytes(f) for f in frames)

def junk(n):
    return bytes(rng.choice([0xFF, 0xFB, 0xE0, 0x00, rng.getrandbits(8)]) for _ in range(n))

# Real frames of every encoder run, cut to what fits in the size limit.
enc = {}
for name in sorted(os.listdir(tmp)):
    if name.endswith(('.mp3', '.mp2')):
        enc[name] = frames_of(name)
        write(name, join(fit(enc[name])))

l3 = enc['l3-44k-stereo-cbr.mp3']
l2 = enc['l2-48k-128.mp2']

# Cut short: inside a frame's data, inside a header, after one header only.
data = join(l3[:8]); write('cut-inside-frame.mp3', data[:len(data) - 150])
data = join(l2[:4]); write('cut-inside-header.mp2', data + bytes(l2[4][:2]))
write('header-only.mp3', l3[1][:4])
write('header-and-crc.mp3', enc['l3-32k-crc.mp3'][1][:6])
write('empty.mp3', b'')
write('one-byte.mp3', b'\xff')

# Junk between frames, including sync-like bytes and lone "TAG" blocks.
parts = []
for i, f in enumerate(l2[:6]):
    parts.append(bytes(f)); parts.append(junk(rng.randint(1, 60)))
    if i == 2: parts.append(b'TAG' + bytes(rng.getrandbits(8) for _ in range(125)))
write('junk-between-frames.mp2', b''.join(parts))
parts = []
for f in l3[:10]:
    parts.append(bytes(f)); parts.append(b'\xff\xfb' if rng.random() < 0.5 else b'\xff\xe2\x00')
write('sync-junk-l3.mp3', b''.join(parts))
write('all-ff.mp3', b'\xff' * 2048)

# Lying headers: wrong bit-rate index (the length no longer matches the
# data), forbidden and free-format indexes, reserved rate and layer, the layer
# or the sample rate changing after the first frame.
lie = [bytearray(f) for f in l3[:12]]
for i, f in enumerate(lie):
    if i % 3 == 1: f[2] = (f[2] & 0x0F) | (rng.choice([1, 5, 9, 14]) << 4)
    if i % 4 == 2: f[2] = (f[2] & 0x0F) | rng.choice([0x00, 0xF0])
    if i % 5 == 3: f[2] |= 0x0C
    if i == 7: f[1] = (f[1] & 0xF9)  # reserved layer bits
write('lying-bitrates.mp3', join(lie))
write('layer-changes-l3-l1.mp3', join(l3[:3]) + join(made_up(header(3, 0, 8, 0)) for _ in range(4)) + join(l3[3:6]))
write('layer-changes-l2-l3.mp2', join(l2[:3]) + join(l3[:5]))
write('layer-changes-l1-l2.mp1', join(made_up(header(3, 0, 6, 1, mode=1, modext=2)) for _ in range(3)) + join(l2[:3]))
write('rate-changes-48k-44k.mp3', join(enc['l3-48k-joint-vbr.mp3'][:2]) + join(l3[2:10]))
write('version-changes-mpeg1-mpeg2.mp3', join(l3[:4]) + join(enc['l3-22k-mono.mp3'][:8]))
write('version-changes-mpeg2-mpeg1.mp3', join(enc['l3-24k-joint.mp3'][:4]) + join(l3[:6]))
write('free-format.mp3', (struct.pack('>I', header(3, 2, 0, 0)) + bytes(413)) * 4)

# Layer III main data that starts before what the reservoir holds: the first
# frame of a file, a frame right after a jump, and every frame claiming the
# largest start.
def set_main_data_begin(f, value, mpeg1=True):
    at = 6 if (f[1] & 1) == 0 else 4
    if mpeg1:
        f[at] = value >> 1; f[at + 1] = (f[at + 1] & 0x7F) | ((value & 1) << 7)
    else:
        f[at] = value & 0xFF
    return f
mdb = [bytearray(f) for f in l3[4:16]]
set_main_data_begin(mdb[0], 511)
set_main_data_begin(mdb[5], 511)
write('main-data-begin-beyond-reservoir.mp3', join(mdb))
write('main-data-begin-max-every-frame.mp3', join(set_main_data_begin(bytearray(f), 511) for f in l3[:12]))
write('main-data-begin-lsf.mp3', join(set_main_data_begin(bytearray(f), 255, False) for f in enc['l3-22k-mono.mp3'][:20]))

# Tags: an ID3v2 tag whose size reaches far past the end (also with the top
# bits of the size bytes set), a true one followed by zero padding, one with
# a footer, ID3v1 blocks inside and at the end, an APEv2 tag at the end.
def id3v2(size_bytes, flags=0, body=b''):
    return b'ID3\x03\x00' + bytes([flags]) + bytes(size_bytes) + body
write('id3v2-huge-size.mp3', id3v2([0x7F, 0x7F, 0x7F, 0x7F]) + join(l3[:6]))
write('id3v2-unmasked-size.mp3', id3v2([0xFF, 0xFF, 0xFF, 0xFF]) + join(l3[:6]))
frame = b'TIT2' + struct.pack('>I', 6) + b'\0\0' + b'\0title'
def syncsafe(n): return [(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F]
tag = id3v2(syncsafe(len(frame) + 500), body=frame) + bytes(500)
write('id3v2-zero-padding.mp3', tag + join(l3[:8]))
write('id3v2-footer.mp3', id3v2([0, 0, 0, 20], 0x10, bytes(20) + b'3DI\x03\x00\x10\x00\x00\x00\x14') + join(l2[:4]))
write('id3v2-only-zeros-after.mp3', tag + bytes(1000))
id3v1 = b'TAG' + b'title'.ljust(30, b' ') + b'artist'.ljust(30, b' ') + b'album'.ljust(30, b' ') + b'2026' + bytes(30) + b'\x11'
write('id3v1-inside-and-end.mp3', join(l3[:4]) + id3v1 + join(l3[4:8]) + id3v1)
write('id3v1-cut.mp3', join(l3[:4]) + id3v1[:60])
items = struct.pack('<II', 6, 0) + b'Artist\0' + b'nobody'
ape = b'APETAGEX' + struct.pack('<IIII', 2000, len(items) + 32, 1, 0) + bytes(8)
write('apev2-at-end.mp3', join(l3[:6]) + items + ape + id3v1)

# Zeros: only zeros, zeros before the first frame, more zeros than the skip
# covers is not possible below 8 KiB, so the skip's end is met by a file of
# zeros just under it.
write('zeros-only.mp3', bytes(4096))
write('zeros-4096-then-frames.mp3', bytes(4096) + join(l3[:4]))
write('zeros-3000-then-frame.mp3', bytes(3000) + join(l2[:1]))
write('zeros-between-frames.mp2', join(f + bytes(100) for f in l2[:5]))

# Made-up Layer III frames: random side information (any table, big-values
# count, block type, scale-factor compression) over random main data that
# starts in the frame itself.
def l3_random(ver, ri, bri, mode, n, crc=False):
    res = []
    for _ in range(n):
        h = header(ver, 2, bri, ri, mode=mode, modext=rng.getrandbits(2), crc=crc)
        f = made_up(h)
        set_main_data_begin(f, 0, ver == 3)
        res.append(f)
    return res
write('l3-random-sideinfo-stereo.mp3', join(l3_random(3, 0, 9, 1, 6)))
write('l3-random-sideinfo-mono.mp3', join(l3_random(3, 1, 5, 3, 14)))
write('l3-random-sideinfo-lsf.mp3', join(l3_random(2, 2, 8, 1, 10)))
write('l3-random-sideinfo-8k.mp3', join(l3_random(0, 2, 6, 0, 10, crc=True)))
write('l3-max-frame-32k.mp3', join(l3_random(3, 2, 14, 0, 2)))
# Five of the largest frames fill the reservoir past the point where it is
# compacted; the small frames after them make it compact, keeping the most
# their main-data start can ask for.
write('l3-reservoir-compaction.mp3', join(l3_random(3, 2, 14, 0, 5)) +
      join(set_main_data_begin(f, 511) for f in l3_random(3, 2, 1, 0, 2)))

# Made-up Layer I and II frames with random allocations and samples, in every
# mode; the largest frames the header allows.
def random_frames(ver, layer, bri, ri, n, mode=None):
    return [made_up(header(ver, layer, bri, ri, pad=rng.getrandbits(1),
                           mode=rng.getrandbits(2) if mode is None else mode, modext=rng.getrandbits(2)))
            for _ in range(n)]
write('l1-44k-modes.mp1', join(random_frames(3, 0, 6, 0, 16)))
write('l1-32k-mono.mp1', join(random_frames(3, 0, 3, 2, 30, mode=3)))
write('l1-22k-stereo.mp1', join(random_frames(2, 0, 4, 0, 20, mode=0)))
write('l1-max-frame.mp1', join(random_frames(3, 0, 14, 2, 6)))
write('l2-random-48k.mp2', join(random_frames(3, 1, 8, 1, 10)))
write('l2-random-joint-44k.mp2', join(random_frames(3, 1, 9, 0, 8, mode=1)))
write('l2-random-mono-32k.mp2', join(random_frames(3, 1, 4, 2, 10, mode=3)))
write('l2-random-lsf.mp2', join(random_frames(2, 1, 7, 1, 12)))
write('l2-max-frame.mp2', join(random_frames(3, 1, 14, 2, 2)))
write('l2-8k.mp2', join(random_frames(0, 1, 8, 2, 3)))

# Real frames with a few flipped bits in the data (not the headers).
for name, src in (('l3-flipped-bits.mp3', l3[:8]), ('l2-flipped-bits.mp2', l2[:8])):
    fs = [bytearray(f) for f in src]
    for f in fs:
        for _ in range(6):
            at = rng.randrange(4, len(f)); f[at] ^= 1 << rng.randrange(8)
    write(name, join(fs))

total = sum(os.path.getsize(os.path.join(out, n)) for n in os.listdir(out))
print('mpeg corpus: %d files, %d bytes' % (len(os.listdir(out)), total))
assert total < 200 * 1024
PYEOF
