#!/usr/bin/env bash
# Rebuilds the seed corpora in fuzz/corpus/ from the project's own tools
# (a built tree in build/: orx and the component resources). Needs python3
# to cut samples out of movies. Usage: fuzz/make-corpus.sh [build-folder]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../build}" && pwd)"
orx="$build/app/orx"
c="$here/corpus"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ORX_PREFERENCES_DIR="$work/prefs"
rm -rf "$c"
mkdir -p "$c"/{frame,lzf,settings,preferences,resources,movie,sound,png,y4m,liborx}

# Movies of every variant, 16x12 (not whole blocks vertically), two frames.
for v in "quality discard" "performance discard" "vovorevaded discard" "quality preserve"; do
  set -- $v
  "$orx" encode --test-clip --size 16x12 --frames 2 --optimize "$1" --transparency "$2" -q -o "$c/movie/$1-$2.mov"
done

# Samples of those movies: frame cases (width, height, road byte, sample),
# LZF cases (raw size, packed block data) and library cases (width, height,
# byte order and row spare, frame); library cases of what these small movies
# do not hold (a layer, DXT24 with alpha, packed DXT24) are built here.
python3 - "$c" <<'PY'
import random, struct, sys, os
c = sys.argv[1]
def atoms(b, start, end):
    i = start
    while i + 8 <= end:
        size, kind = struct.unpack('>I4s', b[i:i+8])
        yield kind, i + 8, i + size
        i += size
def find(b, start, end, path):
    for kind, s, e in atoms(b, start, end):
        if kind == path[0]:
            return (s, e) if len(path) == 1 else find(b, s, e, path[1:])
for name in sorted(os.listdir(f'{c}/movie')):
    b = open(f'{c}/movie/{name}', 'rb').read()
    stbl = find(b, 0, len(b), [b'moov', b'trak', b'mdia', b'minf', b'stbl'])
    s, e = find(b, *stbl, [b'stsz'])
    uniform, count = struct.unpack('>II', b[s+4:s+12])
    sizes = [uniform] * count if uniform else struct.unpack(f'>{count}I', b[s+12:e])
    s, e = find(b, *stbl, [b'stco']); offs = struct.unpack(f'>{struct.unpack(">I", b[s+4:s+8])[0]}I', b[s+8:e])
    for i, (o, n) in enumerate(zip(offs, sizes)):
        sample = b[o:o+n]
        for road in (0, 1):
            open(f'{c}/frame/{name[:-4]}-{i}-{road}', 'wb').write(struct.pack('<HHB', 15, 11, road) + sample)
        hsize, = struct.unpack('<I', sample[0:4]); data, = struct.unpack('<i', sample[16:20])
        alpha, lzf, dxt24 = sample[5], sample[6], sample[26]
        raw = 16 * 12 // 16 * ((18 if alpha else 10) if dxt24 == 1 else (16 if alpha else 8))
        if lzf == 1:
            open(f'{c}/lzf/{name[:-4]}-{i}', 'wb').write(struct.pack('<H', raw) + sample[hsize:hsize+data])
        open(f'{c}/liborx/{name[:-4]}-{i}', 'wb').write(struct.pack('<HHB', 16, 12, 5 * i) + sample)
rnd = random.Random(1)
def frame(alpha, dxt24, block, layer=b'', packed=False):
    """13x10: 12 blocks of random bytes, or one block repeated (a literal run, then a back-reference) packed."""
    unit = bytes(rnd.randrange(256) for _ in range(block if packed else 12 * block))
    data = bytes([block - 1]) + unit + bytes([0xE0, 11 * block - 9, block - 1]) if packed else unit
    side = 2 if layer else 0
    header = struct.pack('<IBBBBiiiiBBBB', 28, 1, alpha, int(packed), 0, side, side, len(data), len(layer), 0, 0,
                         dxt24, 0)
    return header + data + layer
for name, f in (('dxt1-raw', frame(0, 0, 8)), ('dxt5-raw-layer', frame(1, 0, 16, bytes(range(16)))),
                ('dxt24-alpha-raw', frame(1, 1, 18)), ('dxt24-lzf', frame(0, 1, 10, packed=True)),
                ('dxt24-alpha-lzf', frame(1, 1, 18, packed=True))):
    open(f'{c}/liborx/{name}', 'wb').write(struct.pack('<HHB', 13, 10, 0) + f)

