"""A private device for one run of the real Tovrimax: its file tree, an X server, a syslog
receiver at its /dev/log, stand-in device scripts that record their arguments, and stand-in
watched applications that a test starts and stops while the tool runs."""

import os
import re
import shlex
import shutil
import socket
import subprocess
import tempfile
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
BINARY = Path(os.environ.get("TOVRIMAX_BIN", REPO / "build" / "Tovrimax")).resolve()
# the board's binary runs under an emulator: TOVRIMAX_LAUNCHER is the command put before it,
# TOVRIMAX_TIME_FACTOR stretches every wait of the stories
LAUNCHER = shlex.split(os.environ.get("TOVRIMAX_LAUNCHER", ""))
TIME_FACTOR = float(os.environ.get("TOVRIMAX_TIME_FACTOR", "1"))
EMULATED = bool(LAUNCHER)
APPS = ("Brennhaven", "Mirelu", "qconnman-applet")
# inside the sandbox: the watched applications, a control loop that runs the shell lines a test
# writes to /tmp/ctl, then the tool; the sandbox outlives the tool, so that what the tool
# started can finish after it, until the test closes the device
INSIDE = """for app in $APPS; do /tmp/bin/$app infinity & done
while :; do while read -r line; do eval "$line"; done < /tmp/ctl; done &
"$@" >/tmp/stdout 2>/tmp/stderr; echo $? >/tmp/status.new; mv /tmp/status.new /tmp/status
exec sleep infinity"""
# a stand-in script records its argument vector, NUL-separated, one file per run
RECORD = '#!/bin/bash\nprintf "%s\\0" "$0" "$@" >/tmp/calls/.$$; mv /tmp/calls/.$$ /tmp/calls/${0##*/}.$(date +%s%N)\n'


def wait_until(check, timeout=10, what="a condition"):
    deadline = time.monotonic() + timeout * TIME_FACTOR
    while not (value := check()):
        assert time.monotonic() < deadline, "timed out waiting for " + what
        time.sleep(0.05)
    return value


class Device:
    def __init__(self, screens=((800, 600),)):
        self.dir = Path(tempfile.mkdtemp(prefix="tvx-"))
        self.root, self.tool, self.log = self.dir / "root", None, []
        for app in APPS:
            self.put("/tmp/bin/" + app, Path("/usr/bin/sleep").read_bytes(), 0o755)
        os.mkdir(self.path("/tmp/calls"))
        os.mkfifo(self.path("/tmp/ctl"))
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.socket.bind(str(self.dir / "log"))
        threading.Thread(target=self._receive, daemon=True).start()
        # Xvfb :0 with its own network and /tmp, so it never meets a display of the machine
        self.xwrap = ["bwrap", "--dev-bind", "/", "/", "--bind", self.dir / "x", "/tmp", "--unshare-net",
                      "--die-with-parent", "--setenv", "DISPLAY", ":0", "--"]
        self.x_socket = self.dir / "x/.X11-unix/X0"
        os.mkdir(self.dir / "x")
        screens = [a for n, (w, h) in enumerate(screens) for a in ("-screen", str(n), "%dx%dx24" % (w, h))]
        self.x = subprocess.Popen(self.xwrap + ["Xvfb", ":0", "-nolisten", "tcp", "-noreset", *screens],
                                  stderr=subprocess.DEVNULL)
        wait_until(self.x_socket.exists, 10, "Xvfb")

    def _receive(self):
        while True:  # one datagram per syslog() call: "<15>Dec  5 14:38:55 USBStick: text\n"
            line = self.socket.recv(65536).decode(errors="replace")
            self.log.append(re.sub(r"^<\d+>\w+ +\d+ [\d:]+ ", "", line).rstrip("\n"))

    def path(self, device_path):
        return self.root / device_path.lstrip("/")

    def put(self, device_path, content=b"", mode=0o644, mtime=None):
        path = self.path(device_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        path.chmod(mode)
        if mtime:
            os.utime(path, (mtime, mtime))
        return path

    def script(self, device_path, body="", mode=0o755):
        """A stand-in device script: records its run, then runs body (bash)."""
        self.put(device_path, RECORD + body + "\n", mode)

    def calls(self, name):
        """Argument vectors of the runs of the stand-in named name, in start order."""
        return [p.read_text().split("\0")[:-1] for p in sorted(self.path("/tmp/calls").glob(name + ".*"))]

    def start(self, *args, apps=(), env={}, wrap=(), binary=BINARY):
        """wrap: a command put before the binary, e.g. a timer; binary: another program to run."""
        self.bwrap = subprocess.Popen(
            [REPO / "tests/sandbox/sandbox-run", "--root", self.root, "--bind", self.dir / "log", "/dev/log",
             "--ro-bind", BINARY.parent, BINARY.parent,
             "--bind", self.x_socket, "/tmp/.X11-unix/X0",
             "--setenv", "APPS", " ".join(apps), "--setenv", "PATH", "/tmp/bin:/usr/bin:/bin:/usr/sbin:/sbin",
             "--setenv", "QT_XCB_GL_INTEGRATION", "none", "--setenv", "LANG", "C.UTF-8",
             *[a for k, v in env.items() for a in ("--setenv", k, v)],
             "--", "bash", "-c", INSIDE, "inside", *wrap,
             *(LAUNCHER if binary == BINARY else []), binary, *args], stdin=subprocess.DEVNULL)

    def ctl(self, line):
        """Runs one shell line inside the sandbox, e.g. "pkill -x Mirelu", and waits for it."""
        self.path("/tmp/ack").unlink(missing_ok=True)
        with open(self.path("/tmp/ctl"), "w") as f:
            f.write(line + "\n: >/tmp/ack\n")
        wait_until(self.path("/tmp/ack").exists, 10, line)

    def status(self, timeout=20):
        """The tool's exit status, once it has ended."""
        return int(wait_until(lambda: self.path("/tmp/status").exists(), timeout, "the tool's end")
                   and self.path("/tmp/status").read_text())

    def out(self, stream="stdout"):
        path = self.path("/tmp/" + stream)
        return path.read_text(errors="replace") if path.exists() else ""

    def wait_log(self, text, timeout=10):
        return wait_until(lambda: [l for l in self.log if text in l], timeout, "syslog: " + text)

    def wait_out(self, text, timeout=10):
        wait_until(lambda: text in self.out(), timeout, "stdout: " + text)

    def xdo(self, *args):
        return subprocess.run(self.xwrap + ["xdotool", *map(str, args)], capture_output=True, text=True,
                              timeout=20).stdout

    def window(self, title):
        """The id of the visible window with this title; waits for it."""
        return wait_until(lambda: self.xdo("search", "--onlyvisible", "--name", "^%s$" % title).split(),
                          10, "window " + title)[0]

    def position(self, window):
        geometry = self.xdo("getwindowgeometry", window).split("Position: ")[1].split()[0]
        return tuple(map(int, geometry.split(",")))

    def click(self, window, x, y):
        self.xdo("mousemove", "--window", window, x, y, "click", "1")

    def close(self):
        for proc in (getattr(self, "bwrap", None), self.x):
            if proc:
                proc.terminate()
                proc.wait()
        self.socket.close()
        shutil.rmtree(self.dir, ignore_errors=True)
