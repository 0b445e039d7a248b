#!/usr/bin/env python3
"""Draws the built-in picture (a 480 x 360 24-bit bitmap) and the program's icons.

The picture is a lakeside landscape with detail everywhere, so that a misplaced piece shows
even at 81 pieces. Run it with Python 3 (Debian's python3; nothing beyond its standard library)
to regenerate the files next to it; the output is deterministic.
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


def write_png_16(path, indices, colours):
    """A palette PNG of 4 bits per pixel: the 16-colour icon. Colours are (r, g, b, a); the
    alphas go to the transparency chunk."""
    size = len(indices)
    raw = bytearray()
    for row in indices:
        raw.append(0)
        for x in range(0, size, 2):
            raw.append((row[x] << 4) | row[x + 1])
    alphas = bytes(c[3] for c in colours).rstrip(b"\xff")
    png = b"\x89PNG\r\n\x1a\n"
    png += png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0))
    png += png_chunk(b"PLTE", b"".join(bytes(c[:3]) for c in colours))
    if alphas:
        png += png_chunk(b"tRNS", alphas)
    png += png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += png_chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


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


# The icon, one picture at every size: a landscape like the built-in one cut into 2 x 2 pieces
# on a light card, the two right-hand pieces exchanged and framed red and blue as in the game.
# The card's edge is a mid tone that stands out from white and from a dark panel alike, and at
# 24 px and up a line of the light card runs inside it. The scalable icon and its 256 px
# rendering add a snow cap, a boat, the card's shadow and a curved double arrow between the two
# pieces; the small sizes are drawn for their size in whole pixels, and the window's 32 x 32
# icon is the 32 px one in 16 colours.
EDGE, CARD_COLOUR = (118, 126, 150), (246, 243, 236)
FIRST_FRAME, SECOND_FRAME = (230, 30, 40), (30, 80, 235)
SWAPPED = (1, 3)  # piece numbers, row-major from the top left

# The landscape in picture units (0 to 1 across and down): a sky from blue at the top to orange
# at SKY_DEPTH, then shapes back to front, each with the smallest icon size that draws it.
SKY, SKY_DEPTH = ((38, 92, 190), (255, 184, 108)), 0.6
SCENE = [
    ("circle", (0.74, 0.26, 0.11), (255, 228, 100), 0),
    ("poly", [(0, 0.58), (0.27, 0.16), (0.4, 0.3), (0.5, 0.25), (0.7, 0.46), (0.85, 0.4), (1, 0.52), (1, 1),
              (0, 1)], (92, 84, 150), 0),
    ("poly", [(0.27, 0.16), (0.354, 0.25), (0.31, 0.23), (0.27, 0.27), (0.215, 0.245)], (240, 242, 250), 64),
    ("poly", [(0, 0.66), (0.25, 0.58), (0.55, 0.66), (0.8, 0.58), (1, 0.64), (1, 1), (0, 1)], (58, 150, 72), 0),
    ("poly", [(0, 0.78), (1, 0.78), (1, 1), (0, 1)], (46, 112, 190), 0),
    ("poly", [(0.32, 0.62), (0.4, 0.85), (0.32, 0.85)], (250, 250, 245), 64),
    ("poly", [(0.24, 0.86), (0.44, 0.86), (0.41, 0.91), (0.27, 0.91)], (170, 60, 50), 64),
]


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


def sky_colour(v):
    return mix(SKY[0], SKY[1], v / SKY_DEPTH)


def scene_colour(u, v, size, sky=sky_colour):
    """The landscape's colour at (u, v) in picture units, with the details of an icon of size px."""
    colour = sky(v)
    for shape in SCENE:
        if shape[3] <= size and inside_shape(shape, u, v):
            colour = shape[2]
    return colour


def shown_piece(k):
    """The piece that cell k shows."""
    a, b = SWAPPED
    return b if k == a else a if k == b else k


