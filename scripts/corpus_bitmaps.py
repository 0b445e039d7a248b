#!/usr/bin/env python3
"""Writes a corpus of bitmap files for measuring the game's load against an independent reader.

    scripts/corpus_bitmaps.py OUTDIR [--quick]

Files: every depth (1, 4, 8 bits with colour tables, 16 bits 5-5-5 and 5-6-5, 24, 32, other
bit-fields), run-length 8 and 4 bits, the older 12-byte header, top-down rows, the header's
image size 0, exact and below the rows, copies cut off at 10, 50 and 90 %, large pictures
(12 to 200 megapixels, written sparse or cheaply), and made-up files: tiny headers claiming huge
pictures, pictures followed by gigabytes of zeros (sparse files), sparse run-length data.

Beside each file NAME.bmp that an independent reader can decode, NAME.ppm holds its picture as
ImageMagick's `convert` reads it (Debian package imagemagick: needed by this script only, not by
the build or the tests). A cut-off file's reference is its whole copy's, with the missing pixels
as the game shows them: black, or colour 0 of an indexed picture. OUTDIR/manifest.tsv has one
line per file: name, expected outcome ("loads", "refused", or "rule": a made-up file that may
load as long as its data pays for its working set), reference (a file name, or "-" with the
reason), and a description.

--quick leaves out the pictures above 12 megapixels. The tails cost no disk space on file systems
with sparse files. Randomness is seeded: every run writes the same files.
"""

import os
import random
import struct
import subprocess
import sys

GIB = 1 << 30


def stride(width, bpp):
    return (width * bpp + 31) // 32 * 4


def bmp_bytes(width, height, bpp, rows, *, table=None, compression=0, masks=None,
              image_size=None, top_down=False, core=False):
    """A whole file. rows: the pixel data as stored (bytes). image_size: None for the exact
    size, or the number to write in the header."""
    table = table or []
    if core:
        info = struct.pack('<IHHHH', 12, width, height, 1, bpp)
        pal = b''.join(bytes((b, g, r)) for r, g, b in table)
    else:
        size = len(rows) if image_size is None else image_size
        info = struct.pack('<IiiHHIIiiII', 40, width, -height if top_down else height, 1, bpp,
                           compression, size, 2835, 2835, len(table), 0)
        if masks:
            info += struct.pack('<III', *masks)
        pal = b''.join(bytes((b, g, r, 0)) for r, g, b in table)
    offset = 14 + len(info) + len(pal)
    return b'BM' + struct.pack('<IHHI', offset + len(rows), 0, 0, offset) + info + pal + rows


def photo_rows(width, height, bpp, rng, zero_fourth=False):
    """Stored rows of noisy content: each row a different slice of one random buffer."""
    row_bytes = (width * bpp + 7) // 8
    pad = stride(width, bpp) - row_bytes
    source = rng.randbytes(row_bytes + 4099)
    if zero_fourth:  # 32 bits without masks: the fourth byte unused, kept 0
        source = bytes(b if i % 4 != 3 else 0 for i, b in enumerate(source[:row_bytes + 4096]))
    out = bytearray()
    for y in range(height):
        start = (y * 37) % 4096 // 4 * 4 if zero_fourth else (y * 37) % 4099
        out += source[start:start + row_bytes] + b'\xa5' * pad
    return bytes(out)


def table(n, rng):
    return [(rng.randrange(256), rng.randrange(256), rng.randrange(256)) for _ in range(n)]


def rle_encode_row(indexes, four_bits):
    """One row of run-length data (without its end of line)."""
    out = bytearray()
    i, n = 0, len(indexes)
    while i < n:
        run = 1
        while i + run < n and run < 255 and indexes[i + run] == indexes[i]:
            run += 1
        if run >= 3 or n - i < 3:
            v = indexes[i]
            out += bytes((run, v << 4 | v if four_bits else v))
            i += run
            continue
        lit = 3
        while i + lit < n and lit < 254 and not (i + lit + 2 < n and indexes[i + lit] == indexes[i + lit + 1] == indexes[i + lit + 2]):
            lit += 1
        chunk = indexes[i:i + lit]
        if four_bits:
            packed = bytes((chunk[k] << 4 | (chunk[k + 1] if k + 1 < lit else 0)) for k in range(0, lit, 2))
        else:
            packed = bytes(chunk)
        out += bytes((0, lit)) + packed + (b'\0' if len(packed) % 2 else b'')
        i += lit
    return out


