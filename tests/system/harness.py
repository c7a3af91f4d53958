"""A private device for one run of the real Tovrimax (README.md tells how it works)."""

import contextlib
import os
import re
import select
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
BOARD = os.environ.get("TOVRIMAX_BOARD")  # an architecture: the stories run on an emulated board
BINARY = Path(os.environ.get("TOVRIMAX_BIN", REPO / "build" / "Tovrimax")).resolve()
ARTIFACTS = Path(os.environ.get("TOVRIMAX_ARTIFACTS", REPO / "build" / "test-artifacts"))
LAUNCHER = shlex.split(os.environ.get("TOVRIMAX_LAUNCHER", ""))  # the board's binary: qemu
TIME_FACTOR = float(os.environ.get("TOVRIMAX_TIME_FACTOR", "1"))
APPS = ("Brennhaven", "Mirelu", "qconnman-applet")
DEVICE = {"bwrap", "bash", "sleep", "ps", *APPS}  # what runs on the device besides the tool
# The signals a shell ignores and blocks, read by itself (not by a command it is starting)
SIGNALS = ('while read -r key value; do case $key in SigBlk:|SigIgn:) echo "$key $value";; '
           'esac; done </proc/$$/status')
# inside the sandbox: the applications (running before the tool starts), the control loop, the
# tool; the sandbox outlives it. As a supervisor may start it, the tool inherits SIGUSR1 blocked
# (start() blocks it), SIGHUP and the signals named in $IGNORE ignored; what it inherits is in
# /tmp/inherited.
INSIDE = f"""for app in $APPS; do /tmp/bin/$app infinity &
    until read -r name </proc/$!/comm && [ "$name" = "$app" ]; do :; done; done  # started
while :; do while read -r line; do eval "$line"; done < /tmp/ctl; done &
trap "" HUP $IGNORE
{SIGNALS} >/tmp/inherited
ulimit -S -c 0
"$@" >/tmp/stdout 2>/tmp/stderr; echo $? >/tmp/status.new; mv /tmp/status.new /tmp/status
exec sleep infinity"""
# A stand-in script records its argument vector, NUL-separated, one file per run (read once its
# last NUL is there), plus one argument when started unlike any program (a signal ignored or
# blocked that the tool did not inherit, a descriptor beside 0, 1, 2 and bash's 255) and OWN
# in a session and process group of its own. Only ls runs besides: light on a slow board.
OWN = "in a session and process group of its own"
RECORD = rf"""#!/bin/bash
ls /proc/$$/fd >/tmp/calls/.start.$$
{SIGNALS} >>/tmp/calls/.start.$$
read -r -d "" start </tmp/calls/.start.$$
read -r -d "" inherited </tmp/inherited
[ "$start" = $'0\n1\n2\n255\n'"$inherited" ] ||
    set -- "$@" "started unlike any program: ${{start//$'\n'/ }}"
read -r _ _ _ _ group session _ </proc/$$/stat; read -r _ _ _ _ _ sandbox _ </proc/1/stat
[ "$group" = "$session" ] && [ "$session" != "$sandbox" ] && set -- "$@" "{OWN}"
printf "%s\0" "$0" "$@" >/tmp/calls/${{0##*/}}.${{EPOCHREALTIME/./}}
"""


DRAIN = BINARY.parent / "scriptdrain"  # the tool's output drain, beside it; a copy of it here:
HOST_DRAIN = REPO / f"build-cross-{BOARD}/deploy/scriptdrain" if BOARD else DRAIN
PROBE = '#!/bin/bash\necho >>/tmp/probes\nexec /usr/bin/killall "$@"\n'  # counts the probes
ENV = {"PATH": "/tmp/bin:/usr/bin:/bin:/usr/sbin:/sbin", "QT_XCB_GL_INTEGRATION": "none",
       "LANG": "C.UTF-8"}  # the tool's environment, besides its applications in $APPS


def wait_until(check, timeout=10, what="a condition", death=lambda: None):
    """Waits for check() to hold; fails at once when death() names something the wait needs
    that has died, and after timeout seconds (stretched by the time factor) otherwise."""
    deadline = time.monotonic() + timeout * TIME_FACTOR
    while not (value := check()):
        if dead := death():
            assert (value := check()), f"while waiting for {what}: {dead}"  # its last act counts
            return value
        assert time.monotonic() < deadline, "timed out waiting for " + what
        time.sleep(0.25 if BOARD else 0.05)  # a look on the board costs it a process
    return value


def exit_status(status):  # a shell's $?: 128 and more is a signal's end
    return f"status {status}" + (f" ({signal.Signals(status - 128).name})" if status > 128 else "")