# Damaged frames for both frame harnesses, each with the picture it is
# damaged for: raw DXT1 block data one byte short of a 16x16 picture's and
# exactly long enough; zeros marked LZF, long enough for the 88:1 bound of a
# 64x64 picture but unpacking to half their length; an 8x16 picture's
# packed blocks given as 16x16; a raw 16x16 frame whose packed 4x4 layer
# stops inside its last literal run. The frame harness takes side - 1.
def header(alpha, lzf, data, layer=0, side=0, second_lzf=0):
    return struct.pack('<IBBBBiiiiBBBB', 28, 1, alpha, lzf, second_lzf, side, side, data, layer, 0, 0, 0, 0)
blocks16 = bytes(rnd.randrange(256) for _ in range(128))
packed_half = bytes([31]) + blocks16[:32] + bytes([31]) + blocks16[32:64]  # two literal runs: 64 bytes
layer = bytes([31]) + bytes(range(32)) + bytes([31]) + bytes(range(32, 64))
damaged = [
    ('raw-one-short', 16, header(0, 0, 127) + blocks16),
    ('raw-exact', 16, header(0, 0, 128) + blocks16),
    ('zeros-marked-lzf', 64, header(0, 1, 24) + bytes(24)),
    ('smaller-picture', 16, header(0, 1, len(packed_half)) + packed_half),
    ('damaged-layer', 16, header(0, 0, 128, len(layer) - 1, 4, 1) + blocks16 + layer[:-1]),
]
for name, side, f in damaged:
    open(f'{c}/frame/{name}', 'wb').write(struct.pack('<HHB', side - 1, side - 1, 0) + f)
    open(f'{c}/liborx/{name}', 'wb').write(struct.pack('<HHB', side, side, 0) + f)
PY

# Settings blobs: each "Optimize For" choice, alpha, odd thread values, a
# wrong magic and a wrong size.
blob() { printf 'ORXC\x'"$1"'\x'"$2"'\x'"$3"'\x00\x'"$4"'\x00\x00\x00'; }
blob 00 01 00 02 > "$c/settings/quality"
blob 00 00 00 01 > "$c/settings/performance-max"
blob 01 01 01 09 > "$c/settings/alpha-vovor-24x"
blob 00 01 00 28 > "$c/settings/threads-40"
printf 'XRXC\x01\x01\x01\x00\x05\x00\x00\x00' > "$c/settings/bad-magic"
printf 'ORXC\x01\x01\x01\x00\x05\x00\x00\x00\x00' > "$c/settings/thirteen-bytes"

# Preferences files as the compressor writes them, and short ones.
"$orx" settings --set optimize=vovorevaded --set threads=12 > /dev/null
cp "$ORX_PREFERENCES_DIR/ORXPreferences.dat" "$c/preferences/vovor-12x"
printf '\x01\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00\x07\x00\x00\x00' > "$c/preferences/1-1-1-7"
printf '\x02\x00\x00\x00\x00\x00\x00\x00\x05\x00\x00\x00\x0c\x00\x00\x00' > "$c/preferences/2-0-5-12"
printf '\x01\x00\x00\x00\x01\x00' > "$c/preferences/short"
: > "$c/preferences/empty"

# The component's own resource file.
cp "$build/lib/ORXCodec.rsrc" "$c/resources/ORXCodec.rsrc"

