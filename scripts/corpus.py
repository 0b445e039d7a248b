#!/usr/bin/env python3
"""Builds a corpus of picture files and runs each through the game's load and the pane's.

    scripts/corpus.py OUTDIR [--quick | --sizes WxH,...] [--probe PATH] [--keep]

OUTDIR (never committed) receives the files: JPEGs written by the stock cjpeg (baseline,
progressive, arithmetic-coded, restart markers, optimised tables, 4:2:0, 4:2:2, 4:4:4, greyscale;
photo-like and flat content; 12 to 200 megapixels, each also cut at 10, 50 and 90 %), the
made-up files (headers claiming huge sizes, many scans, long marker runs, huge comments, tails
of zeros, sparse where large), and the bitmaps of scripts/corpus_bitmaps.py when it is there
(`corpus_bitmaps.py DIR` writes .bmp files, each with a reference NAME.ppm beside it, or none
when the file is to be refused).

Each file is loaded in a process of its own by the load probe (bench/load_probe.cpp, target
mozario_load_probe), through the game's road and the pane's; the table of outcomes, times and
peak resident sizes goes to stdout and OUTDIR/results.md. A picture the game loads is compared
with the reference decode (djpeg -dct float, with -colors 236 for greyscale files). --quick keeps
to the 12-megapixel files and the made-up ones; --sizes to the JPEGs of the sizes given (so that
a long run can be split between processes). Big files are removed once measured, unless
--keep.
"""

import argparse
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# (name, cjpeg options): every kind of coding the corpus covers.
CODINGS = [
    ("baseline", []),
    ("progressive", ["-progressive"]),
    ("arithmetic", ["-arithmetic"]),
    ("restart", ["-restart", "1"]),
    ("optimised", ["-optimize"]),
    ("s420", ["-sample", "2x2"]),
    ("s422", ["-sample", "2x1"]),
    ("s444", ["-sample", "1x1"]),
    ("progressive444", ["-progressive", "-sample", "1x1"]),
    ("grey", ["-grayscale"]),
    ("greyprogressive", ["-grayscale", "-progressive"]),
]
SIZES = [(4000, 3000), (6000, 4000), (8000, 6000), (10000, 8000), (14000, 10000), (16000, 12500)]
QUICK_SIZES = [(4000, 3000)]
CUTS = [10, 50, 90]
GIGA_TAIL = 1900 * 1000 * 1000


