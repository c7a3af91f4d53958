"""Host-side helpers for the system tests: they run the real Tovrimax binary in a private root
(tests/sandbox/sandbox-run) on a private X server, and observe what the device would see.

The pieces, each usable on its own (conftest.py turns them into fixtures):

  Sandbox        one private device per test: the device tree (/Orvalen, /images, /home,
                 /media, /var), its own /tmp, a syslog receiver at /dev/log, stand-in device
                 scripts, stand-in watched applications, and start() to run the tool in it.
  DeviceTree     create and inspect files of the device tree by their device paths.
  StandIn        a stand-in device script or command that records every run's argument vector
                 and behaves as the test says (output, sleep, hold until released, exit code).
  SyslogReceiver the host end of the sandbox's /dev/log; collects lines, wait_for().
  XServer        Xvfb :0 in its own network namespace with a private socket directory; find
                 windows by title, read geometry, click, take screenshots, watch for mapped
                 windows.
  Tool           a running tool: wait(), stdout, stderr, wait_for_stdout(), apps control.

Nothing here touches the host's /images, /home, /media, /Orvalen, /var or /tmp/locale: the
sandbox binds directories of a per-test base directory (under /tmp/tvx-*) over those paths.
"""

import json
import os
import re
import shlex
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
from dataclasses import dataclass
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
SANDBOX_RUN = REPO / "tests" / "sandbox" / "sandbox-run"
SUPERVISOR = REPO / "tests" / "sandbox" / "supervisor.py"
STANDIN_BODY = REPO / "tests" / "sandbox" / "standin.sh"
PYTHON = "/usr/bin/python3"

# where the harness's own files appear inside the sandbox
HARNESS_MOUNT = "/harness"
DEVICE_TOP_DIRS = ("Orvalen", "images", "home", "media", "var")
WATCHED_APPS = ("Brennhaven", "Mirelu", "qconnman-applet")
USAGE_LINE = "Usage: ./Tovrimax -d -c ver -l Chinese"
START_END_LINE = "Housekeeper start tool end"

# the device scripts every sandbox gets, recording their runs (key = file name)
DEFAULT_STANDINS = (
    "/Orvalen/opt/savelog.sh",
    "/Orvalen/opt/logcapture.sh",
    "/Orvalen/bin/restartbhaven.sh",
)
# the tool's search path inside the sandbox: stand-in commands such as "reboot" come first
SANDBOX_PATH = HARNESS_MOUNT + "/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"

# variables passed on from the test run to the tool (sanitizer settings of ./dev test)
PASSED_ENV = ("ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS")


def tool_binary():
    """The binary under test: $TOVRIMAX_BIN (set by ./dev test), else build/Tovrimax."""
    return Path(os.environ.get("TOVRIMAX_BIN", REPO / "build" / "Tovrimax")).resolve()


