#!/usr/bin/env python3
"""Draws the built-in picture (a 480 x 360 24-bit bitmap) and the program's icons.

The picture is a lakeside landscape with detail everywhere, so that a misplaced piece shows
even at 81 pieces. Run it to regenerate the files next to it; the output is deterministic.
"""
import math
import os
import struct
import zlib

W, H = 480, 360
HERE = os.path.dirname(os.path.abspath(__file__))


class Lcg:
    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state * 1103515245 + 12345) & 0x7FFFFFFF
        return self.state / 0x7FFFFFFF


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def ridge(x, base, parts):
    return base + sum(amp * math.sin(x * freq + phase) for amp, freq, phase in parts)


def landscape():
    rnd = Lcg(20261207)
    px = [[(0.0, 0.0, 0.0)] * W for _ in range(H)]
    horizon = 228
    sun = (372, 84, 30)
    clouds = [(70, 52, 58, 16), (170, 34, 44, 11), (260, 70, 64, 14), (430, 40, 40, 10), (30, 120, 36, 9)]
    far = [(18, 0.021, 0.3), (9, 0.057, 1.7), (4, 0.13, 0.2)]
    near = [(22, 0.012, 2.1), (10, 0.041, 0.4), (5, 0.097, 1.1)]
    for y in range(H):
        for x in range(W):
            # Sky: night blue at the top to warm orange at the horizon, with a sun and clouds.
            t = y / horizon
            c = mix((22, 40, 110), (250, 170, 90), t ** 1.4)
            # A slow tint across the sky, so pieces of plain sky differ from their neighbours.
            c = mix(c, (120, 40, 140) if x < W / 2 else (20, 130, 140), 0.35 * abs(x - W / 2) / (W / 2) * (1 - t))
            dx, dy = x - sun[0], y - sun[1]
            d = math.hypot(dx, dy)
            if d < sun[2]:
                c = mix((255, 250, 200), (255, 210, 90), d / sun[2])
            else:
                c = mix(c, (255, 230, 150), 0.55 * math.exp(-(d - sun[2]) / 40))
            for cx, cy, rx, ry in clouds:
                e = ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2
                if e < 1:
                    c = mix(c, (250, 245, 255), 0.85 * (1 - e) ** 0.5)
            far_top = ridge(x, 150, far)
            near_top = ridge(x, 190, near)
            if y >= far_top and y < horizon:
                snow = y < far_top + 8 and far_top < 142
                c = (235, 235, 245) if snow else mix((110, 90, 150), (70, 80, 120), (y - far_top) / 60)
                c = mix(c, (40, 40, 70), 0.3 * (0.5 + 0.5 * math.sin(x * 0.3 + y * 0.15)))
            if y >= near_top and y < horizon:
                c = mix((40, 110, 60), (20, 70, 40), (y - near_top) / 40)
                c = mix(c, (90, 150, 70), 0.25 * (0.5 + 0.5 * math.sin(x * 0.7) * math.cos(y * 0.5)))
            if horizon <= y < 292:
                # The lake mirrors the sky and hills, with ripples.
                my = 2 * horizon - y - 1
                ripple = int(3 * math.sin(y * 0.9 + x * 0.05))
                sx = min(W - 1, max(0, x + ripple))
                mc = px[my][sx] if my >= 0 else c
                c = mix(mix(mc, (30, 70, 120), 0.35 + (y - horizon) / 160), (255, 255, 255),
                        0.25 if (y + x // 7) % 11 == 0 else 0.0)
            if y >= 292:
                # Meadow, lighter at the back, with scattered flowers.
                c = mix((110, 170, 60), (40, 110, 30), (y - 292) / 68)
                c = mix(c, (70, 130, 40), 0.4 * (0.5 + 0.5 * math.sin(x * 1.3 + y * 0.8)))
            px[y][x] = c
    # Stars in the upper sky.
    for i in range(160):
        sx, sy = int(rnd.next() * W), int(rnd.next() * 110)
        b = 0.4 + 0.6 * rnd.next()
        if math.hypot(sx - sun[0], sy - sun[1]) > 60:
            px[sy][sx] = mix(px[sy][sx], (255, 255, 240), b)
            if b > 0.85:
                for ox, oy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                    if 0 <= sx + ox < W and 0 <= sy + oy < H:
                        px[sy + oy][sx + ox] = mix(px[sy + oy][sx + ox], (255, 255, 240), 0.5)
    # Trees along the shore.
    for i in range(14):
        tx = 12 + i * 34 + int(rnd.next() * 14)
        th = 26 + int(rnd.next() * 22)
        base = 228
        for y in range(base - th, base):
            half = (y - (base - th)) * 0.32 + 1
            for x in range(int(tx - half), int(tx + half) + 1):
                if 0 <= x < W:
                    shade = 0.5 + 0.5 * math.sin(y * 0.8 + x)
                    px[y][x] = mix((20, 80, 40), (40, 120, 50), shade)
        for y in range(base, base + 4):
            for x in range(tx - 1, tx + 2):
                if 0 <= x < W:
                    px[y][x] = (90, 60, 30)
    # Flowers of many colours, larger towards the front.
    palette = [(240, 60, 70), (250, 220, 60), (250, 250, 250), (180, 90, 220), (255, 140, 40), (90, 160, 250)]
    for i in range(900):
        fx = int(rnd.next() * W)
        fy = 294 + int(rnd.next() * 66)
        r = 1 + (fy - 290) // 22
        col = palette[int(rnd.next() * len(palette))]
        for y in range(fy - r, fy + r + 1):
            for x in range(fx - r, fx + r + 1):
                if 0 <= x < W and 0 <= y < H and (x - fx) ** 2 + (y - fy) ** 2 <= r * r:
                    px[y][x] = col
    # A sailing boat on the lake.
    for y in range(236, 262):
        for x in range(200, 240):
            if y < 256 and x >= 220 and x - 220 < (y - 236) * 0.9:
                px[y][x] = (245, 245, 235)
            if 256 <= y < 262 and 204 + (y - 256) <= x <= 238 - (y - 256):
                px[y][x] = (150, 50, 40)
    return [[tuple(int(round(v)) for v in p) for p in row] for row in px]


def write_bmp(path, pixels):
    row_bytes = W * 3
    data = bytearray()
    for y in range(H - 1, -1, -1):
        for r, g, b in pixels[y]:
            data += bytes((b, g, r))
    header = b"BM" + struct.pack("<IHHI", 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, row_bytes * H, 0, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)


def write_png_16(path, size, indices, colours):
    """A palette PNG of 4 bits per pixel: the 16-colour icon."""
    raw = bytearray()
    for y in range(size):
        raw.append(0)
        row = indices[y]
        for x in range(0, size, 2):
            raw.append((row[x] << 4) | row[x + 1])
    plte = b"".join(bytes(c) for c in colours)
    png = b"\x89PNG\r\n\x1a\n"
    png += png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0))
    png += png_chunk(b"PLTE", plte)
    png += png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += png_chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


