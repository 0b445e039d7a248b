#!/usr/bin/env python3
"""End-to-end test of the built mozario program as a native Wayland client.

Starts a headless weston of its own (pixman renderer, desktop shell), runs the unmodified
executable in it with Qt's wayland platform, finds the built-in picture in the screenshots of
weston's screenshooter and checks the window around it against the layout, then ends the
program with SIGTERM: status 0, and nothing left in its TMPDIR or XDG_RUNTIME_DIR.

Usage: wayland_test.py MOZARIO_EXECUTABLE --builtin assets/builtin.bmp [--artifacts DIR]
Prints one line per case and ends with "N passed, M failed"; exits 1 on any failure, 77 when
weston, its screenshooter or Qt's wayland platform is missing or weston cannot run here.
"""

import argparse
import glob
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

sys.dont_write_bytecode = True  # the shared helpers are imported from the source tree: leave it clean
import e2e_test
from e2e_test import (BOARD_H, BOARD_W, BOARD_X, BOARD_Y, CLIENT_W, PREVIEW_H, PREVIEW_W, PREVIEW_X,
                      PREVIEW_Y, Failure, Raster, expect, read_bmp, stop_process, wait_until)

OUTPUT = (800, 720)  # weston's screen: room for the window wherever the shell places it
SOCKET = "mozario-test"
QT_WAYLAND_PLUGINS = "/usr/lib/*/qt6/plugins/platforms/libqwayland-*.so"


class Skip(Exception):
    pass


def read_png(path):
    """An 8-bit RGB or RGBA PNG, as the screenshooter writes it, without its alpha."""
    with open(path, "rb") as f:
        data = f.read()
    pos, idat = 8, b""
    while pos < len(data):
        length, = struct.unpack_from(">I", data, pos)
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour_type, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour_type not in (2, 6) or interlace:
                raise Failure(f"{path}: a PNG of depth {depth}, colour type {colour_type}")
        elif kind == b"IDAT":
            idat += body
    bpp = 3 if colour_type == 2 else 4
    stride = width * bpp
    raw = zlib.decompress(idat)
    prior = bytearray(stride)
    rows = []
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        # The PNG row filters: none, sub, up, average, Paeth.
        if kind == 1:
            for x in range(bpp, stride):
                line[x] = (line[x] + line[x - bpp]) & 255
        elif kind == 2:
            line = bytearray((a + b) & 255 for a, b in zip(line, prior))
        elif kind == 3:
            for x in range(stride):
                line[x] = (line[x] + ((line[x - bpp] if x >= bpp else 0) + prior[x]) // 2) & 255
        elif kind == 4:
            for x in range(stride):
                a, b = (line[x - bpp], prior[x - bpp]) if x >= bpp else (0, 0)
                up = prior[x]
                p = a + up - b
                pa, pb, pc = abs(p - a), abs(p - up), abs(p - b)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else up if pb <= pc else b)) & 255
        rows.append(bytes(line) if bpp == 3 else bytes(v for i, v in enumerate(line) if i % 4 != 3))
        prior = line
    return Raster(width, height, b"".join(rows))


