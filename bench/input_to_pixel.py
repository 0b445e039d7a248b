#!/usr/bin/env python3
"""What a player waits for with a big photo, from the input to the first changed pixel on the
screen, through the real program under Xvfb.

Each round starts the program afresh, sets 81 pieces, loads the photo through the dialog and
then plays: the first New game, the first press (its red frame), an exchange, a later press
after the exchange's redraw, and a later New game.  The later press and New game are the same
work on memory already in use, so the first ones are shown against them.  The load is shown
against `djpeg -dct float -ppm` on the same file, timed in the same round, and the program's
peak memory is read at the end of each round.  As a player's would, Return comes `--choose`
seconds after the photo is named in the dialog (its preview shows meanwhile), and the first move
`--pause` seconds after the photo shows; with 0 they also pay for whatever the program had left
to ready between events.  Times are the median of the rounds.  The timed inputs go to the server through
its XTEST extension on a connection of this script's own: starting xdotool takes longer than
most of what is timed.

Usage: bench/input_to_pixel.py build/app/mozario [--size 8000x6000] [--progressive]
           [--rounds 5] [--choose 1] [--pause 1] [--photo FILE]
Run it on a quiet machine: anything else running shows in the figures.
"""

import argparse
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from e2e_test import (BOARD_H, BOARD_W, BOARD_X, BOARD_Y, SCREEN, Mozario, ScreenReader,  # noqa: E402
                      XServer, read_bmp, wait_until)

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
GREEN = (40, 170, 90)  # the photo's hue, which neither the built-in picture nor the dialog has


