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
mkdir -p "$c"/{frame,lzf,settings,preferences,resources,movie,png,y4m,liborx}

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
echo "corpus written to $c"
