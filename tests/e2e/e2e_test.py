#!/usr/bin/env python3
"""End-to-end tests of the built mozario program.

Starts its own Xvfb, runs the unmodified executable in it under libfaketime, drives it with
real input events from xdotool and checks what the X server shows.  The main run freezes the
wall clock at 00:00:00.000 UTC, so the shuffle's seed is 0, and leaves the monotonic clock
that drives the game's timers real; a short run on a clock SPEED times as fast (libfaketime
speeds the monotonic clock as well) plays out the 30-second limit in 1.5 s.  Screen pixels
are read with the core protocol's GetImage over the display's Unix socket, which is fast
enough to see the 100 ms frames of an exchange.

Usage: e2e_test.py MOZARIO_EXECUTABLE --builtin assets/builtin.bmp [--artifacts DIR]
Prints one line per case and ends with "N passed, M failed"; exits 1 on any failure,
77 when a required tool is missing.
"""

import argparse
import itertools
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

TITLE = "モザリオ"
ERROR_BOX_TITLE = "mozario"  # the executable's name, as the program titles its error box

CLIENT_W, CLIENT_H = 492, 554
BOARD_X, BOARD_Y, BOARD_W, BOARD_H = 6, 16, 480, 360
PREVIEW_X, PREVIEW_Y, PREVIEW_W, PREVIEW_H = 280, 392, 200, 150
BANNER_X, BANNER_Y = 136, 184
EDIT1 = (136, 440, 137, 43)  # exchange counter
EDIT3 = (136, 392, 137, 43)  # time display

RED = (255, 0, 0)
BLUE = (0, 0, 255)
SKY = (166, 202, 240)

SPEED = 20  # game seconds per real second in the fast-clock run
SCREEN = (1600, 1440)  # room for the window at a scale factor of 2
FAKETIME_LIBS = [
    "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1",
    "/usr/lib/aarch64-linux-gnu/faketime/libfaketime.so.1",
    "/usr/lib/faketime/libfaketime.so.1",
]
TOOLS = ["Xvfb", "xdotool", "xwininfo", "xdpyinfo", "xprop", "cjpeg"]


class Failure(Exception):
    pass


class WindowGone(Failure):
    """An X request named a window that has closed, or is no longer shown, since it was found."""


# How the X tools say that a window has gone: xdotool's and xwininfo's X errors, or a window
# that is not viewable any more (SetInputFocus on an unmapped window).
GONE = ("BadWindow", "Bad Drawable", "BadDrawable", "No such window", "BadMatch")


def expect(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(predicate, timeout, what, interval=0.05):
    """Polls predicate until it returns a true value; returns that value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


# ---------------------------------------------------------------------------------------
# Pictures: RGB rasters, the game's composition, BMP and PNG files


class Raster:
    """Top-down 8-bit RGB pixels."""

    def __init__(self, width, height, rgb):
        self.w, self.h = width, height
        self.rgb = bytes(rgb)
        assert len(self.rgb) == width * height * 3

    def px(self, x, y):
        o = (y * self.w + x) * 3
        return tuple(self.rgb[o:o + 3])

    def row(self, y):
        return self.rgb[y * self.w * 3:(y + 1) * self.w * 3]

    def crop(self, x, y, w, h):
        rows = [self.rgb[((y + r) * self.w + x) * 3:((y + r) * self.w + x + w) * 3] for r in range(h)]
        return Raster(w, h, b"".join(rows))

    def scaled(self, s):
        """Each pixel becomes s x s pixels (nearest-pixel enlargement)."""
        out = []
        for y in range(self.h):
            row = self.row(y)
            wide = b"".join(row[i:i + 3] * s for i in range(0, len(row), 3))
            out.extend([wide] * s)
        return Raster(self.w * s, self.h * s, b"".join(out))

    def count(self, colour):
        c = bytes(colour)
        return sum(1 for i in range(0, len(self.rgb), 3) if self.rgb[i:i + 3] == c)


def differing_pixels(a, b):
    """(count, first differing (x, y)) between two rasters of one size."""
    assert (a.w, a.h) == (b.w, b.h)
    if a.rgb == b.rgb:
        return 0, None
    count, first = 0, None
    for y in range(a.h):
        ra, rb = a.row(y), b.row(y)
        if ra == rb:
            continue
        for x in range(a.w):
            if ra[x * 3:x * 3 + 3] != rb[x * 3:x * 3 + 3]:
                count += 1
                if first is None:
                    first = (x, y)
    return count, first


def expect_same(shown, expected, what):
    count, first = differing_pixels(shown, expected)
    if count:
        x, y = first
        raise Failure(f"{what}: {count} of {shown.w * shown.h} pixels differ, first at ({x}, {y}): "
                      f"shown {shown.px(x, y)}, expected {expected.px(x, y)}")


def read_bmp(path):
    """A 24-bit uncompressed Windows bitmap."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError(f"{path}: not a bitmap")
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    bpp, = struct.unpack_from("<H", data, 28)
    compression, = struct.unpack_from("<I", data, 30)
    if bpp != 24 or compression != 0:
        raise ValueError(f"{path}: {bpp} bits per pixel, compression {compression}")
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(abs(height)):
        source_row = abs(height) - 1 - y if height > 0 else y
        o = offset + source_row * stride
        bgr = data[o:o + width * 3]
        rgb = bytearray(len(bgr))
        rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
        rows.append(bytes(rgb))
    return Raster(width, abs(height), b"".join(rows))


def write_bmp(path, raster):
    stride = (raster.w * 3 + 3) // 4 * 4
    rows = []
    for y in range(raster.h - 1, -1, -1):
        rgb = raster.row(y)
        bgr = bytearray(len(rgb))
        bgr[0::3], bgr[1::3], bgr[2::3] = rgb[2::3], rgb[1::3], rgb[0::3]
        rows.append(bytes(bgr) + b"\0" * (stride - raster.w * 3))
    pixels = b"".join(rows)
    header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, raster.w, raster.h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def write_ppm(path, raster):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (raster.w, raster.h) + raster.rgb)


