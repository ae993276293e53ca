#!/usr/bin/env python3
"""A frame decoder written from docs/FRAME-FORMAT.md alone, checked against orx.

doc_decoder.py ORX WORKDIR: encodes the test clip in every variant with the
given orx, reads each movie's first frame from the file, decodes it as the
document describes (header, skip to headerSize, LZF, blocks) and compares its
pixels with what `orx decode` writes. The picture is large enough that its
block data is packed in several chunks, so the frame carries a chunk table
this decoder never reads. Exits 0 when every variant matches within 1.
"""
import os
import struct
import subprocess
import sys

W, H = 1040, 600  # 39000 blocks: two chunks of 32768 blocks or more


def atoms(data, start, end):
    """(type, body start, body end) of each atom in data[start:end]."""
    while start + 8 <= end:
        size, kind = struct.unpack(">I4s", data[start:start + 8])
        head = 8
        if size == 1:
            size = struct.unpack(">Q", data[start + 8:start + 16])[0]
            head = 16
        elif size == 0:
            size = end - start
        if size < head:
            raise ValueError("bad atom size")
        yield kind, start + head, start + size
        start += size


def find(data, start, end, path):
    for kind, b, e in atoms(data, start, end):
        if kind == path[0]:
            if len(path) == 1:
                return b, e
            found = find(data, b, e, path[1:])
            if found:
                return found
    return None


def first_video_sample(data):
    """The first sample of the first track whose sample description is ORXV."""
    moov = find(data, 0, len(data), [b"moov"])
    for kind, b, e in atoms(data, *moov):
        if kind != b"trak":
            continue
        stbl = find(data, b, e, [b"mdia", b"minf", b"stbl"])
        if not stbl:
            continue
        stsd = find(data, *stbl, [b"stsd"])
        if data[stsd[0] + 12:stsd[0] + 16] != b"ORXV":
            continue
        stsz = find(data, *stbl, [b"stsz"])
        fixed = struct.unpack(">I", data[stsz[0] + 4:stsz[0] + 8])[0]
        size = fixed or struct.unpack(">I", data[stsz[0] + 12:stsz[0] + 16])[0]
        co = find(data, *stbl, [b"stco"])
        if co:
            offset = struct.unpack(">I", data[co[0] + 8:co[0] + 12])[0]
        else:
            co = find(data, *stbl, [b"co64"])
            offset = struct.unpack(">Q", data[co[0] + 8:co[0] + 16])[0]
        return data[offset:offset + size]  # the first sample opens the first chunk
    raise ValueError("no ORXV track")


def unlzf(src, out_len):
    out = bytearray()
    i = 0
    while i < len(src):
        c = src[i]
        i += 1
        if c < 32:
            out += src[i:i + c + 1]
            i += c + 1
        else:
            n = c >> 5
            if n == 7:
                n += src[i]
                i += 1
            ref = len(out) - (((c & 0x1F) << 8) + src[i] + 1)
            i += 1
            if ref < 0:
                raise ValueError("back reference before the start")
            for k in range(n + 2):
                out.append(out[ref + k])
    if len(out) != out_len:
        raise ValueError("unpacks to %d bytes, not %d" % (len(out), out_len))
    return bytes(out)


def rgb565(v):
    r, g, b = v >> 11, (v >> 5) & 63, v & 31
    return [(r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2)]


def dxt_colours(block, four):
    c0, c1, bits = struct.unpack("<HHI", block)
    p0, p1 = rgb565(c0), rgb565(c1)
    if c0 > c1 or four:
        pal = [p0 + [255], p1 + [255], [(2 * a + b) / 3 for a, b in zip(p0, p1)] + [255],
               [(a + 2 * b) / 3 for a, b in zip(p0, p1)] + [255]]
    else:
        pal = [p0 + [255], p1 + [255], [(a + b) / 2 for a, b in zip(p0, p1)] + [255], [0, 0, 0, 0]]
    return [pal[(bits >> (2 * i)) & 3] for i in range(16)]


def dxt24_colours(block):
    p0, p1 = list(block[0:3]), list(block[3:6])
    bits = struct.unpack("<I", block[6:10])[0]
    pal = [p0, p1, [(2 * a + b) / 3 for a, b in zip(p0, p1)], [(a + 2 * b) / 3 for a, b in zip(p0, p1)]]
    return [pal[(bits >> (2 * i)) & 3] + [255] for i in range(16)]


def alphas(block):
    a0, a1 = block[0], block[1]
    bits = int.from_bytes(block[2:8], "little")
    if a0 > a1:
        pal = [a0, a1] + [((7 - k) * a0 + k * a1) / 7 for k in range(1, 7)]
    else:
        pal = [a0, a1] + [((5 - k) * a0 + k * a1) / 5 for k in range(1, 5)] + [0, 255]
    return [pal[(bits >> (3 * i)) & 7] for i in range(16)]


def decode(frame):
    header_size, _version, has_alpha, is_lzf = struct.unpack("<IBBB", frame[0:7])
    data_size = struct.unpack("<i", frame[16:20])[0]
    is_dxt24 = frame[26]
    per = (10 if is_dxt24 else 8) + (8 if has_alpha else 0)
    bw, bh = (W + 3) // 4, (H + 3) // 4
    raw = frame[header_size:header_size + data_size]
    blocks = unlzf(raw, bw * bh * per) if is_lzf == 1 else raw
    pixels = [[0, 0, 0, 0]] * (W * H)
    for by in range(bh):
        for bx in range(bw):
            at = (by * bw + bx) * per
            block = blocks[at:at + per]
            colour = block[8:] if has_alpha else block
            px = dxt24_colours(colour) if is_dxt24 else dxt_colours(colour, has_alpha)
            if has_alpha:
                for i, a in enumerate(alphas(block[0:8])):
                    px[i] = px[i][:3] + [a]
            for i in range(16):
                x, y = bx * 4 + i % 4, by * 4 + i // 4
                if x < W and y < H:
                    pixels[y * W + x] = px[i]
    return header_size, pixels


def main():
    orx, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    variants = {"DXT1": ["--transparency", "discard", "--optimize", "performance"],
                "DXT5": ["--transparency", "preserve", "--optimize", "performance"],
                "DXT24": ["--transparency", "discard", "--optimize", "quality"]}
    failed = False
    for name, options in variants.items():
        movie = os.path.join(work, "doc_%s.mov" % name)
        argb = os.path.join(work, "doc_%s.argb" % name)
        subprocess.run([orx, "encode", "--test-clip", "--size", "%dx%d" % (W, H), "--frames", "1", "--audio", "none",
                        "-q", "-y", "-o", movie] + options, check=True)
        subprocess.run([orx, "decode", movie, "-o", argb, "-q", "-y", "--frames", "0"], check=True)
        with open(movie, "rb") as f:
            header_size, mine = decode(first_video_sample(f.read()))
        with open(argb, "rb") as f:
            theirs = f.read()
        worst = 0
        for i, p in enumerate(mine):
            a, r, g, b = theirs[4 * i:4 * i + 4]
            worst = max(worst, abs(p[0] - r), abs(p[1] - g), abs(p[2] - b), abs(p[3] - a))
        ok = header_size > 28 and worst <= 1
        failed |= not ok
        print("%s: headerSize %d, largest difference %.2f: %s" % (name, header_size, worst, "ok" if ok else "FAILED"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