def wait_until(predicate, timeout, interval=0.02, what="condition"):
    """Polls predicate() until it returns a true value, which is returned; raises
    AssertionError after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def _matches(pattern, text):
    if isinstance(pattern, re.Pattern):
        return pattern.search(text) is not None
    return pattern in text


# --------------------------------------------------------------------------------------------
# syslog


class SyslogReceiver:
    """Host end of the sandbox's /dev/log: an AF_UNIX datagram socket, one datagram per
    syslog() call. Each datagram's header ("<15>Dec  5 14:38:55 ") and the one trailing line
    feed are stripped, so a tool debug line reads "USBStick: [USBStick] text" and the start-up
    line "USBStick: run foreground"."""

    HEADER = re.compile(r"^<(\d+)>[A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d ", re.S)
    TOOL_PREFIX = "USBStick: [USBStick] "

    def __init__(self, path):
        self.path = str(path)
        self._sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self._sock.bind(self.path)
        os.chmod(self.path, 0o666)
        self._lines = []
        self.priorities = []  # the <PRI> of each line, same order as lines
        self._cond = threading.Condition()
        self._marker = b"tvx-flush-%d" % id(self)
        self._flushed = 0
        self._thread = threading.Thread(target=self._receive, daemon=True)
        self._thread.start()

    def _receive(self):
        while True:
            try:
                # large enough for a whole flood of script output in one line
                data = self._sock.recv(1 << 20)
            except OSError:
                return
            if not data:
                continue
            if data == self._marker:
                with self._cond:
                    self._flushed += 1
                    self._cond.notify_all()
                continue
            text = data.decode("utf-8", errors="replace")
            match = self.HEADER.match(text)
            priority = int(match.group(1)) if match else None
            if match:
                text = text[match.end():]
            if text.endswith("\n"):
                text = text[:-1]
            with self._cond:
                self._lines.append(text)
                self.priorities.append(priority)
                self._cond.notify_all()

    @property
    def lines(self):
        """All lines so far, e.g. "USBStick: [USBStick] HouseKeeper::...", "USBStick: run
        foreground"."""
        with self._cond:
            return list(self._lines)

    @property
    def debug_lines(self):
        """The tool's debug lines without "USBStick: [USBStick] ", e.g. "HouseKeeper::..."."""
        return [l[len(self.TOOL_PREFIX):] for l in self.lines if l.startswith(self.TOOL_PREFIX)]

    def wait_for(self, pattern, timeout=5.0, count=1):
        """Waits until `count` lines contain `pattern` (substring, or compiled regex searched
        in the line); returns the last matching line. Raises AssertionError with all lines
        received on timeout."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                found = [l for l in self._lines if _matches(pattern, l)]
                if len(found) >= count:
                    return found[count - 1]
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError("syslog: no %d line(s) matching %r within %.1f s; got:\n%s"
                                         % (count, pattern, timeout, "\n".join(self._lines)))
                self._cond.wait(left)

    def flush(self, timeout=5.0):
        """Returns once every datagram sent before this call has been taken into `lines`
        (a marker datagram is sent and waited for; datagrams keep their order). Use it
        before asserting that a line did NOT come, after the sender has ended."""
        with self._cond:
            target = self._flushed + 1
        with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as s:
            s.sendto(self._marker, self.path)
        deadline = time.monotonic() + timeout
        with self._cond:
            while self._flushed < target:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError("syslog receiver did not catch up")
                self._cond.wait(left)

    def matching(self, pattern):
        """Lines received so far that match `pattern`."""
        return [l for l in self.lines if _matches(pattern, l)]

    def close(self):
        try:
            self._sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self._sock.close()


# --------------------------------------------------------------------------------------------
# X server


@dataclass
class Geometry:
    x: int
    y: int
    width: int
    height: int
    screen: int


class XServer:
    """Xvfb ":0" with one or more screens, e.g. XServer([(800, 600)]) or
    XServer([(1280, 800), (1024, 768)]) (two X screens, :0.0 and :0.1). It runs in a network
    namespace of its own, with a private directory bound at /tmp/.X11-unix, so it never meets
    a host display :0; the tool's sandbox gets that directory (Sandbox.start(x=...)), and the
    X clients below (xdotool, import, xev) run in a namespace of the same kind."""

    def __init__(self, screens=((800, 600),), workdir=None):
        self.screens = tuple(tuple(s) for s in screens)
        self._own_dir = workdir is None
        self.dir = Path(workdir or tempfile.mkdtemp(prefix="tvx-x-", dir="/tmp"))
        self.x11_dir = self.dir / "x11"
        self.x11_dir.mkdir(mode=0o1777, exist_ok=True)
        os.chmod(self.x11_dir, 0o1777)
        args = ["Xvfb", ":0", "-nolisten", "tcp", "-noreset"]
        for i, (w, h) in enumerate(self.screens):
            args += ["-screen", str(i), "%dx%dx24" % (w, h)]
        self._log = open(self.dir / "xvfb.log", "wb")
        self.proc = subprocess.Popen(self._wrap(args), stdout=self._log, stderr=self._log,
                                     stdin=subprocess.DEVNULL)
        try:
            wait_until(lambda: (self.x11_dir / "X0").exists() or self.proc.poll() is not None,
                       10, what="Xvfb socket")
            wait_until(lambda: self.proc.poll() is not None or
                       self.run("xdpyinfo", check=False).returncode == 0,
                       10, what="Xvfb to answer")
            if self.proc.poll() is not None:
                raise RuntimeError("Xvfb failed: " + (self.dir / "xvfb.log").read_text())
        except BaseException:
            self.stop()
            raise

    def _wrap(self, argv, display=":0"):
        # private /tmp with only our socket directory in it, and a network namespace of its
        # own, so that the abstract socket "@/tmp/.X11-unix/X0" cannot be a host display's
        return ["bwrap", "--dev-bind", "/", "/", "--tmpfs", "/tmp",
                "--bind", str(self.x11_dir), "/tmp/.X11-unix", "--unshare-net",
                "--die-with-parent", "--setenv", "DISPLAY", display, "--"] + list(argv)

    def run(self, *argv, screen=0, check=True, timeout=20, text=True):
        """Runs an X client against this server (DISPLAY=:0.<screen>); returns the
        CompletedProcess (stdout/stderr captured)."""
        return subprocess.run(self._wrap(argv, ":0.%d" % screen), capture_output=True,
                              check=check, timeout=timeout, text=text,
                              stdin=subprocess.DEVNULL)

    def popen(self, *argv, screen=0, **kwargs):
        """Starts an X client in the background (DISPLAY=:0.<screen>)."""
        return subprocess.Popen(self._wrap(argv, ":0.%d" % screen), **kwargs)

    def find_window(self, title, timeout=10, screen=None):
        """Id of the visible window whose title is exactly `title`, waiting up to `timeout`
        seconds for it to appear. Raises AssertionError if none appears. `screen` limits the
        search to one X screen."""
        argv = ["timeout", str(timeout), "xdotool", "search", "--sync", "--onlyvisible"]
        if screen is not None:
            argv += ["--screen", str(screen)]
        argv += ["--name", "^%s$" % re.escape(title)]
        result = self.run(*argv, check=False, timeout=timeout + 10)
        ids = result.stdout.split()
        if result.returncode != 0 or not ids:
            raise AssertionError("no visible window titled %r within %s s (xdotool: %s)"
                                 % (title, timeout, result.stderr.strip()))
        return int(ids[0])

    def visible_windows(self, title):
        """Ids of the visible windows titled exactly `title` right now (no waiting)."""
        result = self.run("xdotool", "search", "--onlyvisible", "--name",
                          "^%s$" % re.escape(title), check=False)
        return [int(i) for i in result.stdout.split()]

    def visible_window_titles(self):
        """Titles of all visible windows on all screens right now (no waiting)."""
        titles = []
        for screen in range(len(self.screens)):
            # the root window matches too; its id is printed first to leave it out
            script = ("xwininfo -root | awk '/Window id/ {print $4}'; "
                      "for w in $(xdotool search --onlyvisible --screen %d --name ''); do "
                      "printf '%%d %%s\\n' $w \"$(xdotool getwindowname $w)\"; done" % screen)
            lines = self.run("sh", "-c", script, screen=screen).stdout.splitlines()
            root = int(lines[0], 16)
            for line in lines[1:]:
                wid, _, title = line.partition(" ")
                if int(wid) != root:
                    titles.append(title)
        return titles

    def geometry(self, window):
        """Position on its screen (root coordinates), size, and X screen number."""
        out = self.run("xdotool", "getwindowgeometry", "--shell", str(window)).stdout
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return Geometry(int(values["X"]), int(values["Y"]), int(values["WIDTH"]),
                        int(values["HEIGHT"]), int(values["SCREEN"]))

    def click(self, window, x, y, button=1):
        """Moves the pointer to (x, y) relative to the window's top-left corner and clicks."""
        self.run("xdotool", "mousemove", "--window", str(window), str(x), str(y),
                 "click", str(button))

    def key(self, window, *keys):
        """Sends key presses (xdotool names, e.g. "Return", "Down") to the window."""
        self.run("xdotool", "key", "--window", str(window), *keys)

    def screenshot(self, path, screen=0):
        """Saves the whole X screen as a PNG at `path` (host path)."""
        result = self.run("/usr/bin/import", "-window", "root", "png:-", screen=screen,
                          text=False)
        Path(path).parent.mkdir(parents=True, exist_ok=True)
        Path(path).write_bytes(result.stdout)
        return Path(path)

    def watch_maps(self):
        """Context manager that records every window mapped on any screen while it is open:
        `with x.watch_maps() as maps: ...; assert maps.count == 0`."""
        return MapWatcher(self)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self._log.close()
        if self._own_dir:
            shutil.rmtree(self.dir, ignore_errors=True)