# The icon: a 2 x 2 puzzle of the landscape, one piece lifted out with a red frame.
ICON_COLOURS = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
                (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
                (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def icon_indices(size):
    s = size / 32.0
    grid = []
    for y in range(size):
        row = []
        for x in range(size):
            u, v = x / s, y / s
            if v < 14:
                i = 12 if v < 7 else 14
                if (u - 23) ** 2 + (v - 7) ** 2 < 16:
                    i = 11
            elif v < 20:
                i = 2 if (u * 0.6 + v) % 6 < 4 else 10
            elif v < 25:
                i = 4 if (u + v) % 4 < 2 else 12
            else:
                i = 10 if (u * 3 + v * 5) % 7 else 13
            if abs(u - 15.5) < 0.6 or abs(v - 15.5) < 0.6:
                i = 0
            if 16 <= u < 32 and 0 <= v < 16 and (u < 18 or u >= 30 or v < 2 or v >= 14):
                i = 9
            if u < 1 or v < 1 or u >= 31 or v >= 31:
                i = 0
            row.append(i)
        grid.append(row)
    return grid


# The menu icon, for today's desktops: the landscape cut into 3 x 3 pieces on a photo card,
# two of them exchanged (red and blue frames, as in the game) with a curved double arrow.
# One list of shapes gives both the SVG and the 256 px PNG, so the two cannot drift apart.
CARD = (12, 12, 232, 232, 26)
CELL, GAP, ORIGIN = 64, 8, 24
SWAPPED = (2, 5)


def rounded_rect(x, y, w, h, r, steps=8):
    points = []
    for cx, cy, start in ((x + w - r, y + r, -90), (x + w - r, y + h - r, 0),
                          (x + r, y + h - r, 90), (x + r, y + r, 180)):
        for i in range(steps + 1):
            a = math.radians(start + 90 * i / steps)
            points.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return points


def frame(x, y, size, width):
    """A square outline as one even-odd polygon: the outer edge, then the inner edge."""
    outer = [(x, y), (x + size, y), (x + size, y + size), (x, y + size)]
    inner = [(x + width, y + width), (x + width, y + size - width),
             (x + size - width, y + size - width), (x + size - width, y + width)]
    return outer + [outer[0]] + inner + [inner[0]]


def arrow(cx, cy, r, a0, a1, width, head):
    """An arc around (cx, cy) from angle a0 to a1 (degrees, clockwise on screen) with an
    arrowhead at a1."""
    def at(a, rr):
        return (cx + rr * math.cos(math.radians(a)), cy + rr * math.sin(math.radians(a)))
    steps = 12
    outer = [at(a0 + (a1 - a0) * i / steps, r + width / 2) for i in range(steps + 1)]
    inner = [at(a0 + (a1 - a0) * i / steps, r - width / 2) for i in range(steps + 1)]
    tip = at(a1 + math.copysign(math.degrees(head * 0.9 / r), a1 - a0), r)
    return outer + [at(a1, r + head / 2), tip, at(a1, r - head / 2)] + inner[::-1]


# Landscape shapes in picture coordinates (0..208 square), back to front.
LAND_SIZE = 3 * CELL + 2 * GAP
SKY = ((38, 92, 190), (255, 184, 108))
LANDSCAPE = [
    ("circle", (158, 52, 24), (255, 236, 120)),
    ("poly", [(0, 118), (34, 70), (62, 96), (104, 40), (150, 104), (178, 82), (208, 110), (208, 208), (0, 208)],
     (92, 84, 150)),
    ("poly", [(104, 40), (120, 62), (110, 58), (100, 66), (92, 56)], (240, 242, 250)),
    ("poly", [(0, 140), (50, 118), (110, 136), (160, 120), (208, 134), (208, 208), (0, 208)], (58, 150, 72)),
    ("poly", [(0, 168), (208, 168), (208, 208), (0, 208)], (46, 112, 190)),
    ("poly", [(60, 150), (84, 186), (60, 186)], (250, 250, 245)),
    ("poly", [(44, 190), (92, 190), (86, 198), (50, 198)], (170, 60, 50)),
]


def cell_origin(k):
    return ORIGIN + (k % 3) * (CELL + GAP), ORIGIN + (k // 3) * (CELL + GAP)


def shown_piece(k):
    a, b = SWAPPED
    return b if k == a else a if k == b else k


def icon_overlays():
    """What lies over the pieces: the two frames, and the two arrows with their shadows."""
    (ax, ay), (bx, by) = cell_origin(SWAPPED[0]), cell_origin(SWAPPED[1])
    # Between the two pieces, one arc down the right and one up the left.
    cx, cy = (ax + bx + CELL) / 2, (ay + by + CELL) / 2
    arcs = [arrow(cx, cy, 32, -60, 40, 12, 28), arrow(cx, cy, 32, 120, 220, 12, 28)]
    shapes = [("poly", frame(ax - 3, ay - 3, CELL + 6, 9), (230, 30, 40)),
              ("poly", frame(bx - 3, by - 3, CELL + 6, 9), (30, 80, 235))]
    for arc in arcs:
        shapes += [("poly", [(x + 2, y + 3) for x, y in arc], (20, 20, 40), 0.5),
                   ("poly", arc, (255, 255, 255))]
    return shapes


def inside_polygon(points, x, y):
    inside = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def inside_shape(shape, x, y):
    if shape[0] == "circle":
        cx, cy, r = shape[1]
        return (x - cx) ** 2 + (y - cy) ** 2 < r * r
    return inside_polygon(shape[1], x, y)


CARD_OUTLINE = rounded_rect(*CARD)
CARD_SHADOW = [(x + 2, y + 5) for x, y in CARD_OUTLINE]
CARD_COLOUR, SHADOW_COLOUR, SHADOW_ALPHA = (246, 243, 236), (20, 20, 40), 0.35
OVERLAYS = icon_overlays()


def icon_colour(x, y):
    """The icon's colour (r, g, b, a) at a point of the 256 x 256 canvas."""
    colour, alpha = (0, 0, 0), 0.0
    if inside_polygon(CARD_SHADOW, x, y):
        colour, alpha = SHADOW_COLOUR, SHADOW_ALPHA
    if inside_polygon(CARD_OUTLINE, x, y):
        colour, alpha = CARD_COLOUR, 1.0
    for k in range(9):
        cx, cy = cell_origin(k)
        if not (cx <= x < cx + CELL and cy <= y < cy + CELL):
            continue
        sx, sy = cell_origin(shown_piece(k))
        lx, ly = x - cx + sx - ORIGIN, y - cy + sy - ORIGIN
        colour = mix(SKY[0], SKY[1], ly / 150)
        for shape in LANDSCAPE:
            if inside_shape(shape, lx, ly):
                colour = shape[2]
    for shape in OVERLAYS:
        if inside_shape(shape, x, y):
            a = shape[3] if len(shape) > 3 else 1.0
            colour = mix(colour, shape[2], a) if alpha else shape[2]
            alpha = max(alpha, a)
    return colour + (alpha,)


def rasterise(size, colour_at, samples):
    """size x size pixels of colour_at(x, y) (r, g, b, a in pixel units), each pixel the mean of
    samples x samples points."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    r, g, b, a = colour_at(px + (sx + 0.5) / samples, py + (sy + 0.5) / samples)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = samples * samples
            a = acc[3] / n
            rgb = [int(round(c / acc[3])) if acc[3] else 0 for c in acc[:3]]
            row.append(tuple(rgb) + (int(round(a * 255)),))
        rows.append(row)
    return rows


def render_icon(size, samples=4):
    """The icon at size x size pixels, drawn at 256 and scaled."""
    scale = 256 / size
    return rasterise(size, lambda x, y: icon_colour(x * scale, y * scale), samples)


def write_png_rgba(path, rows):
    size = len(rows)
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for pixel in row:
            raw += bytes(pixel)
    png = b"\x89PNG\r\n\x1a\n"
    png += png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += png_chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def svg_points(points):
    return " ".join(f"{x:.2f},{y:.2f}".replace(".00", "") for x, y in points)


def svg_fill(colour):
    return "#%02x%02x%02x" % colour


def svg_shape(shape, extra=""):
    if shape[0] == "circle":
        cx, cy, r = shape[1]
        return f'<circle cx="{cx}" cy="{cy}" r="{r}" fill="{svg_fill(shape[2])}"{extra}/>'
    return f'<polygon points="{svg_points(shape[1])}" fill="{svg_fill(shape[2])}"{extra}/>'


def write_svg(path):
    """The same icon as a scalable picture."""
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink"'
           ' width="256" height="256" viewBox="0 0 256 256">',
           "  <defs>",
           f'    <linearGradient id="sky" gradientUnits="userSpaceOnUse" x1="0" y1="0" x2="0" y2="150">'
           f'<stop offset="0" stop-color="{svg_fill(SKY[0])}"/>'
           f'<stop offset="1" stop-color="{svg_fill(SKY[1])}"/></linearGradient>',
           '    <g id="picture">',
           f'      <rect width="{LAND_SIZE}" height="{LAND_SIZE}" fill="url(#sky)"/>']
    out += ["      " + svg_shape(shape) for shape in LANDSCAPE]
    out += ["    </g>"]
    for k in range(9):
        x, y = cell_origin(k)
        out.append(f'    <clipPath id="cell{k}"><rect x="{x}" y="{y}" width="{CELL}" height="{CELL}"/></clipPath>')
    out.append("  </defs>")
    out.append(f'  <polygon points="{svg_points(CARD_SHADOW)}" fill="{svg_fill(SHADOW_COLOUR)}"'
               f' fill-opacity="{SHADOW_ALPHA}"/>')
    out.append(f'  <polygon points="{svg_points(CARD_OUTLINE)}" fill="{svg_fill(CARD_COLOUR)}"/>')
    for k in range(9):
        x, y = cell_origin(k)
        sx, sy = cell_origin(shown_piece(k))
        out.append(f'  <g clip-path="url(#cell{k})"><use xlink:href="#picture"'
                   f' transform="translate({x - sx + ORIGIN} {y - sy + ORIGIN})"/></g>')
    for shape in OVERLAYS:
        extra = ' fill-rule="evenodd"'
        if len(shape) > 3:
            extra += f' fill-opacity="{shape[3]}"'
        out.append("  " + svg_shape(shape, extra))
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


# The menu icon at the small sizes of the icon theme, drawn for its size rather than scaled
# down: 2 x 2 pieces instead of 3 x 3, a dark edge that holds on a light panel and a light card
# that holds on a dark one, solid frames and no arrows. Sizes are whole pixels, so edges stay
# sharp. Per size: the edge, the card's margin around the pieces, the gap between pieces, the
# frames' width and the corner's radius.
SMALL_ICONS = {16: (1, 0, 1, 1, 0), 24: (1, 1, 1, 2, 2), 32: (1, 1, 2, 2, 3), 48: (2, 2, 2, 3, 5)}
SMALL_EDGE = (44, 48, 66)
SMALL_PICTURE = [
    ("circle", (0.74, 0.26, 0.13), (255, 226, 96)),
    ("poly", [(0, 0.66), (0.3, 0.22), (0.52, 0.48), (0.74, 0.36), (1, 0.6), (1, 1), (0, 1)], (96, 80, 160)),
    ("poly", [(0, 0.64), (1, 0.6), (1, 1), (0, 1)], (58, 150, 72)),
    ("poly", [(0, 0.8), (1, 0.8), (1, 1), (0, 1)], (40, 104, 200)),
]
SMALL_SWAPPED = (1, 3)  # the right-hand pieces, exchanged and framed red and blue


def small_cells(size):
    """The left/top edge and width of the two columns (and rows) of pieces."""
    edge, margin, gap = SMALL_ICONS[size][:3]
    inner = size - 2 * (edge + margin) - gap
    first = inner // 2
    start = edge + margin
    return [(start, first), (start + first + gap, inner - first)]


def small_icon_colour(size, x, y):
    edge, _, _, frame_width, radius = SMALL_ICONS[size]
    # Rounded corners: outside the corner circle is transparent.
    cx, cy = min(max(x, radius), size - radius), min(max(y, radius), size - radius)
    d = math.hypot(x - cx, y - cy)
    if d > radius:
        return (0, 0, 0, 0.0)
    if (radius and d > radius - edge) or not (edge <= x < size - edge and edge <= y < size - edge):
        return SMALL_EDGE + (1.0,)
    cells = small_cells(size)
    for k in range(4):
        (left, width), (top, height) = cells[k % 2], cells[k // 2]
        if not (left <= x < left + width and top <= y < top + height):
            continue
        if k in SMALL_SWAPPED:
            colour = (230, 30, 40) if k == SMALL_SWAPPED[0] else (30, 80, 235)
            if min(x - left, y - top, left + width - x, top + height - y) < frame_width:
                return colour + (1.0,)
        a, b = SMALL_SWAPPED
        piece = b if k == a else a if k == b else k
        u = (piece % 2 + (x - left) / width) / 2
        v = (piece // 2 + (y - top) / height) / 2
        colour = mix(SKY[0], SKY[1], v / 0.66)
        for shape in SMALL_PICTURE:
            if shape[0] == "circle":
                scx, scy, r = shape[1]
                inside = (u - scx) ** 2 + (v - scy) ** 2 < r * r
            else:
                inside = inside_polygon(shape[1], u, v)
            if inside:
                colour = shape[2]
        return colour + (1.0,)
    return CARD_COLOUR + (1.0,)


def render_small_icon(size, samples=8):
    return rasterise(size, lambda x, y: small_icon_colour(size, x, y), samples)


if __name__ == "__main__":
    write_bmp(os.path.join(HERE, "builtin.bmp"), landscape())
    write_png_16(os.path.join(HERE, "mozario-32.png"), 32, icon_indices(32), ICON_COLOURS)
    write_png_rgba(os.path.join(HERE, "mozario-256.png"), render_icon(256))
    write_svg(os.path.join(HERE, "mozario.svg"))
    for size in SMALL_ICONS:
        write_png_rgba(os.path.join(HERE, f"mozario-menu-{size}.png"), render_small_icon(size))