def blocks_picture(columns, rows, block_w, block_h, colours):
    """A picture of columns x rows flat blocks, colours taken row by row."""
    out = []
    for r in range(rows):
        row = b"".join(bytes(colours[r * columns + c]) * block_w for c in range(columns))
        out.extend([row] * block_h)
    return Raster(columns * block_w, rows * block_h, b"".join(out))


class Random:
    """The game's random source: a 32-bit linear congruential generator."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def below(self, n):
        self.state = (self.state * 134775813 + 1) & 0xFFFFFFFF
        return (n * self.state) >> 32


def shuffled_order(rng, pieces):
    order = list(range(pieces))
    while True:
        for _ in range(6 * pieces + 1):
            a = rng.below(pieces)
            b = rng.below(pieces)
            order[a], order[b] = order[b], order[a]
        if order != sorted(order):
            return order


def compose(source, order, side):
    """The board of a game: cell k shows piece order[k] of source."""
    pw, ph = source.w // side, source.h // side
    rows = [bytearray(source.row(y)) for y in range(source.h)]
    for k, p in enumerate(order):
        dx, dy = (k % side) * pw, (k // side) * ph
        sx, sy = (p % side) * pw, (p // side) * ph
        for y in range(ph):
            rows[dy + y][dx * 3:(dx + pw) * 3] = source.row(sy + y)[sx * 3:(sx + pw) * 3]
    return Raster(source.w, source.h, b"".join(bytes(r) for r in rows))


def cell_rect(cell, side=2):
    pw, ph = BOARD_W // side, BOARD_H // side
    return (cell % side) * pw, (cell // side) * ph, pw, ph


def frame_samples(cell, skip_sides=()):
    """Board points just inside the four sides of a cell, where a 6-pixel frame lies."""
    x, y, w, h = cell_rect(cell)
    along_x = [x + w * i // 10 for i in range(2, 9)]
    along_y = [y + h * i // 10 for i in range(2, 9)]
    sides = {
        "left": [(x + 1, v) for v in along_y],
        "right": [(x + w - 2, v) for v in along_y],
        "top": [(u, y + 1) for u in along_x],
        "bottom": [(u, y + h - 2) for u in along_x],
    }
    return [p for side, points in sides.items() if side not in skip_sides for p in points]


def framed(board, cell, colour, scale=1, skip_sides=()):
    """Whether the board (device pixels) shows a frame of colour around cell."""
    return all(board.px(x * scale, y * scale) == colour for x, y in frame_samples(cell, skip_sides))


def shared_side(a, b, side=2):
    """The side of cell a that it shares with cell b, if they are neighbours."""
    (ra, ca), (rb, cb) = divmod(a, side), divmod(b, side)
    return {(0, 1): "right", (0, -1): "left", (1, 0): "bottom", (-1, 0): "top"}.get((rb - ra, cb - ca))


def same_outside(a, b, hole):
    """Whether two rasters of one size are equal outside the rectangle hole (x, y, w, h)."""
    hx, hy, hw, hh = hole
    for y in range(a.h):
        ra, rb = a.row(y), b.row(y)
        if hy <= y < hy + hh:
            if ra[:hx * 3] != rb[:hx * 3] or ra[(hx + hw) * 3:] != rb[(hx + hw) * 3:]:
                return False
        elif ra != rb:
            return False
    return True


# ---------------------------------------------------------------------------------------
# The X server: Xvfb, screen pixels over the core protocol, xdotool


class XServer:
    def __init__(self, width, height, log_dir):
        self.proc = None
        self.number = None
        # -displayfd: the server picks a free display and tells its number, so runs side by side
        # never race for one. -noreset: else it resets, dropping new connections, each time its
        # last client leaves, as between two runs of the program.
        read_end, write_end = os.pipe()
        log = open(os.path.join(log_dir, "xvfb.log"), "wb")
        proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
                                 "-nolisten", "tcp", "-noreset"],
                                stdout=log, stderr=log, start_new_session=True, pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as announced:
            ready, _, _ = select.select([announced], [], [], 10)
            number = announced.readline().strip() if ready else ""
        if not number.isdigit():
            stop_process(proc)
            raise Failure("Xvfb did not announce its display (see xvfb.log)")
        self.proc, self.number = proc, int(number)

    @property
    def display(self):
        return f":{self.number}"

    def stop(self):
        if self.proc:
            stop_process(self.proc)
            self.proc = None


class ScreenReader:
    """A minimal X11 client that reads screen pixels with GetImage."""

    def __init__(self, number):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(f"/tmp/.X11-unix/X{number}")
        self.sock.sendall(struct.pack("<BxHHHHxx", ord("l"), 11, 0, 0, 0))
        head = self._recv(8)
        length, = struct.unpack_from("<H", head, 6)
        body = self._recv(length * 4)
        if head[0] != 1:
            raise Failure(f"X connection refused: {body[:head[1]]!r}")
        vendor_len, = struct.unpack_from("<H", body, 16)
        formats, image_byte_order = body[21], body[22]
        offset = 32 + (vendor_len + 3) // 4 * 4
        bpp = {}
        for i in range(formats):
            depth, bits, pad = body[offset + 8 * i:offset + 8 * i + 3]
            bpp[depth] = (bits, pad)
        offset += 8 * formats
        self.root, = struct.unpack_from("<I", body, offset)
        root_depth = body[offset + 38]
        if root_depth != 24 or bpp.get(24) != (32, 32) or image_byte_order != 0:
            raise Failure(f"unexpected screen format: depth {root_depth}, formats {bpp}, "
                          f"byte order {image_byte_order}")

    def _recv(self, n):
        buf = bytearray(n)
        view = memoryview(buf)
        got = 0
        while got < n:
            k = self.sock.recv_into(view[got:], n - got)
            if k == 0:
                raise Failure("X connection closed")
            got += k
        return bytes(buf)

    def grab(self, x, y, w, h):
        """Screen pixels of a rectangle, as a Raster."""
        self.sock.sendall(struct.pack("<BBHIhhHHI", 73, 2, 5, self.root, x, y, w, h, 0xFFFFFFFF))
        bgrx = self._reply(f"GetImage({x}, {y}, {w}, {h})")[32:32 + w * h * 4]
        rgb = bytearray(w * h * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = bgrx[2::4], bgrx[1::4], bgrx[0::4]
        return Raster(w, h, rgb)

    def _reply(self, what):
        while True:
            head = self._recv(32)
            if head[0] == 0:
                raise Failure(f"{what} failed with X error {head[1]}")
            if head[0] == 1:
                break
            # An event; this client selects none, but skip it if one comes.
        length, = struct.unpack_from("<I", head, 4)
        return head + self._recv(length * 4)

    def request_close(self, window):
        """Asks a window to close (WM_DELETE_WINDOW), as a window manager's close button does."""
        def atom(name):
            data = name.encode() + b"\0" * (-len(name) % 4)
            self.sock.sendall(struct.pack("<BBHHxx", 16, 0, 2 + len(data) // 4, len(name)) + data)
            return struct.unpack_from("<I", self._reply(f"InternAtom({name})"), 8)[0]

        protocols, delete = atom("WM_PROTOCOLS"), atom("WM_DELETE_WINDOW")
        event = struct.pack("<BBHII5I", 33, 32, 0, window, protocols, delete, 0, 0, 0, 0)
        self.sock.sendall(struct.pack("<BBHII", 25, 0, 11, window, 0) + event)

    def close(self):
        self.sock.close()


def stop_process(proc, grace=3.0):
    if proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(grace)


class Desktop:
    """Input and window queries on one display."""

    def __init__(self, display):
        self.env = dict(os.environ, DISPLAY=display)

    def run(self, *args, check=True, timeout=10):
        try:
            result = subprocess.run(list(args), env=self.env, capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"{' '.join(args)} did not finish within {timeout} s")
        if check and result.returncode != 0:
            said = result.stderr.strip()
            raise (WindowGone if any(g in said for g in GONE) else Failure)(f"{' '.join(args)} failed: {said}")
        return result.stdout

    def xdo(self, *args):
        return self.run("xdotool", *args)

    def click(self, x, y, button=1):
        # No --sync: it waits for a motion, and there is none when the pointer is already there.
        # The server handles the motion before the button anyway.
        self.xdo("mousemove", str(x), str(y), "click", str(button))

    def key(self, *keys):
        self.xdo("key", "--clearmodifiers", *keys)

    def type(self, text):
        self.xdo("type", "--delay", "8", text)

    def focus(self, window):
        try:
            self.xdo("windowfocus", "--sync", str(window))
        except WindowGone:
            raise
        except Failure:
            # --sync waits for the focus to arrive, for ever if the window went meanwhile.
            if not self.shown(window):
                raise WindowGone(f"window {window} went before it took the focus")
            raise

    def shown(self, window):
        """Whether the window is still there and mapped."""
        try:
            return "Map State: IsViewable" in self.run("xwininfo", "-id", str(window))
        except WindowGone:
            return False

    def on_window(self, find, action, what, timeout=5):
        """Runs action(window) on the window find() returns, once it returns one, and returns
        that window.  A window that has gone by the time the action reaches it is looked for
        again, until timeout."""
        def attempt():
            window = find()
            if not window:
                return None
            try:
                action(window)
            except WindowGone:
                return None
            return window
        return wait_until(attempt, timeout, what)

    def windows(self, wm_class):
        """Visible windows of a class: [(id, title, override-redirect)].  Menus are the
        override-redirect ones; Qt does not always mark a reopened menu as a popup menu.  A
        window that closes while it is being looked at is left out: it is not shown any more."""
        out = self.run("xdotool", "search", "--onlyvisible", "--class", wm_class, check=False)
        found = []
        for line in out.split():
            wid = int(line)
            try:
                title = self.run("xdotool", "getwindowname", str(wid)).strip()
                info = self.run("xwininfo", "-id", str(wid))
            except WindowGone:
                continue
            if "Map State: IsViewable" in info:
                found.append((wid, title, "Override Redirect State: yes" in info))
        return found

    def geometry(self, window):
        """(x, y, width, height) of a window on the screen."""
        out = self.run("xwininfo", "-id", str(window))
        values = {}
        for line in out.splitlines():
            if ":" in line:
                key, _, value = line.strip().partition(":")
                values[key] = value.strip()
        return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                int(values["Width"]), int(values["Height"]))


# ---------------------------------------------------------------------------------------
# The program


class Mozario:
    """One run of the program on the X server; at speed 1 the shuffle is seeded 0."""

    def __init__(self, executable, xserver, work_dir, builtin, scale=1, speed=1, tmp_dir=None, gtk_theme=None):
        self.desk = Desktop(xserver.display)
        self.screen = ScreenReader(xserver.number)
        self.scale = scale
        self.builtin = builtin
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QT_", "FAKETIME", "LD_PRELOAD", "XDG_", "LC_"))}
        name = f"{scale}x{speed}" + (f"-{os.path.basename(tmp_dir)}" if tmp_dir else "") + ("-gtk" if gtk_theme else "")
        home = os.path.join(work_dir, f"home-{name}")
        runtime = os.path.join(work_dir, f"runtime-{name}")
        os.makedirs(home, exist_ok=True)
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env.update({
            "DISPLAY": xserver.display,
            "QT_QPA_PLATFORM": "xcb",
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_RUNTIME_DIR": runtime,
            "LANG": "C.UTF-8",
            "TZ": "UTC",
            "LD_PRELOAD": faketime_library(),
        })
        if speed == 1:
            # Wall clock stopped at midnight UTC: the seed is 0.  The monotonic clock, which
            # drives the timers, stays real.
            env.update({"FAKETIME": "2026-01-01 00:00:00", "FAKETIME_DONT_FAKE_MONOTONIC": "1"})
        else:
            # Both clocks, the timers' monotonic one included, run speed times as fast from
            # midnight on; the seed then depends on how long start-up took.
            env["FAKETIME"] = f"@2026-01-01 00:00:00 x{speed}"
        if scale != 1:
            env["QT_SCALE_FACTOR"] = str(scale)
        if tmp_dir:
            env["TMPDIR"] = tmp_dir
        if gtk_theme:
            # Qt's GTK platform theme, which offers GTK's own file chooser, with this GTK theme.
            env.update({"QT_QPA_PLATFORMTHEME": "gtk3", "GTK_THEME": gtk_theme})
        self.log_path = os.path.join(work_dir, f"mozario-{name}.log")
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([executable], cwd=work_dir, env=env, stdout=self.log,
                                     stderr=subprocess.STDOUT, start_new_session=True)
        self.window = None
        self.client = None  # client area's top-left corner on the screen

    def stop(self):
        stop_process(self.proc)
        self.screen.close()
        self.log.close()

    def find_window(self, timeout=20):
        def found():
            if self.proc.poll() is not None:
                raise Failure(f"the program ended with status {self.proc.returncode}; see {self.log_path}")
            ids = self.desk.run("xdotool", "search", "--onlyvisible", "--name", f"^{TITLE}$",
                                check=False).split()
            return next((int(i) for i in ids if self.desk.shown(int(i))), None)

        self.window = wait_until(found, timeout, f'a window titled "{TITLE}"')
        return self.window

    def locate_board(self, timeout=10):
        """Finds the board on the screen from the built-in picture's pixels; sets the client origin."""
        s = self.scale
        expected = self.builtin.scaled(s)
        first_rows = [expected.row(y) for y in range(3)]

        def search():
            wx, wy, ww, wh = self.desk.geometry(self.window)
            area = self.screen.grab(wx, wy, ww, min(wh, 120 * s))
            for dy in range(area.h - 3):
                for dx in range(min(ww - expected.w, 40 * s) + 1):
                    if all(area.crop(dx, dy + i, expected.w, 1).rgb == first_rows[i] for i in range(3)):
                        return wx + dx, wy + dy
            return None

        bx, by = wait_until(search, timeout, "the built-in picture on the screen", interval=0.1)
        self.client = (bx - BOARD_X * s, by - BOARD_Y * s)
        return bx, by

    # Client coordinates are the layout's pixels; the screen has scale x as many.
    def grab(self, x, y, w, h):
        s = self.scale
        return self.screen.grab(self.client[0] + x * s, self.client[1] + y * s, w * s, h * s)

    def board(self):
        return self.grab(BOARD_X, BOARD_Y, BOARD_W, BOARD_H)

    def preview(self):
        return self.grab(PREVIEW_X, PREVIEW_Y, PREVIEW_W, PREVIEW_H)

    def wait_framed(self, cell, what=None):
        """Waits for a red frame around cell."""
        wait_until(lambda: framed(self.board(), cell, RED, scale=self.scale), 3,
                   what or f"a red frame around cell {cell}")

    def press_board(self, x, y, button=1):
        s = self.scale
        self.desk.click(self.client[0] + (BOARD_X + x) * s, self.client[1] + (BOARD_Y + y) * s, button)

    def press_cell(self, cell, button=1):
        x, y, w, h = cell_rect(cell)
        self.press_board(x + w // 2 + 17, y + h // 2 + 13, button)

    def wait_board(self, expected, what, timeout=5, view=None):
        """Waits until the board (or view) shows exactly expected; fails with the last difference.
        A repaint may reach the screen in stripes, so nothing is judged from one grab."""
        view = view or self.board
        try:
            wait_until(lambda: view().rgb == expected.rgb, timeout, what)
        except Failure:
            expect_same(view(), expected, what)

    # Windows of the program beside the main one
    def popups(self):
        return [w for w in self.desk.windows("mozario") if w[2]]

    def dialogs(self):
        return [w for w in self.desk.windows("mozario") if not w[2] and w[0] != self.window]

    def menu_keys(self, *steps):
        """Opens menus by access keys: each step is (key, number of menus open afterwards)."""
        self.desk.on_window(lambda: self.window, self.desk.focus, "the main window to take the focus")
        for key, open_menus in steps:
            self.desk.key(key)
            if open_menus is not None:
                wait_until(lambda: len(self.popups()) == open_menus, 5,
                           f"{open_menus} open menus after the key {key}")

    def dialog(self):
        """The one window of the program beside the main window and its menus, or None."""
        shown = self.dialogs()
        return shown[0][0] if len(shown) == 1 else None

    def open_dialog(self):
        """設定 > 画像読み込み; returns the picture-open dialog once the menu has closed and the
        dialog has the focus."""
        self.menu_keys(("alt+y", 1), ("z", None))
        wait_until(self.dialog, 10, "the picture-open dialog")
        wait_until(lambda: not self.popups(), 5, "the menu to close")
        return self.desk.on_window(self.dialog, self.desk.focus, "the picture-open dialog to take the focus")

    def open_picture(self, path):
        """The path typed into the picture-open dialog's file name field, Return.  Returns once
        the dialog has closed."""
        dialog = self.open_dialog()
        self.desk.key("ctrl+a")
        self.desk.type(path)
        self.desk.key("Return")
        wait_until(lambda: not any(w[0] == dialog for w in self.dialogs()), 5, "the dialog to close after Return")


def banner_shows(app, colour, share=0.5):
    """Whether the banner's place on the board is mostly of colour."""
    b = app.grab(BANNER_X, BANNER_Y, 130, 60)
    return b.count(colour) > share * b.w * b.h


def faketime_library():
    for path in FAKETIME_LIBS:
        if os.path.exists(path):
            return path
    raise Failure("libfaketime.so.1 not found")


# ---------------------------------------------------------------------------------------
# Cases


class Runner:
    def __init__(self, artifacts):
        self.passed = 0
        self.failed = 0
        self.artifacts = artifacts
        self.app = None

    def case(self, name, fn):
        start = time.monotonic()
        try:
            fn()
        except Exception as e:  # every failure of a case is reported, and the run goes on
            self.failed += 1
            detail = e if isinstance(e, Failure) else f"{type(e).__name__}: {e}"
            print(f"FAIL {name}: {detail}", flush=True)
            self.save_screen(name)
        else:
            self.passed += 1
            print(f"PASS {name} ({time.monotonic() - start:.1f} s)", flush=True)

    def skip_all(self, names, reason):
        for name in names:
            self.failed += 1
            print(f"FAIL {name}: not run, {reason}", flush=True)

    def save_screen(self, name):
        if not self.artifacts or not self.app:
            return
        try:
            os.makedirs(self.artifacts, exist_ok=True)
            shot = self.app.screen.grab(0, 0, SCREEN[0], SCREEN[1])
            path = os.path.join(self.artifacts, "".join(c if c.isalnum() else "_" for c in name) + ".bmp")
            write_bmp(path, shot)
            print(f"     screen saved to {path}", flush=True)
        except Exception as e:
            print(f"     (screen not saved: {e})", flush=True)


def run_cases(runner, app, cases):
    """Runs the cases against one started program, and always stops it."""
    try:
        try:
            app.find_window()
        except Failure as e:
            runner.skip_all([name for name, _ in cases], str(e))
            return
        for name, fn in cases:
            runner.case(name, fn)
    finally:
        app.stop()
        runner.app = None


def play_run(runner, executable, xserver, work_dir, builtin):
    """One run of the program at 96 dpi: a whole game, a second one, and picture loading."""
    rng = Random(0)
    first_order = shuffled_order(rng, 4)
    second_order = shuffled_order(rng, 4)
    assert first_order == [3, 2, 0, 1]  # the shuffle's known result for seed 0
    state = {"order": list(first_order)}

    app = Mozario(executable, xserver, work_dir, builtin)
    runner.app = app

    def window_and_client_area():
        app.find_window()
        title = app.desk.run("xdotool", "getwindowname", str(app.window)).strip()
        expect(title == TITLE, f"title {title!r}, expected {TITLE!r}")
        wx, wy, ww, wh = app.desk.geometry(app.window)
        expect((wx, wy) == (198, 87), f"window at ({wx}, {wy}), expected (198, 87)")
        bx, by = app.locate_board()
        menu_bar = app.client[1] - wy
        expect(bx - wx == BOARD_X, f"board {bx - wx} pixels from the window's left edge, expected 6")
        expect(10 <= menu_bar <= 40, f"menu bar {menu_bar} pixels high")
        expect((ww, wh - menu_bar) == (CLIENT_W, CLIENT_H),
               f"client area {ww} x {wh - menu_bar} below a {menu_bar}-pixel menu bar, expected 492 x 554")

    def builtin_picture_at_start():
        app.wait_board(builtin, "board at start-up")
        preview = app.preview()
        background = preview.px(0, 0)
        expect(preview.count(background) == PREVIEW_W * PREVIEW_H,
               "the preview is not blank before the first game")

    def press_starts_game():
        app.press_board(300, 250)  # cell 3
        app.wait_board(compose(builtin, first_order, 2), "board after the first press: order 3, 2, 0, 1")
        preview = app.preview()
        expect(preview.px(100, 75) == builtin.px(240, 180), "the preview does not show the picture")

    def choose_and_cancel():
        board = compose(builtin, state["order"], 2)
        for cell in range(4):
            expect(not framed(board, cell, RED), f"cell {cell} looks framed before any choice")
        app.press_cell(1)
        app.wait_framed(1)
        shown = app.board()
        for cell in (0, 2, 3):
            expect(not framed(shown, cell, RED), f"cell {cell} framed as well")
        x, y, w, h = cell_rect(1)
        expect(shown.crop(x + 10, y + 10, w - 20, h - 20).rgb == board.crop(x + 10, y + 10, w - 20, h - 20).rgb,
               "the inside of the chosen cell changed")
        app.press_cell(1, button=3)
        app.wait_board(board, "board after cancelling with the right button")

    def exchange(first, second, banner_hole=None):
        """Chooses first, then second; watches the frames and the redraw that follows.  With
        banner_hole, the redrawn board is compared outside that rectangle only."""
        counter_before = app.grab(*EDIT1)
        app.press_cell(first)
        app.wait_framed(first)
        order = list(state["order"])
        order[first], order[second] = order[second], order[first]
        after = compose(builtin, order, 2)
        skip = (shared_side(first, second),)
        seen = []

        def watch():
            reader = ScreenReader(xserver.number)
            try:
                deadline = time.monotonic() + 3
                final_since = None
                while time.monotonic() < deadline:
                    board = reader.grab(app.client[0] + BOARD_X, app.client[1] + BOARD_Y, BOARD_W, BOARD_H)
                    if framed(board, second, BLUE) and framed(board, first, RED, skip_sides=skip):
                        state_now = "frames"
                    elif board.rgb == after.rgb or (banner_hole and same_outside(board, after, banner_hole)):
                        state_now = "exchanged"
                    elif framed(board, first, RED) and not framed(board, second, BLUE):
                        state_now = "first chosen"
                    else:
                        state_now = "other"
                    if not seen or seen[-1] != state_now:
                        seen.append(state_now)
                    if state_now == "exchanged":
                        final_since = final_since or time.monotonic()
                        if time.monotonic() - final_since > 0.3:
                            return
                    else:
                        final_since = None
            finally:
                reader.close()

        watcher = threading.Thread(target=watch)
        watcher.start()
        app.press_cell(second)
        watcher.join()
        expect("frames" in seen, f"no blue frame on cell {second} beside the red one on cell {first}; "
                                 f"the board went {' -> '.join(seen)}")
        expect(seen[-1] == "exchanged", f"the exchanged pieces never settled: {' -> '.join(seen)}")
        expect(seen.index("frames") < len(seen) - 1 and "other" not in seen[seen.index("frames"):],
               f"unexpected board states: {' -> '.join(seen)}")
        state["order"] = order
        wait_until(lambda: app.grab(*EDIT1).rgb != counter_before.rgb, 2, "the いれかえ box to change")

    def first_exchange():
        exchange(0, 3)

    def win_game():
        exchange(1, 2)
        expect(state["order"] == [1, 0, 2, 3], f"bookkeeping: order {state['order']}")
        exchange(0, 1, banner_hole=(BANNER_X - BOARD_X, BANNER_Y - BOARD_Y, 300, 80))

        wait_until(lambda: banner_shows(app, SKY), 3, '"CLEAR" on light sky blue at (136, 184)')
        edge = app.grab(BANNER_X - 1, BANNER_Y - 1, 3, 40)
        expect(edge.px(1, 1) == SKY and edge.px(0, 10) != SKY and edge.px(1, 0) != SKY,
               "the banner's top-left corner is not at (136, 184)")
        shown = app.board()
        lx, ly = BANNER_X - BOARD_X, BANNER_Y - BOARD_Y
        outside = [(x, y) for y in range(0, BOARD_H, 7) for x in range(0, BOARD_W, 7)
                   if not (lx <= x < lx + 300 and ly <= y < ly + 80)]
        wrong = [(x, y) for x, y in outside if shown.px(x, y) != builtin.px(x, y)]
        expect(not wrong, f"the restored picture differs at {len(wrong)} sampled points, first {wrong[:1]}")

    bad = os.path.join(work_dir, "bad.jpg")
    with open(bad, "w") as f:
        f.write("this is a text file, not a picture\n")
    game2 = {}

    def press_after_clear_starts_next_game():
        time_before = app.grab(*EDIT3)
        app.press_board(400, 300)  # beside the banner
        app.wait_board(compose(builtin, second_order, 2), f"board of the second game, order {second_order}")
        game2["board"] = app.board()
        wait_until(lambda: app.grab(*EDIT3).rgb != time_before.rgb, 2, "the time display to show the limit")
        state["order"] = list(second_order)

    def bad_file_keeps_game():
        board = game2["board"]
        preview = app.preview()
        app.open_picture(bad)
        seen = []

        def error_box():
            seen[:] = app.dialogs()
            return seen[0][0] if len(seen) == 1 and seen[0][1] == ERROR_BOX_TITLE else None

        try:
            box = wait_until(error_box, 5, "an error box")
        except Failure:
            raise Failure(f'windows {[w[1] for w in seen]}, expected one error box titled "{ERROR_BOX_TITLE}"')
        # The box stands over the board; the rest of the board is unchanged.
        x, y, w, h = app.desk.geometry(box)
        hole = (x - app.client[0] - BOARD_X, y - app.client[1] - BOARD_Y, w, h)
        expect(same_outside(app.board(), board, hole), "the board changed while the error box is open")
        app.desk.on_window(error_box, app.desk.focus, "the error box to take the focus")
        app.desk.key("Return")
        wait_until(lambda: not app.dialogs(), 5, "the error box to close after Return")
        app.wait_board(board, "board after OK")
        app.wait_board(preview, "preview after OK", view=app.preview)
        clock = app.grab(*EDIT3)
        wait_until(lambda: app.grab(*EDIT3).rgb != clock.rgb, 2, "the time display to keep counting")
        # Still the same game: a press chooses a piece instead of starting a new game.
        app.press_cell(2)
        app.wait_framed(2)
        app.press_cell(2, button=3)
        app.wait_board(board, "board after cancelling")

    colours = [(255, 0, 0), (0, 200, 0), (0, 0, 255), (255, 255, 0),
               (0, 255, 255), (255, 0, 255), (128, 64, 32), (32, 128, 64),
               (200, 200, 200), (20, 20, 20), (90, 30, 160), (250, 140, 20),
               (255, 128, 128), (128, 128, 255), (60, 90, 60), (240, 240, 120)]

    def block_problems(columns, rows, tolerance):
        board = app.board()
        preview = app.preview()
        problems = []
        for view, name in ((board, "board"), (preview, "preview")):
            for r in range(rows):
                for c in range(columns):
                    x, y = (2 * c + 1) * view.w // (2 * columns), (2 * r + 1) * view.h // (2 * rows)
                    shown, want = view.px(x, y), colours[r * columns + c]
                    if max(abs(a - b) for a, b in zip(shown, want)) > tolerance:
                        problems.append(f"{name} ({x}, {y}) {shown} instead of {want}")
        return problems

    def wait_blocks(columns, rows, tolerance, what):
        # The server may show a repaint in stripes: wait for every block, not just the first.
        try:
            wait_until(lambda: not block_problems(columns, rows, tolerance), 5, f"the {what} picture on the board")
        except Failure:
            pass
        problems = block_problems(columns, rows, tolerance)
        expect(not problems, f"{what}: " + "; ".join(problems[:4]))

    def load_bmp():
        picture = blocks_picture(4, 4, 80, 50, colours)  # 320 x 200: stretched unevenly
        path = os.path.join(work_dir, "pic", "blocks.bmp")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write_bmp(path, picture)
        app.open_picture(path)
        wait_blocks(4, 4, 0, "bitmap")

    def load_jpeg():
        picture = blocks_picture(4, 3, 64, 64, colours)  # 256 x 192
        ppm = os.path.join(work_dir, "blocks.ppm")
        path = os.path.join(work_dir, "pic", "photo.jpg")
        write_ppm(ppm, picture)
        subprocess.run(["cjpeg", "-quality", "95", "-outfile", path, ppm], check=True)
        app.open_picture(path)
        wait_blocks(4, 3, 12, "JPEG")

    cases = [
        ("window title and client area", window_and_client_area),
        ("built-in picture unscrambled at start", builtin_picture_at_start),
        ("press starts a game: board is order 3,2,0,1 (seed 0)", press_starts_game),
        ("choose shows a red frame, right button cancels", choose_and_cancel),
        ("exchange: red and blue frames, then pieces swapped; いれかえ changes", first_exchange),
        ('winning the game shows "CLEAR" on light sky blue', win_game),
        ("a press after the game starts the next one: board is order 1,2,3,0", press_after_clear_starts_next_game),
        ("bad picture file: error box, then board and game unchanged", bad_file_keeps_game),
        ("loading a bitmap through the dialog", load_bmp),
        # The dialog has shown the work folder and pic by now: a typed full path still opens.
        ("loading a JPEG through the dialog with one Return", load_jpeg),
    ]
    run_cases(runner, app, cases)


def fast_clock_run(runner, executable, xserver, work_dir, builtin):
    """One run on a clock SPEED times as fast as real time: a 30-second game in under 2 s."""
    app = Mozario(executable, xserver, work_dir, builtin, speed=SPEED)
    runner.app = app

    # The seed depends on start-up here: any shuffled board of four pieces will do.
    shuffled = {compose(builtin, order, 2).rgb for order in itertools.permutations(range(4))} - {builtin.rgb}

    def shuffled_board():
        return app.board().rgb in shuffled

    def time_up_after_thirty_seconds():
        app.locate_board()
        app.menu_keys(("alt+y", 1), ("x", 2), ("3", 0))
        start = time.monotonic()
        app.press_board(400, 300)
        wait_until(shuffled_board, 2, "a shuffled board")
        wait_until(lambda: banner_shows(app, RED), 2, '"TIMEUP" on red', interval=0.01)
        elapsed = (time.monotonic() - start) * SPEED
        expect(29 <= elapsed <= 40, f'"TIMEUP" shown {elapsed:.1f} game seconds after the start of a 30-second '
                                    'game')
        # The game is over: a press beside the banner starts a new one.
        app.press_board(400, 300)
        wait_until(lambda: not banner_shows(app, RED, 0.01), 2, "the banner to go")
        wait_until(shuffled_board, 2, "a shuffled board in the next game")

    cases = [
        ('30-second limit by access keys Alt+Y X 3: "TIMEUP" on red after 30 s; a press starts the next game',
         time_up_after_thirty_seconds),
    ]
    run_cases(runner, app, cases)


def high_dpi_run(runner, executable, xserver, work_dir, builtin):
    """One short run with QT_SCALE_FACTOR=2."""
    app = Mozario(executable, xserver, work_dir, builtin, scale=2)
    runner.app = app

    def window_and_picture():
        app.find_window()
        wx, wy, ww, wh = app.desk.geometry(app.window)
        app.locate_board()
        menu_bar = app.client[1] - wy
        expect(app.client[0] == wx, f"board {app.client[0] + 12 - wx} device pixels from the window's left "
                                    "edge, expected 12")
        expect((ww, wh - menu_bar) == (2 * CLIENT_W, 2 * CLIENT_H),
               f"client area {ww} x {wh - menu_bar} device pixels, expected 984 x 1108")
        app.wait_board(builtin.scaled(2), "board at 200 %: each picture pixel 2 x 2 device pixels")

    def presses_in_layout_pixels():
        app.press_board(100, 100)
        app.wait_board(compose(builtin, [3, 2, 0, 1], 2).scaled(2), "board of the first game at 200 %")
        # Device pixels (480, 360) from the board's corner are layout pixel (240, 180): cell 3.
        app.desk.click(app.client[0] + 2 * BOARD_X + 480, app.client[1] + 2 * BOARD_Y + 360)
        app.wait_framed(3)
        shown = app.board()
        for cell in (0, 1, 2):
            expect(not framed(shown, cell, RED, scale=2), f"cell {cell} framed too")
        app.desk.click(app.client[0] + 2 * BOARD_X + 480, app.client[1] + 2 * BOARD_Y + 360, 3)
        app.desk.click(app.client[0] + 2 * BOARD_X + 477, app.client[1] + 2 * BOARD_Y + 357)
        app.wait_framed(0, "a red frame around cell 0 after a press at device pixel (477, 357)")

    cases = [
        ("200 %: client area 984 x 1108, picture at 960 x 720 nearest-pixel", window_and_picture),
        ("200 %: presses map to cells in layout pixels", presses_in_layout_pixels),
    ]
    run_cases(runner, app, cases)


def gtk_theme_run(runner, executable, xserver, work_dir, builtin):
    """One short run under Qt's GTK platform theme with GTK's dark Adwaita."""
    app = Mozario(executable, xserver, work_dir, builtin, gtk_theme="Adwaita:dark")
    runner.app = app
    magenta = (255, 0, 255)

    def own_dialog_with_its_pane():
        app.locate_board()
        face = app.grab(0, 0, 1, 1).px(0, 0)
        expect(max(face) < 128, f"the window's face is {face}, not dark: is Qt's GTK platform theme installed?")
        path = os.path.join(work_dir, "pic", "pane.bmp")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write_bmp(path, blocks_picture(1, 1, 64, 48, [magenta]))
        dialog = app.open_dialog()
        app.desk.focus(dialog)
        app.desk.key("ctrl+a")
        app.desk.type(path)
        x, y, w, h = app.desk.geometry(dialog)
        wait_until(lambda: app.screen.grab(x, y, w, h).count(magenta) >= 64 * 48, 5, "the typed picture in the dialog")
        if app.popups():  # the name box's completions, which would take the next click
            app.desk.key("Escape")
            wait_until(lambda: not app.popups(), 5, "the completions to close")
        # GTK's chooser shows a picture too, but only the game's pane has the preview button, at its top right.
        app.desk.click(x + w - 22, y + 22)
        preview = wait_until(lambda: [d for d, title, _ in app.dialogs() if title == "プレビュー"], 5,
                             "the preview window from the pane's button")[0]
        app.desk.focus(preview)
        app.desk.key("Escape")
        wait_until(lambda: len(app.dialogs()) == 1, 5, "the preview window to close after Escape")
        app.screen.request_close(dialog)
        wait_until(lambda: not app.dialogs(), 5, "the dialog to close")

    cases = [("GTK platform theme: the picture dialog is the game's own, with its pane", own_dialog_with_its_pane)]
    run_cases(runner, app, cases)


def exit_run(runner, executable, xserver, work_dir, builtin):
    """Each way out during a game ends with status 0 and leaves nothing in TMPDIR."""

    def ends_cleanly(name, end):
        tmp = os.path.join(work_dir, f"tmp-{name}")
        os.makedirs(tmp)
        app = Mozario(executable, xserver, work_dir, builtin, tmp_dir=tmp)
        runner.app = app
        try:
            app.find_window()
            app.locate_board()
            app.press_board(100, 100)
            app.wait_board(compose(builtin, [3, 2, 0, 1], 2), "a running game")
            end(app)
            try:
                status = app.proc.wait(10)
            except subprocess.TimeoutExpired:
                raise Failure("the program is still running 10 s later")
            expect(status == 0, f"exit status {status}")
            left = os.listdir(tmp)
            expect(not left, f"left in TMPDIR: {left}")
        finally:
            app.stop()
            runner.app = None

    def quit_item_after_the_dialog(app):
        app.open_dialog()
        app.desk.key("Escape")
        wait_until(lambda: not app.dialogs(), 5, "the dialog to close after Escape")
        app.menu_keys(("alt+z", 1), ("y", None))

    def sigterm_with_dialog_open(app):
        app.open_dialog()
        app.proc.send_signal(signal.SIGTERM)

    for name, end in (("終了 after the picture dialog", quit_item_after_the_dialog),
                      ("close request", lambda app: app.screen.request_close(app.window)),
                      ("SIGTERM with the picture dialog open", sigterm_with_dialog_open)):
        runner.case(f"{name} during a game: status 0, nothing left in TMPDIR",
                    lambda end=end, name=name: ends_cleanly(name.replace(" ", "-"), end))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("executable")
    parser.add_argument("--builtin", required=True, help="the built-in picture, assets/builtin.bmp")
    parser.add_argument("--artifacts", help="folder for screenshots of failed cases")
    parser.add_argument("--keep", action="store_true", help="keep the work folder with the logs")
    args = parser.parse_args()

    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing or not any(os.path.exists(p) for p in FAKETIME_LIBS):
        print(f"skipped: missing {', '.join(missing) or 'libfaketime'} (scripts/setup.sh tests installs them)")
        return 77

    # A stopped run (ctest's timeout, Ctrl+C) still stops the program and the X server.
    def interrupted(signum, _frame):
        raise SystemExit(f"stopped by signal {signum}")

    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGINT, interrupted)

    builtin = read_bmp(args.builtin)
    expect((builtin.w, builtin.h) == (BOARD_W, BOARD_H), "the built-in picture is not 480 x 360")
    executable = os.path.abspath(args.executable)
    runner = Runner(os.path.abspath(args.artifacts) if args.artifacts else None)
    start = time.monotonic()
    work_dir = tempfile.mkdtemp(prefix="mozario-e2e-")
    xserver = None
    try:
        xserver = XServer(SCREEN[0], SCREEN[1], work_dir)
        print(f"Xvfb on {xserver.display}", flush=True)
        play_run(runner, executable, xserver, work_dir, builtin)
        fast_clock_run(runner, executable, xserver, work_dir, builtin)
        high_dpi_run(runner, executable, xserver, work_dir, builtin)
        gtk_theme_run(runner, executable, xserver, work_dir, builtin)
        exit_run(runner, executable, xserver, work_dir, builtin)
    finally:
        if xserver:
            xserver.stop()
        if args.keep:
            print(f"work folder kept: {work_dir}")
        else:
            shutil.rmtree(work_dir, ignore_errors=True)
    print(f"total time {time.monotonic() - start:.0f} s")
    print(f"{runner.passed} passed, {runner.failed} failed")
    return 0 if runner.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
