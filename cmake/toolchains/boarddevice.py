"""The system stories' device (tests/system/harness.py) with an emulated board behind it: the
board of $TOVRIMAX_BOARD (an architecture), booted once for all stories (board.py). The device's
files lie in the folder the board shares; its processes, X server and syslog are on the board;
the tool is the board's deployed one."""

import atexit
import contextlib
import os
import re
import shlex
import shutil
import subprocess

import harness
from board import Board, BoardError, image_dir, make_stick, stick_files
from harness import BINARY, BOARD, DRAIN, ENV, INSIDE, REPO, TIME_FACTOR


class BoardDevice(harness.Device):
    board = None

    def __init__(self, screens=((800, 600),)):
        if not BoardDevice.board:
            BoardDevice.board = Board(BOARD, REPO / f"build-cross-{BOARD}/deploy",
                                      REPO / f"build/board-{BOARD}/run", TIME_FACTOR)
            atexit.register(BoardDevice.board.shutdown)
            BoardDevice.board.boot()
        self.SLEEP, self.started = image_dir(BOARD) / "root/usr/bin/sleep", False
        super().__init__(screens, self.board.share)

    def _display(self, screens):
        self.board.begin_device(self.dir, screens)

    @property
    def log(self):  # busybox's syslogd writes "Dec  5 14:38:55 USBStick: text" for each
        path = self.dir / "syslog"
        lines = path.read_text().splitlines() if path.exists() else []
        return [l[16:] for l in lines if not l[16:].startswith("syslogd ")]

    def start(self, *args, apps=(), env={}, drain=None):  # drain: see Device.start
        self.put("/tmp/.xdg/")
        self.path("/tmp/.xdg").chmod(0o700)
        (self.dir / "inside").write_text(INSIDE)
        self.board.start(self.dir, dict(ENV, APPS=" ".join(apps), HOME="/home/root",
                              XDG_RUNTIME_DIR="/tmp/.xdg", **env),
                         ["bash", "-c", (f"mount --bind {drain} {DRAIN} && " if drain else "") +
                          'exec env --block-signal=USR1 bash "$@"', "drain",
                          self.board.guest_path(self.dir / "inside"), BINARY, *args])
        self.started = True

    def put(self, device_path, content=b"", mode=0o644, mtime=None):
        if not self.started:  # a change the tool is to see is made on the board
            return super().put(device_path, content, mode, mtime)
        self.path("/tmp/.put").unlink(missing_ok=True)
        super().put("/tmp/.put" + ("/" if device_path.endswith("/") else ""), content, mode,
                    mtime)
        self.ctl(f"mkdir -p {shlex.quote(os.path.dirname(device_path.rstrip('/')))} && "
                 f"mv -T /tmp/.put {shlex.quote(device_path.rstrip('/'))}")

    def stick(self, label):  # a new stick, plugged through the emulator once the tool listens
        make_stick(self.dir / f"{label}.img", label)
        listening = "grep -Eq '^[0-9a-f]+ +15 +[0-9]+ +00000002 ' /proc/net/netlink"
        self.wait(lambda: self.board.run(listening, check=False)[0] == 0, "the udev monitor")
        self.board.plug(self.dir / f"{label}.img", label)

    def unplug(self, label):
        self.board.pull(label)

    def stick_files(self, label):  # read on this machine, the stick pulled first
        if label in self.board.plugged:
            self.board.pull(label)
        return stick_files(self.dir / f"{label}.img")

    def ctl(self, line):
        self.board.inside(line)

    def xdo(self, *args):
        return self.board.run(shlex.join(["env", "DISPLAY=:0", "xdotool", *map(str, args)]),
                              check=False)[1]

    def screenshot(self, png):
        with contextlib.suppress(BoardError, subprocess.CalledProcessError):
            self.board.screenshot(png)

    def keep(self, name):  # the board's device paths too
        self.ctl(f"cp -a /Orvalen /images /home /media /var {self.board.guest_path(self.root)}")
        return super().keep(name)

    def _gone(self):
        return self.board.died()

    def close(self):
        with contextlib.suppress(BoardError):
            for label in list(self.board.plugged):
                self.board.pull(label)
            self.board.end_device()
        shutil.rmtree(self.dir, ignore_errors=True)

    def bar(self, x=80, y=60):  # how full the report's progress bar is (window at x, y), 0 to 1
        self.screenshot(self.dir / "bar.png")  # a row of it above its text: blue where filled
        row = subprocess.run(["/usr/bin/convert", self.dir / "bar.png", "-crop", f"600x1+{x + 20}+"
                              f"{y + 448}", "-depth", "8", "txt:-"], capture_output=True, text=True)
        pixels = re.findall(r": \((\d+),(\d+),(\d+)", row.stdout)
        return sum(int(b) - int(r) > 80 for r, g, b in pixels) / 600