# Pictures and streams decoded by orx: RGB and RGBA PNGs, a 4:4:4 stream,
# and hand-written 4:2:0 and mono streams.
"$orx" decode "$c/movie/quality-discard.mov" --frames 0 -q -o "$c/png/rgb.png"
"$orx" decode "$c/movie/quality-preserve.mov" --frames 0 -q -o "$c/png/rgba.png"
"$orx" decode "$c/movie/performance-discard.mov" -q -o "$c/y4m/c444.y4m"
{ printf 'YUV4MPEG2 W4 H2 F25:1 Ip C420jpeg XCOLORRANGE=FULL\nFRAME\n'; printf '\x10\x20\x30\x40\x50\x60\x70\x80\x80\x90'; } > "$c/y4m/c420"
{ printf 'YUV4MPEG2 W3 H3 Cmono\nFRAME\n'; printf '\x10\x20\x30\x40\x50\x60\x70\x80\x90'; } > "$c/y4m/mono"
# Movies with a sound track of each sample format (5000 frames at 8000 Hz:
# two chunks, two sample-to-chunk entries), and the damage the sound reader
# must name: descriptions out of range or cut short, tables that disagree
# with each other or the file, and damaged sound tracks before the pictures
# (those also seed the movie harness).
python3 - "$work" <<'PY'
import math, struct, sys
work = sys.argv[1]
for name, fmt, bits, channels in (('int16', 1, 16, 1), ('int24', 1, 24, 2), ('float32', 3, 32, 1)):
    frames = []
    for i in range(5000):
        v = math.sin(i / 9.0) * 0.5
        if fmt == 3:
            frames.append(struct.pack('<f', v) * channels)
        else:
            frames.append(int(v * (1 << (bits - 1))).to_bytes(bits // 8, 'little', signed=True) * channels)
    data = b''.join(frames)
    block = channels * bits // 8
    head = struct.pack('<4sI4s4sIHHIIHH4sI', b'RIFF', 36 + len(data), b'WAVE', b'fmt ', 16, fmt, channels, 8000,
                       8000 * block, block, bits, b'data', len(data))
    open(f'{work}/{name}.wav', 'wb').write(head + data)
PY
for f in int16 int24 float32; do
  "$orx" encode --test-clip --size 16x12 --frames 16 --audio "$work/$f.wav" -q -o "$c/sound/$f.mov"
done
python3 - "$c" <<'PY'
import struct, sys
c = sys.argv[1]
def atoms(b, start, end):
    i = start
    while i + 8 <= end:
        size, kind = struct.unpack('>I4s', b[i:i+8])
        yield kind, i, i + size
        i += size
def child(b, box, kind):
    return next((s, e) for k, s, e in atoms(b, box[0] + 8, box[1]) if k == kind)
b = open(f'{c}/sound/int16.mov', 'rb').read()
moov = next((s, e) for k, s, e in atoms(b, 0, len(b)) if k == b'moov')
traks = [(s, e) for k, s, e in atoms(b, moov[0] + 8, moov[1]) if k == b'trak']
sound = next(t for t in traks if b'soun' in b[t[0]:t[1]])
mdia = child(b, sound, b'mdia'); minf = child(b, mdia, b'minf'); stbl = child(b, minf, b'stbl')
tables = {k: (s, e) for k, s, e in atoms(b, stbl[0] + 8, stbl[1])}
entry = tables[b'stsd'][0] + 16
def damaged(name, *patches):
    m = bytearray(b)
    for at, fmt, value in patches:
        struct.pack_into(fmt, m, at, value)
    open(f'{c}/sound/{name}', 'wb').write(m)
for v in (0, 65, 65535):
    damaged(f'channels-{v}.mov', (entry + 48, '>I', v))
for v in (0, 7, 33):
    damaged(f'bits-{v}.mov', (entry + 56, '>I', v))
for name, v in (('0', 0.0), ('nan', float('nan')), ('inf', float('inf')), ('-inf', float('-inf'))):
    damaged(f'rate-{name}.mov', (entry + 40, '>d', v))
damaged('description-cut-short.mov', (entry, '>I', 40))
damaged('descriptions-it-does-not-hold.mov', (entry - 4, '>I', 2))
stco, stsc, stsz = tables[b'stco'][0], tables[b'stsc'][0], tables[b'stsz'][0]
damaged('no-chunk-offsets.mov', (stco + 12, '>I', 0))
damaged('one-frame-a-chunk.mov', (stsc + 20, '>I', 1))
damaged('chunks-from-0.mov', (stsc + 16, '>I', 0))
damaged('frames-past-the-file.mov', (stsz + 16, '>I', 0xFFFFFFFF))
damaged('chunk-past-the-file.mov', (stco + 16, '>I', 0xFFFFFF00))
# The sound track moved before the video track (chunk offsets are absolute).
other = next(t for t in traks if t != sound)
first = b[:min(other[0], sound[0])] + b[sound[0]:sound[1]] + b[other[0]:other[1]] + b[max(other[1], sound[1]):]
open(f'{c}/sound/sound-first.mov', 'wb').write(first)
at = traks[0][0]  # where the sound track now starts
for name, (offset, value) in (('sound-first-mdia-size-0.mov', (mdia[0] - sound[0], 0)),
                              ('sound-first-stbl-past-minf.mov', (stbl[0] - sound[0], 5000))):
    m = bytearray(first)
    struct.pack_into('>I', m, at + offset, value)
    open(f'{c}/sound/{name}', 'wb').write(m)
    open(f'{c}/movie/{name}', 'wb').write(m)
PY

echo "corpus written to $c"