def photo_tile(size=509, seed=1):
    """Photo-like samples: gradients, a coarse pattern and noise (as the tests' generator)."""
    out = bytearray(size * size * 3)
    state = seed
    at = 0
    for y in range(size):
        for x in range(size):
            for c in range(3):
                state = (state * 1103515245 + 12345) & 0xFFFFFFFF
                noise = (state >> 16) % 31 - 15
                gradient = x * 255 // size if c == 0 else y * 255 // size if c == 1 else (x + y) * 255 // (2 * size)
                pattern = ((x // 9 + y // 7) % 3) * 25
                out[at] = max(0, min(255, gradient // 2 + pattern + 60 + noise))
                at += 1
    return bytes(out), size


def write_source(stream, width, height, content, tile):
    """A PPM of the given content, row by row, to a stream."""
    stream.write(b"P6\n%d %d\n255\n" % (width, height))
    if content == "flat":
        for y in range(height):
            shade = 96 + 64 * y // height
            stream.write(bytes((shade, 140, 200 - shade // 2)) * width)
        return
    data, size = tile
    row_bytes = size * 3
    for y in range(height):
        parts = []
        for tx in range((width + size - 1) // size):
            ty = (y + 37 * tx) % size
            parts.append(data[ty * row_bytes:(ty + 1) * row_bytes])
        stream.write(b"".join(parts)[:width * 3])


def cjpeg(path, width, height, content, options, tile):
    with open(path, "wb") as out:
        proc = subprocess.Popen(["cjpeg"] + options, stdin=subprocess.PIPE, stdout=out)
        write_source(proc.stdin, width, height, content, tile)
        proc.stdin.close()
        if proc.wait() != 0:
            raise RuntimeError("cjpeg failed for " + path)


def scan_data_start(data):
    """Offset of the first scan's entropy-coded data."""
    sos = data.index(b"\xff\xda")
    return sos + 2 + struct.unpack(">H", data[sos + 2:sos + 4])[0]


def patch_size(data, width, height):
    pos = 2
    while data[pos] == 0xFF:
        kind = data[pos + 1]
        if kind in (0xC0, 0xC1, 0xC2, 0xC9, 0xCA):
            return data[:pos + 5] + struct.pack(">HH", height, width) + data[pos + 9:]
        pos += 2 + struct.unpack(">H", data[pos + 2:pos + 4])[0]
    raise RuntimeError("no frame header")


def sparse_tail(path, head, tail):
    """head followed by `tail` zero bytes that take no disk space."""
    with open(path, "wb") as out:
        out.write(head)
    os.truncate(path, len(head) + tail)


def made_up(outdir, tile):
    """The made-up and oversized files; returns their paths."""
    files = []
    small = os.path.join(outdir, "small.jpg")
    cjpeg(small, 64, 48, "photo", [], tile)
    small_bytes = open(small, "rb").read()
    progressive = os.path.join(outdir, "small-progressive.jpg")
    cjpeg(progressive, 64, 48, "photo", ["-progressive"], tile)
    progressive_bytes = open(progressive, "rb").read()
    os.remove(small)
    os.remove(progressive)

    def add(name, data):
        path = os.path.join(outdir, "madeup-" + name)
        with open(path, "wb") as out:
            out.write(data)
        files.append(path)

    for w, h in [(20000, 20000), (22000, 18000), (65500, 65500), (65535, 100), (63000, 129)]:
        add("claim-%dx%d.jpg" % (w, h), patch_size(small_bytes, w, h))
        add("claim-progressive-%dx%d.jpg" % (w, h), patch_size(progressive_bytes, w, h))
    # A claim of 18000 x 18000 whose scan holds 400 KB of zero bits: a flat picture cut early.
    claim = patch_size(small_bytes, 18000, 18000)
    start = scan_data_start(claim)
    add("claim-18000-zero-scan.jpg", claim[:start] + bytes(400000) + claim[start:])
    # Many scans: every scan sent again and again.
    first = progressive_bytes.index(b"\xff\xda")
    end = progressive_bytes.rindex(b"\xff\xd9")
    scans = progressive_bytes[first:end]
    add("many-scans-4096x2048.jpg", patch_size(progressive_bytes[:first], 4096, 2048) + scans * 300 + b"\xff\xd9")
    # A long run of fill bytes before a marker, and huge comments.
    add("marker-run.jpg", small_bytes[:2] + b"\xff" * 20000000 + small_bytes[2:])
    comment = b"\xff\xfe\xff\xff" + b"c" * 65533
    add("huge-comments.jpg", small_bytes[:2] + comment * 1500 + small_bytes[2:])
    # A valid picture followed by a long tail (camera motion photos carry a video there), and a
    # scan that runs on as zeros.
    medium = os.path.join(outdir, "madeup-2896.jpg")
    cjpeg(medium, 2896, 2896, "photo", [], tile)
    medium_bytes = open(medium, "rb").read()
    os.remove(medium)
    path = os.path.join(outdir, "madeup-2896-giga-tail.jpg")
    sparse_tail(path, medium_bytes, GIGA_TAIL)
    files.append(path)
    path = os.path.join(outdir, "madeup-2896-scan-runs-on.jpg")
    sparse_tail(path, medium_bytes[:-2], GIGA_TAIL)
    files.append(path)
    # 6000 x 4000 cut 20 KB into its scan data.
    photo = os.path.join(outdir, "madeup-6000x4000.jpg")
    cjpeg(photo, 6000, 4000, "photo", [], tile)
    photo_bytes = open(photo, "rb").read()
    os.remove(photo)
    add("6000x4000-cut-20k-into-scan.jpg", photo_bytes[:scan_data_start(photo_bytes) + 20000])
    return files


def probe(tool, road, path, ppm=None):
    command = [tool, road, path] + (["--ppm", ppm] if ppm else [])
    out = subprocess.run(command, capture_output=True, text=True, timeout=600)
    line = out.stdout.strip()
    if out.returncode != 0 or not line:
        return "probe failed: " + out.stderr.strip(), "", "", ""
    rest = line.split(" ", 1)[1]
    outcome, seconds, cpu, peak = rest.rsplit(" ", 3)
    return outcome, seconds, cpu, peak


def read_pnm(path):
    """(width, height, channels, offset of the samples) of a binary PNM."""
    with open(path, "rb") as f:
        head = f.read(64)
    fields = head.split(maxsplit=4)
    channels = 3 if fields[0] == b"P6" else 1
    offset = len(head) - len(fields[4]) if len(fields) == 5 else len(head)
    return int(fields[1]), int(fields[2]), channels, offset


def same_pixels(ppm, reference):
    """Whether the probe's PPM holds the reference's pixels (a PGM's greys as colours)."""
    w, h, _, off = read_pnm(ppm)
    rw, rh, channels, roff = read_pnm(reference)
    if (w, h) != (rw, rh):
        return False
    chunk = 1 << 20
    with open(ppm, "rb") as a, open(reference, "rb") as b:
        a.seek(off)
        b.seek(roff)
        while True:
            want = b.read(chunk)
            if not want:
                return not a.read(1)
            if channels == 1:
                got = a.read(3 * len(want))
                if any(got[i::3] != want for i in range(3)):
                    return False
            elif a.read(len(want)) != want:
                return False


def reference_decode(path, grey, reference):
    options = ["-colors", "236"] if grey else []
    with open(reference, "wb") as out:
        code = subprocess.run(["djpeg", "-dct", "float", "-pnm"] + options + [path], stdout=out,
                              stderr=subprocess.DEVNULL).returncode
    return code in (0, 2)  # 2: decoded with warnings (a cut-off file)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("outdir")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--probe", default=os.path.join(HERE, "..", "build", "bench", "mozario_load_probe"))
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("--sizes", help="only the JPEGs of these sizes, as 8000x6000,16000x12500")
    args = parser.parse_args()
    sizes = QUICK_SIZES if args.quick else SIZES
    if args.sizes:
        sizes = [tuple(int(n) for n in size.split("x")) for size in args.sizes.split(",")]
    os.makedirs(args.outdir, exist_ok=True)
    tile = photo_tile()

    entries = []  # (path, compare with a reference, greyscale)
    for width, height in sizes:
        for content in ("photo", "flat"):
            for name, options in CODINGS:
                path = os.path.join(args.outdir, "%s-%s-%dx%d.jpg" % (content, name, width, height))
                if not os.path.exists(path):
                    cjpeg(path, width, height, content, options, tile)
                grey = name.startswith("grey")
                entries.append((path, True, grey))
                data = open(path, "rb").read()
                for percent in CUTS:
                    cut = path[:-4] + "-cut%d.jpg" % percent
                    with open(cut, "wb") as out:
                        out.write(data[:len(data) * percent // 100])
                    entries.append((cut, True, grey))
    for path in [] if args.sizes else made_up(args.outdir, tile):
        entries.append((path, False, False))
    bitmaps = os.path.join(HERE, "corpus_bitmaps.py")
    if os.path.exists(bitmaps) and not args.sizes:
        bmpdir = os.path.join(args.outdir, "bitmaps")
        subprocess.run([sys.executable, bitmaps, bmpdir], check=True)
        for name in sorted(os.listdir(bmpdir)):
            if name.endswith(".bmp"):
                entries.append((os.path.join(bmpdir, name), "bitmap", False))

    rows = ["| file | MB | road | outcome | s | CPU s | peak MB | board = reference |",
            "|---|---|---|---|---|---|---|---|"]
    for path, compare, grey in entries:
        size = os.path.getsize(path) / 1e6
        ppm = path + ".probe.ppm"
        for road in ("game", "pane"):
            outcome, seconds, cpu, peak = probe(args.probe, road, path, ppm if road == "game" else None)
            verdict = ""
            if road == "game" and os.path.exists(ppm):
                reference = path + ".reference.pnm"
                if compare == "bitmap":
                    given = path[:-4] + ".ppm"
                    verdict = ("yes" if same_pixels(ppm, given) else "NO") if os.path.exists(given) else ""
                elif compare and reference_decode(path, grey, reference):
                    verdict = "yes" if same_pixels(ppm, reference) else "NO"
                if os.path.exists(reference):
                    os.remove(reference)
                os.remove(ppm)
            row = "| %s | %.1f | %s | %s | %s | %s | %s | %s |" % (os.path.basename(path), size, road, outcome,
                                                                seconds, cpu, peak, verdict)
            rows.append(row)
            print(row, flush=True)
        if not args.keep and size > 50 and not path.endswith(".bmp"):
            os.remove(path)
    with open(os.path.join(args.outdir, "results.md"), "w") as out:
        out.write("\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