class MapWatcher:
    """Records MapNotify events on the root windows of all screens (xev); used to prove that
    a run showed no window at all. Ready when entered: a marker property change on each root
    window is seen before the block runs."""

    def __init__(self, x):
        self.x = x
        self._procs = []
        self._buffers = []
        self._threads = []

    def __enter__(self):
        for screen in range(len(self.x.screens)):
            proc = self.x.popen("xev", "-root", "-event", "substructure", "-event", "property",
                                screen=screen, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)
            buf = []
            thread = threading.Thread(target=lambda p=proc, b=buf: b.extend(p.stdout),
                                      daemon=True)
            thread.start()
            self._procs.append(proc)
            self._buffers.append(buf)
            self._threads.append(thread)
        for screen in range(len(self.x.screens)):
            # repeat the marker until xev reports it: then its event mask is in place
            def seen(screen=screen):
                self.x.run("xprop", "-root", "-f", "_TVX_READY", "8s", "-set", "_TVX_READY",
                           "1", screen=screen)
                time.sleep(0.05)
                return any("_TVX_READY" in l for l in self._buffers[screen])
            wait_until(seen, 10, what="xev to watch screen %d" % screen)
        return self

    def __exit__(self, *exc):
        for proc in self._procs:
            proc.terminate()
        for proc, thread in zip(self._procs, self._threads):
            proc.wait()
            thread.join(2)
        return False

    @property
    def events(self):
        return [l for buf in self._buffers for l in buf if l.startswith("MapNotify")]

    @property
    def count(self):
        return len(self.events)


# --------------------------------------------------------------------------------------------
# device tree and stand-ins