class FakeInput:
    """Key presses and clicks through XTEST; each returns once the server has taken it."""

    def __init__(self, number):
        self.x = ScreenReader(number)
        name = b"XTEST"
        self.x.sock.sendall(struct.pack("<BxHHxx", 98, 2 + (len(name) + 3) // 4, len(name))
                            + name + b"\0" * (-len(name) % 4))
        reply = self.x._reply("QueryExtension(XTEST)")
        if not reply[8]:
            raise SystemExit("the X server has no XTEST extension")
        self.opcode = reply[9]
        self.x.sock.sendall(struct.pack("<BxHBBxx", 101, 2, 8, 248))  # GetKeyboardMapping
        reply = self.x._reply("GetKeyboardMapping")
        per, syms = reply[1], reply[32:]
        self.keycodes = {}
        for i in range(len(syms) // 4):
            self.keycodes.setdefault(struct.unpack_from("<I", syms, 4 * i)[0], 8 + i // per)

    def _send(self, kind, detail, x=0, y=0):
        self.x.sock.sendall(struct.pack("<BBHBBHIIIIhhIHBB", self.opcode, 2, 9, kind, detail, 0, 0,
                                        self.x.root if kind == 6 else 0, 0, 0, x, y, 0, 0, 0, 0))

    def _sync(self):
        self.x.sock.sendall(struct.pack("<BxH", 43, 1))  # GetInputFocus: a round trip
        self.x._reply("GetInputFocus")

    def key(self, keysym):
        code = self.keycodes[keysym]
        self._send(2, code)
        self._send(3, code)
        self._sync()

    def click(self, x, y, button=1):
        self._send(6, 0, x, y)
        self._send(4, button)
        self._send(5, button)
        self._sync()

    def close(self):
        self.x.close()


RETURN, Z = 0xFF0D, ord("z")


def make_photo(path, width, height, progressive):
    """A green photo with a fine texture, so that its scan data is not trivially small."""
    period = 997
    base = bytearray()
    for i in range(width + period):
        n = (i * 2654435761) >> 7 & 31
        base += bytes((GREEN[0] + n, GREEN[1] - n, GREEN[2] + (n >> 1)))
    ppm = path + ".ppm"
    with open(ppm, "wb") as f:
        f.write(b"P6 %d %d 255\n" % (width, height))
        for y in range(height):
            at = (y * 7) % period * 3
            f.write(base[at:at + width * 3])
    subprocess.run(["cjpeg", "-quality", "90", *(["-progressive"] if progressive else []),
                    "-outfile", path, ppm], check=True)
    os.remove(ppm)


def greenish(raster):
    px = [raster.px(x, 0) for x in range(0, raster.w, 8)]
    return sum(g > r + 60 and g > b + 30 for r, g, b in px) > 0.9 * len(px)


def timed(action, changed, what, timeout=60):
    """Milliseconds from just before the input to the first grab that shows the change."""
    start = time.monotonic()
    action()
    wait_until(changed, timeout, what, interval=0.001)
    return (time.monotonic() - start) * 1000


def one_round(executable, photo, builtin, work_dir, choose, pause):
    xserver = XServer(SCREEN[0], SCREEN[1], work_dir)
    app = fake = None
    try:
        app = Mozario(executable, xserver, work_dir, builtin)
        fake = FakeInput(xserver.number)
        app.find_window()
        app.locate_board()
        app.menu_keys(("alt+y", 1), ("y", 2), ("8", 0))  # 81 pieces
        dialog = app.open_dialog()
        app.desk.key("ctrl+a")
        app.desk.type(photo)
        time.sleep(choose)  # the player looks at the pane's preview before opening the photo
        strip = lambda: app.grab(BOARD_X, BOARD_Y + BOARD_H // 2, BOARD_W, 1)  # noqa: E731
        figures = {"load": timed(lambda: fake.key(RETURN), lambda: greenish(strip()), "the photo")}
        wait_until(lambda: not any(w[0] == dialog for w in app.dialogs()), 10, "the dialog to close")
        time.sleep(pause)  # the player looks at the photo before the first move

        def new_game():
            before = strip().rgb
            app.menu_keys(("alt+z", 1))
            ms = timed(lambda: fake.key(Z), lambda: strip().rgb != before, "a shuffled board")
            wait_until(lambda: not app.popups(), 5, "the menu to close")
            return ms

        cell_w, cell_h = BOARD_W // 9, BOARD_H // 9

        def press(cell, button=1):
            x, y = cell % 9 * cell_w, cell // 9 * cell_h
            area = lambda: app.grab(BOARD_X + x, BOARD_Y + y, cell_w, cell_h)  # noqa: E731
            before = area().rgb
            at = (app.client[0] + BOARD_X + x + cell_w // 2, app.client[1] + BOARD_Y + y + cell_h // 2)
            return timed(lambda: fake.click(*at, button),
                         lambda: area().rgb != before, f"cell {cell} to change")

        def settled():
            # The exchange's frames and its redraw come and go; wait until the board stays put.
            last = app.board().rgb
            while True:
                time.sleep(0.3)
                now = app.board().rgb
                if now == last:
                    return
                last = now

        figures["first New game"] = new_game()
        figures["first press"] = press(10)
        press(70)  # the exchange
        settled()
        figures["later press"] = press(20)
        app.press_board(20 % 9 * cell_w + cell_w // 2, 20 // 9 * cell_h + cell_h // 2, 3)
        settled()
        figures["later New game"] = new_game()
        with open(f"/proc/{app.proc.pid}/status") as status:
            peak_kb = next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
        return figures, peak_kb / 1024
    finally:
        if fake:
            fake.close()
        if app:
            app.stop()
        xserver.stop()


def djpeg_ms(photo):
    start = time.monotonic()
    subprocess.run(["djpeg", "-dct", "float", "-ppm", "-outfile", os.devnull, photo], check=True)
    return (time.monotonic() - start) * 1000


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("executable")
    parser.add_argument("--size", default="8000x6000")
    parser.add_argument("--progressive", action="store_true")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--choose", type=float, default=1.0,
                        help="seconds between the photo named in the dialog and Return (default 1)")
    parser.add_argument("--pause", type=float, default=1.0,
                        help="seconds between the photo on the screen and the first move (default 1)")
    parser.add_argument("--photo", help="a JPEG file of your own instead of a made-up one")
    args = parser.parse_args()

    builtin = read_bmp(os.path.join(ROOT, "assets", "builtin.bmp"))
    executable = os.path.abspath(args.executable)
    with tempfile.TemporaryDirectory(prefix="mozario-input-to-pixel-") as work_dir:
        photo = os.path.abspath(args.photo) if args.photo else os.path.join(work_dir, "photo.jpg")
        if not args.photo:
            width, height = (int(v) for v in args.size.split("x"))
            make_photo(photo, width, height, args.progressive)
        rounds, peaks = [], []
        for i in range(args.rounds):
            figures, peak_mb = one_round(executable, photo, builtin, work_dir, args.choose, args.pause)
            figures["djpeg"] = djpeg_ms(photo)
            rounds.append(figures)
            peaks.append(peak_mb)
            print(f"round {i + 1}: " + ", ".join(f"{k} {v:.0f} ms" for k, v in figures.items()) +
                  f"; peak memory {peak_mb:.0f} MB", flush=True)

    median = {k: statistics.median(r[k] for r in rounds) for k in rounds[0]}
    what = args.photo or f"a made-up {args.size}{' progressive' if args.progressive else ''} photo"
    print(f"\n{what}, opened {args.choose:g} s after it was named, first move {args.pause:g} s after the load,"
          f" median of {args.rounds} fresh starts:")
    for name, reference in (("load", "djpeg"), ("first press", "later press"),
                            ("first New game", "later New game")):
        print(f"  {name:15} {median[name]:7.0f} ms   {reference:15} {median[reference]:7.0f} ms"
              f"   ratio {median[name] / median[reference]:.2f}")
    print(f"  peak memory {min(peaks):.0f}-{max(peaks):.0f} MB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