class Weston:
    """A headless weston with its desktop shell, and screenshots of its screen."""

    def __init__(self, work_dir):
        self.runtime = os.path.join(work_dir, "weston-runtime")
        self.shots = os.path.join(work_dir, "shots")
        os.makedirs(self.runtime, mode=0o700)
        os.makedirs(self.shots)
        self.env = {k: v for k, v in os.environ.items() if not k.startswith(("WAYLAND_", "XDG_"))}
        self.env.pop("DISPLAY", None)
        self.env["XDG_RUNTIME_DIR"] = self.runtime
        self.log_path = os.path.join(work_dir, "weston.log")
        # --debug lets the screenshooter in.
        self.proc = subprocess.Popen(
            ["weston", "--backend=headless-backend.so", "--use-pixman", f"--width={OUTPUT[0]}",
             f"--height={OUTPUT[1]}", f"--socket={SOCKET}", "--no-config", "--idle-time=0", "--debug",
             f"--log={self.log_path}"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        self.socket = os.path.join(self.runtime, SOCKET)
        deadline = time.monotonic() + 20
        while not os.path.exists(self.socket):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.stop()
                with open(self.log_path, errors="replace") as log:
                    said = log.read().strip().splitlines()
                raise Skip(f"weston cannot run here: {said[-1] if said else 'no socket, no log'}")
            time.sleep(0.05)
        self.last_shot = None

    def screenshot(self):
        for name in os.listdir(self.shots):
            os.remove(os.path.join(self.shots, name))
        subprocess.run(["weston-screenshooter"], cwd=self.shots, env=dict(self.env, WAYLAND_DISPLAY=SOCKET),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=20, check=True)
        shots = os.listdir(self.shots)
        expect(len(shots) == 1, f"the screenshooter wrote {shots}")
        self.last_shot = os.path.join(self.shots, shots[0])
        return read_png(self.last_shot)

    def stop(self):
        stop_process(self.proc)


def find_picture(screen, picture):
    """The top-left corner of the place where picture is shown whole, or None."""
    top = picture.row(0)
    for y in range(screen.h - picture.h + 1):
        row = screen.row(y)
        x = row.find(top)
        while x >= 0:
            if x % 3 == 0 and screen.crop(x // 3, y, picture.w, picture.h).rgb == picture.rgb:
                return x // 3, y
            x = row.find(top, x + 1)
    return None


def expect_plain(screen, rect, colour, what):
    x, y, w, h = rect
    area = screen.crop(x, y, w, h)
    other = w * h - area.count(colour)
    expect(other == 0, f"{what}: {other} of {w * h} pixels are not the window's background {colour}")


def run(executable, builtin, work_dir, weston, runner):
    tmp, runtime, home = (os.path.join(work_dir, name) for name in ("tmp", "runtime", "home"))
    os.makedirs(tmp)
    os.makedirs(runtime, mode=0o700)
    os.makedirs(home)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "XDG_", "WAYLAND_", "LC_"))}
    env.pop("DISPLAY", None)  # no way back to X
    env.update({"QT_QPA_PLATFORM": "wayland", "WAYLAND_DISPLAY": weston.socket, "XDG_RUNTIME_DIR": runtime,
                "TMPDIR": tmp, "HOME": home, "XDG_CONFIG_HOME": os.path.join(home, ".config"),
                "LANG": "C.UTF-8"})
    log_path = os.path.join(work_dir, "mozario.log")
    with open(log_path, "wb") as log:
        proc = subprocess.Popen([executable], cwd=work_dir, env=env, stdout=log, stderr=subprocess.STDOUT,
                                start_new_session=True)
        def said():
            with open(log_path, "rb") as f:
                return f.read().decode(errors="replace").strip()

        try:
            def window_shows_the_picture():
                def shown():
                    if proc.poll() is not None:
                        raise Failure(f"the program ended with status {proc.returncode}, saying: {said()}")
                    screen = weston.screenshot()
                    place = find_picture(screen, builtin)
                    return place and (screen, place)
                # The whole picture, pixel for pixel, then the client area's background around it
                # as far as the layout says.
                screen, (x, y) = wait_until(shown, 30, "the built-in picture on weston's screen", interval=0.2)
                left, top = x - BOARD_X, y - BOARD_Y
                background = screen.px(left, top)
                expect_plain(screen, (left, top, CLIENT_W, BOARD_Y), background, "above the board")
                expect_plain(screen, (left, y, BOARD_X, BOARD_H), background, "left of the board")
                expect_plain(screen, (x + BOARD_W, y, CLIENT_W - BOARD_X - BOARD_W, BOARD_H), background,
                             "right of the board")
                expect_plain(screen, (left + PREVIEW_X, top + PREVIEW_Y, PREVIEW_W, PREVIEW_H), background,
                             "the empty preview")

            def ends_on_sigterm():
                proc.send_signal(signal.SIGTERM)
                try:
                    status = proc.wait(10)
                except subprocess.TimeoutExpired:
                    raise Failure("the program is still running 10 s after SIGTERM")
                expect(status == 0, f"exit status {status}")
                left = os.listdir(tmp) + os.listdir(runtime)
                expect(not left, f"left in TMPDIR or XDG_RUNTIME_DIR: {left}")

            runner.case("the window shows the built-in picture at the board's place", window_shows_the_picture)
            runner.case("SIGTERM: status 0, nothing left in TMPDIR or XDG_RUNTIME_DIR", ends_on_sigterm)
            runner.case("no warning on the way", lambda: expect(not said(), f"the program wrote: {said()}"))
        finally:
            stop_process(proc)


class Runner(e2e_test.Runner):
    """The end-to-end runner, keeping weston's last screenshot of a failed case."""

    def __init__(self, artifacts, weston):
        super().__init__(artifacts)
        self.weston = weston

    def save_screen(self, name):
        if self.artifacts and self.weston.last_shot:
            os.makedirs(self.artifacts, exist_ok=True)
            path = os.path.join(self.artifacts, "".join(c if c.isalnum() else "_" for c in name) + ".png")
            shutil.copyfile(self.weston.last_shot, path)
            print(f"     screen saved to {path}", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("executable")
    parser.add_argument("--builtin", required=True, help="the built-in picture, assets/builtin.bmp")
    parser.add_argument("--artifacts", help="folder for the screenshot of a failed case")
    args = parser.parse_args()

    missing = [tool for tool in ("weston", "weston-screenshooter") if not shutil.which(tool)]
    if not glob.glob(QT_WAYLAND_PLUGINS):
        missing.append("Qt's wayland platform (qt6-wayland)")
    if missing:
        print(f"skipped: missing {', '.join(missing)} (scripts/setup.sh tests installs them)")
        return 77

    def interrupted(signum, _frame):
        raise SystemExit(f"stopped by signal {signum}")
    signal.signal(signal.SIGTERM, interrupted)

    builtin = read_bmp(args.builtin)
    work_dir = tempfile.mkdtemp(prefix="mozario-wayland-")
    weston = None
    try:
        try:
            weston = Weston(work_dir)
        except Skip as e:
            print(f"skipped: {e}")
            return 77
        runner = Runner(os.path.abspath(args.artifacts) if args.artifacts else None, weston)
        run(os.path.abspath(args.executable), builtin, work_dir, weston, runner)
    finally:
        if weston:
            weston.stop()
        shutil.rmtree(work_dir, ignore_errors=True)
    print(f"{runner.passed} passed, {runner.failed} failed")
    return 0 if runner.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