class DeviceTree:
    """The device's own directories for one sandbox, addressed by device path:
    tree.mkdir("/home/ftp"), tree.write("/images/a.tgz", b""), tree.host("/media/qz")."""

    def __init__(self, root):
        self.root = Path(root)
        for top in DEVICE_TOP_DIRS:
            (self.root / top).mkdir(parents=True, exist_ok=True)
        for sub in ("Orvalen/bin", "Orvalen/opt"):
            (self.root / sub).mkdir(parents=True, exist_ok=True)

    def host(self, device_path):
        """Host path of a device path such as "/home/ftp"."""
        parts = Path(device_path).parts
        if len(parts) < 2 or parts[0] != "/" or parts[1] not in DEVICE_TOP_DIRS:
            raise ValueError("%s is not inside the device tree (%s)"
                             % (device_path, ", ".join("/" + d for d in DEVICE_TOP_DIRS)))
        return self.root.joinpath(*parts[1:])

    def mkdir(self, device_path, mode=None):
        """Creates a directory and its parents, e.g. "/var/log/coredump", "/media/qz"."""
        path = self.host(device_path)
        path.mkdir(parents=True, exist_ok=True)
        if mode is not None:
            os.chmod(path, mode)
        return path

    def write(self, device_path, content=b"", mode=None, mtime=None):
        """Creates or replaces a file (bytes or str), optionally with mode and mtime."""
        path = self.host(device_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        data = content.encode() if isinstance(content, str) else content
        tmp = path.with_name(".tvx-" + path.name)
        tmp.write_bytes(data)
        os.replace(tmp, path)
        if mode is not None:
            os.chmod(path, mode)
        if mtime is not None:
            os.utime(path, (mtime, mtime))
        return path

    def exists(self, device_path):
        return self.host(device_path).exists()

    def remove(self, device_path):
        """Removes a file or a whole directory."""
        path = self.host(device_path)
        if path.is_dir() and not path.is_symlink():
            shutil.rmtree(path)
        elif path.exists() or path.is_symlink():
            path.unlink()

    def listdir(self, device_path):
        return sorted(os.listdir(self.host(device_path)))


@dataclass
class Run:
    """One run of a stand-in: argv excludes $0 (arg0); end and status are None while it runs
    or when it was killed."""
    number: int
    arg0: str
    argv: list
    cwd: str
    pid: int
    start: float
    end: float = None
    status: int = None

    @property
    def finished(self):
        return self.status is not None


class StandIn:
    """A stand-in device script or command (see tests/sandbox/standin.sh). Records every run;
    behaves as configured. Reconfigure at any time, even while the tool runs: each run reads
    the configuration when it starts."""

    def __init__(self, harness_dir, key, host_path, device_path):
        self.key = key
        self.host_path = Path(host_path)
        self.device_path = device_path
        self._records = Path(harness_dir) / "records" / key
        self._control = Path(harness_dir) / "control" / key
        self._release = Path(harness_dir) / "release" / key
        self.host_path.parent.mkdir(parents=True, exist_ok=True)
        self.host_path.write_text(
            "#!/bin/bash\n# stand-in for %s: records its runs for the tests\n"
            "STANDIN_KEY=%s\nSTANDIN_DIR=%s\n. %s/standin.sh\n"
            % (device_path, shlex.quote(key), HARNESS_MOUNT, HARNESS_MOUNT))
        os.chmod(self.host_path, 0o755)

    def configure(self, stdout="", stderr="", sleep=None, exit=0, hold=False, run=""):
        """stdout/stderr: text written as is; sleep: seconds; hold: wait for release();
        run: bash code evaluated last; exit: exit code."""
        lines = ["STDOUT=%s" % shlex.quote(stdout), "STDERR=%s" % shlex.quote(stderr),
                 "SLEEP=%s" % shlex.quote("" if sleep is None else str(sleep)),
                 "HOLD=%s" % ("1" if hold else "''"), "RUN=%s" % shlex.quote(run),
                 "EXIT=%d" % exit]
        self._control.parent.mkdir(parents=True, exist_ok=True)
        tmp = self._control.with_name("." + self.key)
        tmp.write_text("\n".join(lines) + "\n")
        os.replace(tmp, self._control)
        if hold and self._release.exists():
            self._release.unlink()

    def release(self):
        """Lets held runs (configure(hold=True)) go on to their end."""
        self._release.parent.mkdir(parents=True, exist_ok=True)
        self._release.touch()

    def make_not_executable(self):
        os.chmod(self.host_path, 0o644)

    @property
    def runs(self):
        """The runs so far, in start order."""
        result = []
        if not self._records.is_dir():
            return result
        for name in sorted(os.listdir(self._records), key=lambda n: int(n)):
            d = self._records / name
            if not (d / "argv").exists():
                continue  # just starting
            items = (d / "argv").read_bytes().split(b"\0")[:-1]
            items = [i.decode("utf-8", errors="surrogateescape") for i in items]

            def read(f, conv):
                try:
                    return conv((d / f).read_text().strip())
                except (OSError, ValueError):
                    return None
            result.append(Run(int(name), items[0], items[1:], read("cwd", str),
                              read("pid", int), read("start", float), read("end", float),
                              read("status", int)))
        return result

    def wait_runs(self, count=1, timeout=5.0, finished=False):
        """Waits until at least `count` runs started (and ended, if finished=True); returns
        all runs."""
        def enough():
            runs = self.runs
            if finished:
                runs = [r for r in runs if r.finished]
            return len(runs) >= count and self.runs
        return wait_until(enough, timeout, what="%d %srun(s) of %s"
                          % (count, "finished " if finished else "", self.key))


# --------------------------------------------------------------------------------------------
# the tool


class Tool:
    """One run of the tool in a sandbox (made by Sandbox.start). stdout and stderr are
    collected as they come; apps can be started and stopped while it runs."""

    def __init__(self, sandbox, proc, status_path, control_path, started):
        self.sandbox = sandbox
        self.proc = proc
        self.started = started  # time.monotonic() at start
        self.ended = None       # time.monotonic() when wait() saw the end
        self._status_path = status_path
        self._control_path = control_path
        self._out = []
        self._err = []
        self._cond = threading.Condition()
        self._threads = [threading.Thread(target=self._pump, args=(proc.stdout, self._out),
                                          daemon=True),
                         threading.Thread(target=self._pump, args=(proc.stderr, self._err),
                                          daemon=True)]
        for t in self._threads:
            t.start()

    def _pump(self, stream, buf):
        for chunk in iter(lambda: stream.read1(65536), b""):
            with self._cond:
                buf.append(chunk)
                self._cond.notify_all()

    @property
    def stdout(self):
        with self._cond:
            return b"".join(self._out).decode("utf-8", errors="replace")

    @property
    def stderr(self):
        with self._cond:
            return b"".join(self._err).decode("utf-8", errors="replace")

    def wait_for_stdout(self, pattern, timeout=10.0):
        """Waits until stdout contains `pattern` (substring or compiled regex)."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while not _matches(pattern, b"".join(self._out).decode("utf-8", "replace")):
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError("stdout: %r not seen within %.1f s; stdout:\n%s"
                                         % (pattern, timeout, self.stdout))
                self._cond.wait(left)

    @property
    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout=30.0):
        """Waits for the end; returns the tool's exit status as Popen does (negative N for
        signal N). Raises AssertionError (after killing the run) on timeout."""
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError("the tool did not end within %.1f s" % timeout)
        if self.ended is None:
            self.ended = time.monotonic()
        for t in self._threads:
            t.join(5)
        return self.returncode

    @property
    def returncode(self):
        """The tool's own status (negative for a signal), None while running."""
        if self.proc.poll() is None:
            return None
        try:
            status = json.loads(self._status_path.read_text())
        except (OSError, ValueError):
            status = {}
        if "exit" in status:
            return status["exit"]
        if "signal" in status:
            return -status["signal"]
        return self.proc.returncode  # the sandbox itself failed or was killed

    def assert_ends_normally(self, timeout=30.0):
        """Waits for the end and asserts exit status 0, showing stderr otherwise."""
        status = self.wait(timeout)
        assert status == 0, "exit status %r; stderr:\n%s" % (status, self.stderr)

    @property
    def pid(self):
        """The tool's pid inside the sandbox."""
        status = wait_until(lambda: self._read_status(), 10, what="tool start")
        return status.get("pid")

    def _read_status(self):
        try:
            return json.loads(self._status_path.read_text())
        except (OSError, ValueError):
            return None

    def control(self, command):
        """Sends one supervisor command (see tests/sandbox/supervisor.py); returns the reply
        after "ok". Raises AssertionError on an error reply."""
        wait_until(self._control_path.exists, 10, what="the supervisor's control socket")
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(20)
            s.connect(str(self._control_path))
            s.sendall(command.encode() + b"\n")
            reply = b""
            while not reply.endswith(b"\n"):
                chunk = s.recv(4096)
                if not chunk:
                    break
                reply += chunk
        reply = reply.decode().strip()
        if not reply.startswith("ok"):
            raise AssertionError("supervisor: %s -> %s" % (command, reply))
        return reply[2:].strip()

    def start_app(self, name):
        """Starts one stand-in watched application ("Mirelu", "Brennhaven",
        "qconnman-applet") in the tool's pid namespace; returns its pid there."""
        return int(self.control("start " + name))

    def stop_app(self, name):
        """Ends every stand-in process of that name; returns how many there were."""
        return int(self.control("stop " + name))

    def running_apps(self):
        return self.control("running").split()

    def signal(self, signum):
        """Sends a signal to the tool itself (not to the sandbox)."""
        self.control("signal %d" % signum)

    def kill(self):
        """Ends the whole sandbox at once (tool, apps, scripts)."""
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