def piece_colour(k, fx, fy, size, sky=sky_colour):
    """The colour of the piece that cell k shows, at (fx, fy), the fractions of the cell across
    and down, or None outside the cell."""
    if not (0 <= fx < 1 and 0 <= fy < 1):
        return None
    piece = shown_piece(k)
    return scene_colour((piece % 2 + fx) / 2, (piece // 2 + fy) / 2, size, sky)


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


# The large icon, on a 256 x 256 canvas: the card (x, y, width, height, corner radius) with its
# edge, the pieces' cells and the gap between them, and the frames' width. One list of shapes
# gives both the SVG and the 256 px PNG, so the two cannot drift apart.
CARD = (12, 12, 232, 232, 26)
CARD_EDGE = 6
CELL, GAP, ORIGIN, FRAME = 100, 8, 24, 8
PICTURE = 2 * CELL  # the landscape's size in canvas pixels


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


def cell_origin(k):
    return ORIGIN + (k % 2) * (CELL + GAP), ORIGIN + (k // 2) * (CELL + GAP)


def icon_overlays():
    """What lies over the pieces: the two frames, and the two arrows with their shadows."""
    (ax, ay), (bx, by) = cell_origin(SWAPPED[0]), cell_origin(SWAPPED[1])
    # Around the gap between the two pieces, one arc down the right and one up the left.
    cx, cy = (ax + bx + CELL) / 2, (ay + by + CELL) / 2
    arcs = [arrow(cx, cy, 30, -60, 40, 11, 26), arrow(cx, cy, 30, 120, 220, 11, 26)]
    shapes = [("poly", frame(ax, ay, CELL, FRAME), FIRST_FRAME), ("poly", frame(bx, by, CELL, FRAME), SECOND_FRAME)]
    for arc in arcs:
        shapes += [("poly", [(x + 2, y + 3) for x, y in arc], (20, 20, 40), 0.5),
                   ("poly", arc, (255, 255, 255))]
    return shapes


CARD_OUTLINE = rounded_rect(*CARD)
CARD_INSIDE = rounded_rect(CARD[0] + CARD_EDGE, CARD[1] + CARD_EDGE, CARD[2] - 2 * CARD_EDGE,
                           CARD[3] - 2 * CARD_EDGE, CARD[4] - CARD_EDGE)
CARD_SHADOW = [(x + 2, y + 5) for x, y in CARD_OUTLINE]
SHADOW_COLOUR, SHADOW_ALPHA = (20, 20, 40), 0.35
OVERLAYS = icon_overlays()


def icon_colour(x, y):
    """The large icon's colour (r, g, b, a) at a point of the 256 x 256 canvas."""
    colour, alpha = (0, 0, 0), 0.0
    if inside_polygon(CARD_SHADOW, x, y):
        colour, alpha = SHADOW_COLOUR, SHADOW_ALPHA
    if inside_polygon(CARD_OUTLINE, x, y):
        colour, alpha = EDGE, 1.0
    if inside_polygon(CARD_INSIDE, x, y):
        colour = CARD_COLOUR
    for k in range(4):
        cx, cy = cell_origin(k)
        piece = piece_colour(k, (x - cx) / CELL, (y - cy) / CELL, 256)
        if piece:
            colour = piece
    for shape in OVERLAYS:
        if inside_shape(shape, x, y):
            a = shape[3] if len(shape) > 3 else 1.0
            colour = mix(colour, shape[2], a) if alpha else shape[2]
            alpha = max(alpha, a)
    return colour + (alpha,)


def render_icon(size, samples=4):
    """The large icon at size x size pixels, drawn at 256 and scaled."""
    scale = 256 / size
    return rasterise(size, lambda x, y: icon_colour(x * scale, y * scale), samples)


def svg_points(points, scale=1):
    return " ".join(f"{x * scale:.2f},{y * scale:.2f}".replace(".00", "") for x, y in points)


def svg_fill(colour):
    return "#%02x%02x%02x" % colour


def svg_shape(shape, scale=1, extra=""):
    if shape[0] == "circle":
        cx, cy, r = (round(c * scale, 2) for c in shape[1])
        return f'<circle cx="{cx:g}" cy="{cy:g}" r="{r:g}" fill="{svg_fill(shape[2])}"{extra}/>'
    return f'<polygon points="{svg_points(shape[1], scale)}" fill="{svg_fill(shape[2])}"{extra}/>'


def write_svg(path):
    """The large icon as a scalable picture."""
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink"'
           ' width="256" height="256" viewBox="0 0 256 256">',
           "  <defs>",
           f'    <linearGradient id="sky" gradientUnits="userSpaceOnUse" x1="0" y1="0" x2="0"'
           f' y2="{SKY_DEPTH * PICTURE:g}"><stop offset="0" stop-color="{svg_fill(SKY[0])}"/>'
           f'<stop offset="1" stop-color="{svg_fill(SKY[1])}"/></linearGradient>',
           '    <g id="picture">',
           f'      <rect width="{PICTURE}" height="{PICTURE}" fill="url(#sky)"/>']
    out += ["      " + svg_shape(shape, PICTURE) for shape in SCENE]
    out += ["    </g>"]
    for k in range(4):
        x, y = cell_origin(k)
        out.append(f'    <clipPath id="cell{k}"><rect x="{x}" y="{y}" width="{CELL}" height="{CELL}"/></clipPath>')
    out.append("  </defs>")
    out.append(f'  <polygon points="{svg_points(CARD_SHADOW)}" fill="{svg_fill(SHADOW_COLOUR)}"'
               f' fill-opacity="{SHADOW_ALPHA}"/>')
    out.append(f'  <polygon points="{svg_points(CARD_OUTLINE)}" fill="{svg_fill(EDGE)}"/>')
    out.append(f'  <polygon points="{svg_points(CARD_INSIDE)}" fill="{svg_fill(CARD_COLOUR)}"/>')
    for k in range(4):
        x, y = cell_origin(k)
        piece = shown_piece(k)
        out.append(f'  <g clip-path="url(#cell{k})"><use xlink:href="#picture"'
                   f' transform="translate({x - piece % 2 * CELL} {y - piece // 2 * CELL})"/></g>')
    for shape in OVERLAYS:
        extra = ' fill-rule="evenodd"'
        if len(shape) > 3:
            extra += f' fill-opacity="{shape[3]}"'
        out.append("  " + svg_shape(shape, 1, extra))
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


# The small sizes, per size: the corner's radius, the edge's width, the light line inside it,
# the gap between the pieces and the frames' width, all in whole pixels.
SMALL_ICONS = {16: (2, 1, 0, 2, 1), 24: (3, 1, 1, 2, 2), 32: (3, 1, 1, 2, 2), 48: (5, 2, 2, 2, 3)}


class SmallIcon:
    """The icon at one of the small sizes, in whole pixels."""

    def __init__(self, size):
        self.size = size
        radius, self.edge, line, gap, self.frame = SMALL_ICONS[size]

        def inside(x, y):
            cx, cy = min(max(x + 0.5, radius), size - radius), min(max(y + 0.5, radius), size - radius)
            return 0 <= x < size and 0 <= y < size and math.hypot(x + 0.5 - cx, y + 0.5 - cy) <= radius

        def edge_ring(x, y):
            """Whether a pixel outside lies within the edge's width, counted in squares around the
            pixel: the edge then turns the corners diagonally, with no light pixel left between
            it and the outside."""
            return any(not inside(x + i, y + j)
                       for i in range(-self.edge, self.edge + 1) for j in range(-self.edge, self.edge + 1))
        self.kind = [["outside" if not inside(x, y) else "edge" if edge_ring(x, y) else "card"
                      for x in range(size)] for y in range(size)]
        start = self.edge + line
        inner = size - 2 * start - gap
        first = inner // 2
        self.cells = [(start, first), (start + first + gap, inner - first)]

    def colour(self, x, y, sky=sky_colour):
        px, py = int(x), int(y)
        kind = self.kind[py][px]
        if kind == "outside":
            return (0, 0, 0, 0.0)
        if kind == "edge":
            return EDGE + (1.0,)
        # The pieces keep their square corners where the card's light line turns its corner.
        for k in range(4):
            (left, width), (top, height) = self.cells[k % 2], self.cells[k // 2]
            if not (left <= px < left + width and top <= py < top + height):
                continue
            if k in SWAPPED and min(px - left, py - top, left + width - 1 - px, top + height - 1 - py) < self.frame:
                return (FIRST_FRAME if k == SWAPPED[0] else SECOND_FRAME) + (1.0,)
            return piece_colour(k, (x - left) / width, (y - top) / height, self.size, sky) + (1.0,)
        return CARD_COLOUR + (1.0,)


def render_small_icon(size, samples=8):
    icon = SmallIcon(size)
    return rasterise(size, icon.colour, samples)


# The window's icon: the 32 px menu icon in 16 colours, with the sky in bands of one colour.
SKY_BANDS = 4
BANDS = [tuple(int(round(c)) for c in sky_colour(SKY_DEPTH * (i + 0.5) / SKY_BANDS)) for i in range(SKY_BANDS)]
WINDOW_ICON_COLOURS = ([(0, 0, 0, 0)] + [c + (255,) for c in (EDGE, CARD_COLOUR, FIRST_FRAME, SECOND_FRAME)]
                       + [c + (255,) for c in BANDS]
                       + [shape[2] + (255,) for shape in SCENE if shape[3] <= 32])


def banded_sky(v):
    return BANDS[min(SKY_BANDS - 1, int(max(0.0, v) / SKY_DEPTH * SKY_BANDS))]


def window_icon_indices():
    icon = SmallIcon(32)
    rows = rasterise(32, lambda x, y: icon.colour(x, y, banded_sky), 1)
    index = {c: i for i, c in enumerate(WINDOW_ICON_COLOURS)}
    assert len(index) <= 16
    return [[index[p] for p in row] for row in rows]


if __name__ == "__main__":
    write_bmp(os.path.join(HERE, "builtin.bmp"), landscape())
    write_png_16(os.path.join(HERE, "mozario-32.png"), window_icon_indices(), WINDOW_ICON_COLOURS)
    write_png_rgba(os.path.join(HERE, "mozario-256.png"), render_icon(256))
    write_svg(os.path.join(HERE, "mozario.svg"))
    for size in SMALL_ICONS:
        write_png_rgba(os.path.join(HERE, f"mozario-menu-{size}.png"), render_small_icon(size))