def rle_picture(width, height, four_bits):
    """Run-length data of bands and blocks, bottom row first, and the indexes top row first."""
    levels = 16 if four_bits else 256
    rows = []
    for y in range(height):
        band = 9 + y % 13
        rows.append([((x // band) * 7 + y // 40) % levels for x in range(width)])
    data = bytearray()
    for indexes in reversed(rows):
        data += rle_encode_row(indexes, four_bits) + b'\0\0'
    return bytes(data + b'\0\1'), rows


class Corpus:
    def __init__(self, out, quick):
        self.out = out
        self.quick = quick
        self.lines = []
        self.convert = 'convert'

    def path(self, name):
        return os.path.join(self.out, name)

    def add(self, name, data, expect, description, reference=True, tail=0):
        with open(self.path(name + '.bmp'), 'wb') as f:
            f.write(data)
            if tail:
                f.truncate(len(data) + tail)  # sparse: nothing written
        if reference is True:
            reference = self.reference(name, data)
        self.lines.append('\t'.join((name + '.bmp', expect, reference, description)))

    def reference(self, name, data):
        # The reader's input without any tail: the same picture, and a quick read.
        source = self.path(name + '.ref.bmp')
        with open(source, 'wb') as f:
            f.write(data)
        try:
            subprocess.run([self.convert, source, '-depth', '8', 'ppm:' + self.path(name + '.ppm')], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            return name + '.ppm'
        except (OSError, subprocess.CalledProcessError):
            return '- convert failed'
        finally:
            os.remove(source)

    def cut_reference(self, name, base, width, height, bpp, kept, fill, top_down=False):
        """The whole file's reference with the pixels past the first kept bytes of rows as fill."""
        with open(self.path(base + '.ppm'), 'rb') as f:
            blob = f.read()
        # Header: P6, width, height, maximum, then one whitespace byte.
        fields, pos = [], 0
        while len(fields) < 4:
            while blob[pos:pos + 1].isspace():
                pos += 1
            start = pos
            while not blob[pos:pos + 1].isspace():
                pos += 1
            fields.append(blob[start:pos])
        header, pixels = blob[:pos + 1], bytearray(blob[pos + 1:])
        line = stride(width, bpp)
        black = bytes(fill) * width
        for r in range(height):  # file rows, as stored
            y = r if top_down else height - 1 - r
            present = max(0, min(line, kept - r * line))
            at = y * width * 3
            if present >= (width * bpp + 7) // 8:
                continue
            whole = sum(1 for x in range(width) if (x * bpp + bpp - 1) // 8 < present)
            pixels[at + whole * 3:at + width * 3] = black[whole * 3:]
        with open(self.path(name + '.ppm'), 'wb') as f:
            f.write(header + pixels)
        return name + '.ppm'

    def write(self):
        with open(self.path('manifest.tsv'), 'w') as f:
            f.write('file\texpect\treference\tdescription\n')
            f.write('\n'.join(self.lines) + '\n')


def main():
    args = [a for a in sys.argv[1:] if a != '--quick']
    if len(args) != 1:
        sys.exit(__doc__)
    out = args[0]
    os.makedirs(out, exist_ok=True)
    c = Corpus(out, '--quick' in sys.argv[1:])
    rng = random.Random(2026)

    # Every depth, photo-like, about a megapixel (odd widths: rows with padding).
    w, h = 1201, 901
    for bpp in (1, 4, 8):
        t = table(1 << bpp, rng)
        c.add(f'photo-{bpp}bit', bmp_bytes(w, h, bpp, photo_rows(w, h, bpp, rng), table=t), 'loads',
              f'{w} x {h}, {bpp} bits, full colour table')
    t = table(100, rng)
    c.add('photo-8bit-short-table',
          bmp_bytes(w, h, 8, bytes(b % 100 for b in photo_rows(w, h, 8, rng)), table=t), 'loads',
          '8 bits, 100 colours declared')
    c.add('photo-8bit-core-header',
          bmp_bytes(w, h, 8, photo_rows(w, h, 8, rng), table=table(256, rng), core=True), 'loads',
          '8 bits, the older 12-byte header')
    c.add('photo-16bit-555', bmp_bytes(w, h, 16, photo_rows(w, h, 16, rng)), 'loads',
          '16 bits 5-5-5, no masks')
    c.add('photo-16bit-565', bmp_bytes(w, h, 16, photo_rows(w, h, 16, rng), compression=3,
                                       masks=(0xF800, 0x07E0, 0x001F)), 'loads', '16 bits 5-6-5 bit-fields')
    c.add('photo-16bit-444', bmp_bytes(w, h, 16, photo_rows(w, h, 16, rng), compression=3,
                                       masks=(0x0F00, 0x00F0, 0x000F)), 'loads', '16 bits 4-4-4 bit-fields')
    photo24 = photo_rows(w, h, 24, rng)
    c.add('photo-24bit', bmp_bytes(w, h, 24, photo24), 'loads', '24 bits, exact image size')
    c.add('photo-24bit-size-zero', bmp_bytes(w, h, 24, photo24, image_size=0), 'loads',
          "24 bits, the header's image size 0")
    c.add('photo-24bit-size-unpadded', bmp_bytes(w, h, 24, photo24, image_size=w * 3 * h), 'loads',
          "24 bits, the header's image size without the row padding")
    c.add('photo-24bit-top-down', bmp_bytes(w, h, 24, photo24, top_down=True), 'loads',
          '24 bits, rows stored top-down')
    c.add('photo-32bit', bmp_bytes(w, h, 32, photo_rows(w, h, 32, rng, zero_fourth=True)), 'loads',
          '32 bits, no masks')
    c.add('photo-32bit-101010', bmp_bytes(w, h, 32, photo_rows(w, h, 32, rng), compression=3,
                                          masks=(0x3FF00000, 0x000FFC00, 0x000003FF)), 'loads',
          '32 bits, 10-10-10 bit-fields')
    rle8, _ = rle_picture(w, h, False)
    for bits, name in ((8, 'rle8'), (4, 'rle4')):
        data = rle8 if bits == 8 else rle_picture(w, h, True)[0]
        c.add(f'bands-{name}', bmp_bytes(w, h, bits, data, table=table(1 << bits, rng), compression=1 if bits == 8 else 2),
              'loads', f'run-length {bits} bits, bands and blocks')

    # Cut off: the game shows what the file holds, the rest black (or colour 0).
    for base, bpp, fill in (('photo-24bit', 24, (0, 0, 0)), ('photo-1bit', 1, None), ('photo-8bit', 8, None)):
        with open(c.path(base + '.bmp'), 'rb') as f:
            whole = f.read()
        offset = struct.unpack_from('<I', whole, 10)[0]
        if fill is None:  # colour 0 of the file's table
            b, g, r = whole[54:57]
            fill = (r, g, b)
        for percent in (10, 50, 90):
            kept = (len(whole) - offset) * percent // 100
            name = f'{base}-cut-{percent}'
            c.add(name, whole[:offset + kept], 'loads', f'{base} cut off after {percent} % of its rows',
                  reference=c.cut_reference(name, base, w, h, bpp, kept, fill))
    for percent in (10, 50, 90):
        c.add(f'bands-rle8-cut-{percent}', bmp_bytes(w, h, 8, rle8, table=table(256, rng), compression=1)[:1078 + len(rle8) * percent // 100],
              'loads', f'run-length 8 bits cut off after {percent} % of its data', reference='- cut-off run-length data')

    # The files of the issue: under-declared sizes and sparse run-length data.
    w, h = 4001, 2500
    rows = photo_rows(w, h, 24, rng)
    c.add('size-unpadded-4001x2500', bmp_bytes(w, h, 24, rows, image_size=w * 3 * h), 'loads',
          "complete 24 bits, the header's image size without the row padding")
    c.add('size-unpadded-last-pad-missing-4001x2500', bmp_bytes(w, h, 24, rows, image_size=w * 3 * h)[:-1], 'loads',
          "the same, without the last row's padding byte", reference='size-unpadded-4001x2500.ppm')
    sparse = bytes((9, 7, 0, 2, 255, 200, 0, 2, 255, 255, 0, 2, 255, 255, 4, 3, 0, 1))
    c.add('sparse-rle8-4000x3000', bmp_bytes(4000, 3000, 8, sparse, table=table(256, rng), compression=1), 'loads',
          'run-length 8 bits, 4000 x 3000, mostly skipped')
    c.add('photo-24bit-12mp', bmp_bytes(4000, 3000, 24, photo_rows(4000, 3000, 24, rng)), 'loads', '24 bits, 12 megapixels')
    if not c.quick:
        c.add('photo-8bit-48mp', bmp_bytes(8000, 6000, 8, photo_rows(8000, 6000, 8, rng), table=table(256, rng)), 'loads',
              '8 bits, 48 megapixels')
        c.add('photo-1bit-200mp', bmp_bytes(16384, 12208, 1, photo_rows(16384, 12208, 1, rng), table=table(2, rng)),
              'loads', '1 bit, 200 megapixels (200 MB of storage)', reference='- 600 MB: left out')

    # Made up: tiny headers claiming huge pictures, tails, a run-length file of 30000 x 30000.
    c.add('claim-24bit-16384x16384', bmp_bytes(16384, 16384, 24, b'', image_size=0), 'refused',
          '54 bytes claiming 768 MiB of 24-bit pixels', reference='- made up')
    c.add('claim-1bit-65535x65535', bmp_bytes(65535, 65535, 1, b'\xff' * 8, table=[(0, 0, 0), (255, 255, 255)]),
          'refused', 'a 1-bit file claiming 4 GiB of storage', reference='- made up')
    c.add('claim-8bit-20000x20000-1k', bmp_bytes(20000, 20000, 8, rng.randbytes(1024), table=table(256, rng), image_size=0),
          'refused', '1 KB of pixels claiming 400 MB', reference='- made up')
    c.add('claim-rle8-30000x30000-tiny', bmp_bytes(30000, 30000, 8, bytes((255, 1, 0, 1)), table=table(256, rng), compression=1),
          'refused', 'run-length 8 bits claiming 900 MB in 4 bytes of data', reference='- made up')
    c.add('claim-rle4-65535x16000-tiny', bmp_bytes(65535, 16000, 4, bytes((255, 0x12, 0, 1)), table=table(16, rng), compression=2),
          'refused', 'run-length 4 bits claiming 1 GB in 4 bytes of data', reference='- made up')
    rle30k = (bytes((255, 5)) * 14 + b'\0\0') * 30000 + b'\0\1'
    c.add('claim-rle8-30000x30000-900k', bmp_bytes(30000, 30000, 8, rle30k, table=table(256, rng), compression=1),
          'rule', 'run-length 8 bits, 30000 x 30000 in 900 KB (its data pays for it)', reference='- made up')
    small = bmp_bytes(100, 100, 24, photo_rows(100, 100, 24, rng))
    c.add('tail-zeros-100x100', small, 'loads', '100 x 100, 24 bits, followed by 1.9 GB of zeros (sparse)',
          tail=1900 << 20)
    data, _ = rle_picture(100, 100, False)
    c.add('tail-zeros-rle8-100x100', bmp_bytes(100, 100, 8, data, table=table(256, rng), compression=1, image_size=0),
          'loads', 'run-length 100 x 100, image size 0, followed by 1.9 GB of zeros (sparse)', tail=1900 << 20)
    c.write()


if __name__ == '__main__':
    main()