def tail(text, lines=10):
    return "".join(text.splitlines(keepends=True)[-lines:])


class Device:
    SLEEP = Path("/usr/bin/sleep")  # the stand-in applications are copies of it

    def __init__(self, screens=((800, 600),), parent=None):
        self.dir = Path(tempfile.mkdtemp(prefix="tvx-", dir=parent))
        self.root, self.bwrap, self.x, self.lines = self.dir / "root", None, None, []
        self.socket, self.lock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM), threading.Lock()
        try:
            for app in APPS:
                self.put("/tmp/bin/" + app, self.SLEEP.read_bytes(), 0o755)
            os.mkdir(self.path("/tmp/calls"))
            os.mkfifo(self.path("/tmp/ctl"))
            self._display(screens)
        except BaseException:
            self.close()  # nothing of a failed start stays behind
            raise

    def _display(self, screens):  # the syslog socket, and Xvfb :0 with its own network and /tmp
        self.xwrap = ["bwrap", "--dev-bind", "/", "/", "--bind", self.dir / "x", "/tmp",
                      "--unshare-net", "--die-with-parent", "--setenv", "DISPLAY", ":0", "--"]
        self.x_socket = self.dir / "x/.X11-unix/X0"
        self.socket.bind(str(self.dir / "log"))
        threading.Thread(target=self._receive, daemon=True).start()
        os.mkdir(self.dir / "x")
        sizes = [a for n, s in enumerate(screens) for a in ("-screen", str(n), "%dx%dx24" % s)]
        with open(self.dir / "xvfb.log", "wb") as xlog:
            self.x = subprocess.Popen(self.xwrap + ["Xvfb", ":0", "-nolisten", "tcp",
                                                    "-noreset", *sizes], stderr=xlog)
        wait_until(self.x_socket.exists, 10, "Xvfb", lambda: self._died(tool_may_end=True))

    def _receive(self):  # the tool's syslog() waits while ten datagrams are left unread
        with contextlib.suppress(OSError, ValueError):  # until the socket is closed
            while self.socket.fileno() >= 0:
                select.select([self.socket], [], [], 0.1)
                self.log  # reads what has come

    @property
    def log(self):  # every syslog line sent so far: "<15>Dec  5 14:38:55 USBStick: text\n" each
        with self.lock:
            while True:
                try:
                    line = self.socket.recv(65536, socket.MSG_DONTWAIT).decode(errors="replace")
                except OSError:  # none left, or closed
                    return self.lines
                self.lines.append(re.sub(r"^<\d+>\w+ +\d+ [\d:]+ ", "", line).rstrip("\n"))

    @property
    def debug(self):  # the tool's own debug lines, without the syslog ident and their prefix
        return [l[21:] for l in self.log if l.startswith("USBStick: [USBStick] ")]

    def path(self, device_path):
        return self.root / device_path.lstrip("/")

    def put(self, device_path, content=b"", mode=0o644, mtime=None):  # "dir/": a directory
        path = self.path(device_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        if device_path.endswith("/"):
            return path.mkdir(exist_ok=True)
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        path.chmod(mode)
        if mtime:
            os.utime(path, (mtime, mtime))

    def stick(self, label):  # a stick, which the device mounts at /media/qz/LABEL
        self.ctl(f"mkdir /media/qz/{label}")

    def stick_files(self, label):  # {name: content} of the files on it
        return {p.name: p.read_bytes() for p in self.path("/media/qz/" + label).iterdir()}

    def script(self, device_path, body="", mode=0o755):  # records its run, then runs body
        self.put(device_path, RECORD + body + "\n", mode)

    def calls(self, name):  # the argument vectors of a stand-in's runs, in start order
        runs = sorted(self.path("/tmp/calls").glob(name + ".*"))
        return [t.split("\0")[:-1] for p in runs if (t := p.read_text()).endswith("\0")]

    def _gone(self):  # the X server or the sandbox, when it has died
        if self.x.poll() is not None:
            return f"Xvfb ended ({exit_status(self.x.returncode)}): " + tail(
                (self.dir / "xvfb.log").read_text(errors="replace"))
        if self.bwrap and self.bwrap.poll() is not None:
            return f"the sandbox ended ({exit_status(self.bwrap.returncode)})"

    def _died(self, tool_may_end):  # what a wait needs that has died, and its last words
        if dead := self._gone():
            return dead
        if not tool_may_end and self.ended():
            status = int(self.path("/tmp/status").read_text())
            return f"the tool ended ({exit_status(status)}), its stderr ending: " + tail(
                self.out("stderr"))

    def wait(self, check, what, timeout=10, tool_may_end=False):
        """wait_until(), failing at once when the X server, the sandbox or (unless it may
        end) the tool has died"""
        return wait_until(check, timeout, what, lambda: self._died(tool_may_end))

    def start(self, *args, apps=(), env={}, drain=None):  # drain: a file to stand for the drain
        self.bwrap = subprocess.Popen(
            [REPO / "tests/sandbox/sandbox-run", "--root", self.root,
             "--bind", self.dir / "log", "/dev/log", "--ro-bind", BINARY.parent, BINARY.parent,
             *(("--bind", self.path(drain), DRAIN) if drain else ()),
             "--bind", self.x_socket, "/tmp/.X11-unix/X0",
             *[a for k, v in dict(ENV, APPS=" ".join(apps), **env).items()
               for a in ("--setenv", k, v)],
             "--", "env", "--block-signal=USR1", "bash", "-c", INSIDE, "inside", *LAUNCHER,
             BINARY, *args], stdin=subprocess.DEVNULL)

    def _ctl_writer(self):  # fails at once while the loop inside has not opened its end
        try:
            return os.open(self.path("/tmp/ctl"), os.O_WRONLY | os.O_NONBLOCK)
        except OSError:
            return None

    def ctl(self, line):  # runs a shell line inside the sandbox ("pkill -x Mirelu"), waits
        self.path("/tmp/ack").unlink(missing_ok=True)
        with os.fdopen(self.wait(self._ctl_writer, "the sandbox", tool_may_end=True), "w") as f:
            f.write(line + "\n: >/tmp/ack\n")
        self.wait(self.path("/tmp/ack").exists, line, tool_may_end=True)

    def past_five_seconds(self, seen):  # by when a 5 s timer from a show seen then has ended it
        time.sleep(max(0.0, seen + 5 + TIME_FACTOR - time.monotonic()))

    def ended(self):
        return self.path("/tmp/status").exists()

    def status(self, timeout=20):  # the tool's exit status, once it has ended
        self.wait(self.ended, "the tool's end", timeout, tool_may_end=True)
        return int(self.path("/tmp/status").read_text())

    def running(self):  # the command names of the processes in the sandbox now
        self.ctl("ps -e -o comm= >/tmp/ps")
        return self.path("/tmp/ps").read_text().split()

    def out(self, stream="stdout"):
        path = self.path("/tmp/" + stream)
        return path.read_text(errors="replace") if path.exists() else ""

    def wait_log(self, text, timeout=10):
        return self.wait(lambda: [l for l in self.log if text in l], "syslog: " + text, timeout)

    def wait_out(self, text, timeout=10):
        self.wait(lambda: text in self.out(), "stdout: " + text, timeout)

    def xdo(self, *args):
        return subprocess.run(self.xwrap + ["xdotool", *map(str, args)], capture_output=True,
                              text=True, timeout=20 * TIME_FACTOR).stdout

    def window(self, title):  # the id of the visible window with this title; waits for it
        found = lambda: self.xdo("search", "--onlyvisible", "--name", f"^{title}$").split()
        return self.wait(found, "window " + title)[0]

    def geometry(self, window):  # (x, y, width, height, X screen): the screen is its parent's
        x, y, screen, width, height = map(int, re.findall(r"-?\d+", self.xdo(
            "getwindowgeometry", window))[1:6])
        return x, y, width, height, screen

    def click(self, window, x, y):
        self.xdo("mousemove", "--window", window, x, y, "click", "1")

    def keep(self, name):  # the evidence: device tree, outputs, syslog, X log and screen
        kept = ARTIFACTS / re.sub(r"[^\w.-]+", "_", name)
        shutil.rmtree(kept, ignore_errors=True)  # nothing of an earlier run mixed in
        shutil.copytree(self.dir, kept, symlinks=True, ignore=lambda d, names: [
            n for n in names if not (Path(d, n).is_file() or Path(d, n).is_dir())])
        (kept / "syslog.txt").write_text("".join(line + "\n" for line in self.log))
        self.screenshot(kept / "screen.png")
        return kept

    def screenshot(self, png):
        subprocess.run(self.xwrap + ["/usr/bin/import", "-window", "root", png],
                       capture_output=True, timeout=20)

    def close(self):
        for proc in (self.bwrap, self.x):
            if proc:
                proc.terminate()
                proc.wait()
        self.socket.close()
        shutil.rmtree(self.dir, ignore_errors=True)



if BOARD:  # the same device on an emulated board (cmake/toolchains/boarddevice.py)
    sys.path.insert(0, str(REPO / "cmake/toolchains"))
    from boarddevice import BoardDevice as Device  # noqa: E402,F811