class Sandbox:
    """One private device for one test. Layout of its base directory (host side):

        tree/     the device tree: Orvalen/{bin,opt}, images, home, media, var (DeviceTree)
        tmp/      bound at /tmp: the place for /tmp/locale (set_locale)
        harness/  bound at /harness: stand-in apps and commands (bin/), run records, controls
        log.sock  the syslog receiver, bound at /dev/log

    The stand-ins for "/Orvalen/opt/savelog.sh", "/Orvalen/opt/logcapture.sh",
    "/Orvalen/bin/restartbhaven.sh" and the command "reboot" (first on the tool's PATH) exist
    from the start: sandbox.standins["savelog.sh"], sandbox.standins["reboot"]. Installers are
    added with package_dir() or standin()."""

    def __init__(self, base=None):
        self.base = Path(base or tempfile.mkdtemp(prefix="tvx-", dir="/tmp"))
        self.tree = DeviceTree(self.base / "tree")
        self.tmp = self.base / "tmp"
        self.tmp.mkdir(exist_ok=True)
        os.chmod(self.tmp, 0o1777)
        self.harness = self.base / "harness"
        for sub in ("bin", "records", "control", "release", "run"):
            (self.harness / sub).mkdir(parents=True, exist_ok=True)
        shutil.copy(STANDIN_BODY, self.harness / "standin.sh")
        for app in WATCHED_APPS:
            shutil.copy("/usr/bin/sleep", self.harness / "bin" / app)
        self.syslog = SyslogReceiver(self.base / "log.sock")
        self.standins = {}
        for path in DEFAULT_STANDINS:
            self.standin(path)
        self.standins["reboot"] = StandIn(self.harness, "reboot", self.harness / "bin" / "reboot",
                                          "reboot")
        self.tools = []
        self._runs = 0

    def standin(self, device_path, key=None):
        """Puts a stand-in script at a device path (e.g. "/images/iup.sh") and returns it.
        `key` names its records; default: the file name, or the path without its first slash,
        slashes turned into "_", when the file name is taken (two iup.sh)."""
        if key is None:
            key = Path(device_path).name
            if key in self.standins and self.standins[key].device_path != device_path:
                key = device_path.strip("/").replace("/", "_")
        s = StandIn(self.harness, key, self.tree.host(device_path), device_path)
        self.standins[key] = s
        return s

    def package_dir(self, device_path, packages=(), installer=True):
        """Fills a package directory: `packages` are file names ("a.tgz") or (name, mtime)
        pairs; with installer=True a stand-in "iup.sh" is put there and returned."""
        self.tree.mkdir(device_path)
        for p in packages:
            name, mtime = (p, None) if isinstance(p, str) else p
            self.tree.write(device_path + "/" + name, b"package " + name.encode(), mtime=mtime)
        if installer:
            return self.standin(device_path + "/iup.sh")
        return None

    def set_locale(self, content, mode=0o644):
        """Writes /tmp/locale (str or bytes); None removes it. Mode 0 with start(...,
        cap_drop=True) makes it unreadable to the tool."""
        path = self.tmp / "locale"
        if content is None:
            if path.exists():
                path.unlink()
            return
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        os.chmod(path, mode)

    def start(self, *args, x=None, env=None, unset=(), apps=(), binds=(), ro_binds=(),
              cap_drop=False, binary=None, wrap=(), stdout_tty=True):
        """Starts the tool with `args` in this sandbox and returns a Tool.

        x         an XServer (its socket directory is bound in; without one the tool has no
                  display and Qt gives up)
        env       extra variables for the tool only (e.g. {"LD_PRELOAD":
                  "libumockdev-preload.so.0", "UMOCKDEV_DIR": tb}); DISPLAY defaults to unset
        unset     variables to remove
        apps      stand-in applications running before the tool starts, e.g. ("Mirelu",)
        binds, ro_binds   extra (host path, sandbox path) pairs, e.g. a umockdev testbed at
                  its own path
        cap_drop  drop all capabilities (root then obeys file permissions)
        binary    another binary than tool_binary()
        wrap      a command put before the binary, e.g. ("/usr/bin/time", "-v")
        stdout_tty  the tool's stdout is a terminal (default), so each line arrives when it
                  is written, as on the device's console; False gives it a plain pipe (the C
                  library then holds lines back until its buffer fills or the tool exits)
        """
        binary = Path(binary or tool_binary())
        if not binary.exists():
            raise FileNotFoundError("no tool binary at %s (build it, or set TOVRIMAX_BIN)"
                                    % binary)
        self._runs += 1
        run_dir = self.harness / "run" / str(self._runs)
        run_dir.mkdir(parents=True)
        inside = HARNESS_MOUNT + "/run/%d" % self._runs
        tool_env = {"QT_XCB_GL_INTEGRATION": "none", "LANG": "C.UTF-8"}
        for name in PASSED_ENV:
            if name in os.environ:
                tool_env[name] = os.environ[name]
        tool_env.update(env or {})
        plan = {
            "argv": list(wrap) + [str(binary)] + [str(a) for a in args],
            "env": tool_env,
            "unset": list(unset) + ([] if "DISPLAY" in tool_env else ["DISPLAY"]),
            "apps": list(apps),
            "app_dir": HARNESS_MOUNT + "/bin",
            "control": inside + "/control.sock",
            "status": inside + "/status.json",
            "stdout_tty": stdout_tty,
        }
        (run_dir / "plan.json").write_text(json.dumps(plan, indent=1))

        argv = [str(SANDBOX_RUN), "--tree", str(self.tree.root), "--tmp", str(self.tmp),
                "--log", self.syslog.path, "--bind", str(self.harness), HARNESS_MOUNT]
        if x is not None:
            argv += ["--x11", str(x.x11_dir)]
        if not str(binary).startswith(str(REPO) + "/"):
            argv += ["--ro-bind", str(binary.parent), str(binary.parent)]
        for src, dst in binds:
            argv += ["--bind", str(src), str(dst)]
        for src, dst in ro_binds:
            argv += ["--ro-bind", str(src), str(dst)]
        if cap_drop:
            argv += ["--cap-drop", "ALL"]
        argv += ["--", PYTHON, str(SUPERVISOR), inside + "/plan.json"]

        # the sandbox starts from a clean environment; the tool gets plan["env"] on top
        host_env = {"PATH": SANDBOX_PATH, "LANG": "C.UTF-8"}
        proc = subprocess.Popen(argv, env=host_env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        tool = Tool(self, proc, run_dir / "status.json", run_dir / "control.sock",
                    time.monotonic())
        self.tools.append(tool)
        return tool

    def run(self, *args, timeout=30.0, **kwargs):
        """Starts the tool and waits for its end; returns the Tool (status in .returncode)."""
        tool = self.start(*args, **kwargs)
        tool.wait(timeout)
        return tool

    def close(self, keep=False):
        for tool in self.tools:
            tool.kill()
        self.syslog.close()
        if not keep:
            shutil.rmtree(self.base, ignore_errors=True)

    def report(self):
        """Text with everything observed: syslog lines, each run's stdout/stderr and status,
        each stand-in's runs. Saved as an artifact when a test fails."""
        out = ["== syslog"] + self.syslog.lines
        for i, tool in enumerate(self.tools, 1):
            out += ["== tool run %d: status %r" % (i, tool.returncode),
                    "-- stdout", tool.stdout, "-- stderr", tool.stderr]
        for key, s in sorted(self.standins.items()):
            for r in s.runs:
                out.append("== %s run %d: %r status %r" % (key, r.number, r.argv, r.status))
        return "\n".join(out) + "\n"


def while_stopped(tool, change):
    """Runs change() with the tool stopped, so that it sees one notification for all of it."""
    tool.signal(signal.SIGSTOP)
    time.sleep(0.1)
    try:
        return change()
    finally:
        tool.signal(signal.SIGCONT)


# --------------------------------------------------------------------------------------------
# the panic report screen (640x480)

REPORT_WIDTH, REPORT_HEIGHT = 640, 480
# window-relative points in the button row: four buttons share the width equally, and the row,
# which takes the height the report and the status lines leave, is well over 100 px tall
_REPORT_BUTTON_Y = REPORT_HEIGHT * 7 // 10
REBOOT = (REPORT_WIDTH // 8, _REPORT_BUTTON_Y)
RESTART_APP = (REPORT_WIDTH * 3 // 8, _REPORT_BUTTON_Y)
CAPTURE = (REPORT_WIDTH * 5 // 8, _REPORT_BUTTON_Y)
IGNORE = (REPORT_WIDTH * 7 // 8, _REPORT_BUTTON_Y)
SANITIZER_REPORTS = ("runtime error", "Sanitizer", "ERROR: ")
DESTROYED_RUNNING = "QProcess: Destroyed while process"


def _bar_chunk_at(x, window, px, path):
    """Whether the progress bar's middle row (below the status line) is painted in the bar's
    chunk colour at window-relative x = px; the part short of the value is grey."""
    g = x.geometry(window)
    x.screenshot(path)
    out = subprocess.run(["/usr/bin/convert", str(path), "-crop",
                          "1x1+%d+%d" % (g.x + px, g.y + REPORT_HEIGHT - 11 - 12),
                          "-depth", "8", "txt:-"], capture_output=True, text=True,
                         check=True).stdout
    r, g_, b = map(int, re.search(r"\((\d+),(\d+),(\d+)", out).groups())
    return b > r + 80 and b > g_ + 30


def bar_is_full(x, window, path):
    return _bar_chunk_at(x, window, REPORT_WIDTH - 11 - 8, path)


def bar_filled_at(x, window, fraction, path):
    return _bar_chunk_at(x, window, 11 + int(fraction * (REPORT_WIDTH - 22)), path)


def wait_for_full_bar(x, window, path, timeout=10):
    wait_until(lambda: bar_is_full(x, window, path), timeout, interval=0.3,
               what="the progress bar at 100")


def start_report(sandbox, x, **kwargs):
    """Mode "apr" on a device that mounts sticks below /media/qz; no watched application
    runs, so the report stays up until Ignore."""
    sandbox.tree.mkdir("/media/qz")
    tool = sandbox.start("-c", "apr", x=x, **kwargs)
    window = x.find_window("Form")
    tool.wait_for_stdout(START_END_LINE, timeout=20)
    return tool, window


def insert_stick(sandbox, name):
    sandbox.tree.mkdir("/media/qz/" + name)
    sandbox.syslog.wait_for('PanicReport::setupTombstone usbPath= "/media/qz/%s"' % name)


def end_with_ignore(tool, x, window, timeout=15):
    x.click(window, *IGNORE)
    status = tool.wait(timeout)
    assert status == 0, tool.stderr
    for report in SANITIZER_REPORTS + (DESTROYED_RUNNING,):
        assert report not in tool.stderr, tool.stderr


# --------------------------------------------------------------------------------------------
# emulated USB block devices (umockdev)

UEVENTCTL = REPO / "tests" / "sandbox" / "ueventctl.py"
UMOCKDEV_PRELOAD = "libumockdev-preload.so.0"
# a USB stick with one partition, and a disc drive whose "change" events show that the tool's
# monitor is listening (a whole disk: printed, never reported); children come before parents
DEVICES = """\
P: /devices/usb1/1-1/1-1:1.0/host0/block/sda/sda1
N: sda1
E: DEVNAME=/dev/sda1
E: DEVTYPE=partition
E: SUBSYSTEM=block
A: size=2048

P: /devices/usb1/1-1/1-1:1.0/host0/block/sda
N: sda
E: DEVNAME=/dev/sda
E: DEVTYPE=disk
E: SUBSYSTEM=block
A: size=4096

P: /devices/ata1/host1/block/sr0
N: sr0
E: DEVNAME=/dev/sr0
E: DEVTYPE=disk
E: SUBSYSTEM=block
"""
DISK = "/sys/devices/usb1/1-1/1-1:1.0/host0/block/sda"
PARTITION = DISK + "/sda1"
PROBE = "/sys/devices/ata1/host1/block/sr0"


class MockDevices:
    """A umockdev testbed in a helper process (tests/sandbox/ueventctl.py): its file checks
    need the preload library, which the test process itself does not have."""

    def __init__(self):
        env = dict(os.environ, LD_PRELOAD=UMOCKDEV_PRELOAD)
        env.pop("UMOCKDEV_DIR", None)
        self.proc = subprocess.Popen([PYTHON, str(UEVENTCTL)], env=env, text=True,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        first = self.proc.stdout.readline().split()
        assert first[:1] == ["root"], "ueventctl did not start: %r" % first
        self.root = first[1]

    def _command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        reply = self.proc.stdout.readline().strip()
        assert reply == "ok", "ueventctl: %s -> %r" % (line, reply)

    def add(self, record):
        with tempfile.NamedTemporaryFile("w", suffix=".umockdev") as f:
            f.write(record)
            f.flush()
            self._command("add " + f.name)

    def uevent(self, syspath, action):
        self._command("uevent %s %s" % (syspath, action))

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(10)


def start_with_testbed(sandbox, testbed, x, *args):
    root = testbed.root
    tool = sandbox.start(*args, x=x, binds=[(root, root)],
                         env={"LD_PRELOAD": UMOCKDEV_PRELOAD, "UMOCKDEV_DIR": root})
    tool.wait_for_stdout(START_END_LINE)
    return tool


def wait_until_listening(tool, testbed):
    """Events sent before the monitor's socket is bound are lost: send a harmless "change"
    until one is printed. One at a time keeps the monitor's queue short."""
    seen = "   Syspath: %s\n" % PROBE
    for _ in range(20):
        testbed.uevent(PROBE, "change")
        try:
            tool.wait_for_stdout(seen, timeout=0.6)
            return
        except AssertionError:
            pass
    raise AssertionError("the tool's USB monitor never received an event:\n" + tool.stdout)
