"""An emulated board under qemu-system: Debian's own kernel for the architecture, the root that
make-board packs, the deployed tool in /opt/tovrimax, USB sticks plugged through the emulator.

The host talks to the board in three ways: shell lines on a virtio-serial port, answered by the
board's /init (board-init) with their exit status and output; a folder of this machine shared
with the board over 9p and mounted at /share there; and qemu's QMP socket, through which sticks
are plugged and pulled as a technician would.
"""

import base64
import json
import os
import shlex
import shutil
import socket
import struct
import subprocess
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
TOOL_DIR = "/opt/tovrimax"  # where the deployed files lie on the board
MACHINES = {  # qemu, its machine and processor, for each Debian architecture
    "arm64": ["qemu-system-aarch64", "-M", "virt", "-cpu", "cortex-a53"],
    "armhf": ["qemu-system-arm", "-M", "virt,highmem=off", "-cpu", "cortex-a15"],
}


class BoardError(Exception):
    pass


def make_stick(image, label, size_mb=32):
    """A raw disk image with one FAT partition at 1 MiB, as a USB stick comes."""
    sectors = (size_mb << 11) - 2048
    # the partition table: one entry, FAT16 with LBA (0x0e), from sector 2048 to the end
    entry = bytes([0, 0xFE, 0xFF, 0xFF, 0x0E, 0xFE, 0xFF, 0xFF]) + struct.pack("<II", 2048, sectors)
    with open(image, "wb") as f:
        f.truncate(size_mb << 20)
        f.seek(446)
        f.write(entry + bytes(48) + b"\x55\xaa")
    subprocess.run(["mkfs.fat", "--offset", "2048", "-n", label, image, str((size_mb - 1) << 10)],
                   check=True, capture_output=True)


def stick_files(image):
    """{name: bytes} of every file in the stick's partition (names without blanks), read on
    this machine."""
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    part = f"{image}@@1M"
    listing = subprocess.run(["mdir", "-/", "-b", "-i", part, "::"], env=env, text=True,
                             capture_output=True).stdout.split()
    files = {}
    for path in listing:
        if path.endswith("/"):
            continue
        data = subprocess.run(["mcopy", "-n", "-i", part, path, "-"], env=env,
                              capture_output=True, check=True).stdout
        files[path.removeprefix("::/")] = data
    return files


class Board:
    def __init__(self, arch, deploy, workdir, time_factor=1.0):
        self.arch, self.deploy = arch, Path(deploy)
        self.dir = Path(workdir)
        self.image = image_dir(arch)
        self.share = self.dir / "share"
        self.time_factor = time_factor
        self.qemu = self.port = self.qmp = None
        self.events, self.plugged = [], {}

    # -- start and stop ------------------------------------------------------------------------

    def boot(self, timeout=90):
        """Boots the board; returns the seconds it took until its /init answers."""
        if self.arch not in MACHINES:
            raise BoardError(f"no board for {self.arch}")
        for need in ("vmlinuz", "root.cpio"):
            if not (self.image / need).exists():
                raise BoardError(f"no board image: {self.image / need} (make-board)")
        shutil.rmtree(self.dir, ignore_errors=True)
        self.share.mkdir(parents=True)
        initrd = self.dir / "initrd"
        self._pack_tool(initrd)
        started = time.monotonic()
        self.console = self.dir / "console.log"
        self.qemu = subprocess.Popen(MACHINES[self.arch] + [
            "-m", "1024", "-smp", "2", "-nic", "none", "-display", "none", "-monitor", "none",
            "-no-reboot", "-serial", f"file:{self.console}",
            "-kernel", self.image / "vmlinuz", "-initrd", initrd,
            "-append", "rdinit=/init console=ttyAMA0 quiet panic=-1",
            "-device", "qemu-xhci,id=xhci", "-device", "virtio-serial-pci",
            "-chardev", f"socket,id=ctl,path={self.dir / 'ctl.sock'},server=on,wait=off",
            "-device", "virtserialport,chardev=ctl,name=ctl",
            "-virtfs", f"local,path={self.share},mount_tag=share,security_model=none",
            "-qmp", f"unix:{self.dir / 'qmp.sock'},server=on,wait=off"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(self.dir / "qemu.log", "wb"))
        deadline = started + timeout * self.time_factor
        while "board: ready" not in self._console():
            self._check_alive("booting")
            if time.monotonic() > deadline:
                raise BoardError("the board did not come up: " + self._console()[-2000:])
            time.sleep(0.1)
        self.port = socket.socket(socket.AF_UNIX)
        self.port.connect(str(self.dir / "ctl.sock"))
        self.port_lines = self.port.makefile("rb")
        self.qmp = socket.socket(socket.AF_UNIX)
        self.qmp.connect(str(self.dir / "qmp.sock"))
        self.qmp_lines = self.qmp.makefile("rb")
        self.qmp_lines.readline()  # the greeting
        self.command("qmp_capabilities")
        return time.monotonic() - started

    def _pack_tool(self, initrd):
        """The board's root and, unpacked over it, the deployed files in TOOL_DIR."""
        staging = Path(tempfile.mkdtemp(dir=self.dir))
        tool = staging / TOOL_DIR.lstrip("/")
        tool.mkdir(parents=True)
        for f in self.deploy.iterdir():
            shutil.copy2(f, tool / f.name)
        names = "\n".join(str(p.relative_to(staging)) for p in sorted(staging.rglob("*")))
        with open(initrd, "wb") as out:
            with open(self.image / "root.cpio", "rb") as root:
                shutil.copyfileobj(root, out)
            out.write(subprocess.run(["cpio", "-o", "-H", "newc", "--quiet"], cwd=staging,
                                     input=names.encode(), capture_output=True, check=True).stdout)
        shutil.rmtree(staging)

    def _console(self):
        return self.console.read_text(errors="replace") if self.console.exists() else ""

    def _check_alive(self, doing):
        if self.qemu and self.qemu.poll() is not None:
            raise BoardError(f"the board ended while {doing} (qemu status {self.qemu.returncode}): "
                             + (self.dir / "qemu.log").read_text(errors="replace")[-1000:]
                             + self._console()[-2000:])

    def died(self):
        """What has died of the board, or None."""
        if self.qemu and self.qemu.poll() is not None:
            return f"the board ended (qemu status {self.qemu.returncode})"

    def shutdown(self):
        for s in (self.port, self.qmp):
            if s:
                s.close()
        if self.qemu and self.qemu.poll() is None:
            self.qemu.terminate()
            try:
                self.qemu.wait(10)
            except subprocess.TimeoutExpired:
                self.qemu.kill()
                self.qemu.wait()

    # -- the control port ----------------------------------------------------------------------

    def run(self, line, check=True, timeout=60):
        """Runs one shell line on the board; returns its standard output (and its status when
        check is false). Its standard error goes to the board's /run/board.log."""
        if "\n" in line:
            raise ValueError("one line at a time")
        self._check_alive("answering " + line)
        self.port.settimeout(timeout * self.time_factor)
        self.port.sendall(line.encode() + b"\n")
        try:
            answer = self.port_lines.readline()
        except socket.timeout:
            raise BoardError(f"the board did not answer {line!r}") from None
        if not answer:
            self._check_alive("answering " + line)
            raise BoardError(f"the board closed its port on {line!r}")
        status, _, out = answer.decode().rstrip("\n").partition(" ")
        text = base64.b64decode(out).decode(errors="replace")
        if check and status != "0":
            raise BoardError(f"{line!r} ended with status {status} on the board: {self.log()}")
        return text if check else (int(status), text)

    def log(self):  # the last lines the board's commands wrote on their standard error
        return self.run("tail -n 5 /run/board.log", check=False)[1]

    # -- a device of the system tests on the board (board-init tells how)

    def guest_path(self, path):  # where a path below the shared folder is on the board
        return "/share/" + str(Path(path).relative_to(self.share))

    def begin_device(self, folder, screens):
        self.run(shell("story_begin", self.guest_path(folder), *("%dx%d" % s for s in screens)))

    def start(self, folder, env, argv):
        self.run(shell("story_start", self.guest_path(folder), *(f"{k}={v}" for k, v in env.items()),
                       "--", *argv))

    def inside(self, line):  # a shell line among the device's processes
        return self.run(shell("story_run", line))

    def end_device(self):
        self.run("story_end")

    # -- QMP: sticks ---------------------------------------------------------------------------

    def command(self, name, **arguments):
        self.qmp.sendall(json.dumps({"execute": name, "arguments": arguments}).encode())
        while True:
            reply = json.loads(self.qmp_lines.readline() or b'{"error": "qemu ended"}')
            if "event" in reply:
                self.events.append(reply)
                continue
            if "error" in reply:
                raise BoardError(f"{name}: {reply['error']}")
            return reply["return"]

    def plug(self, image, name="stick"):
        """Plugs the disk image as a USB mass-storage device into the board's xHCI port."""
        self.command("blockdev-add", driver="raw", **{"node-name": name},
                     file={"driver": "file", "filename": str(image)})
        self.command("device_add", driver="usb-storage", bus="xhci.0", drive=name, id=name,
                     removable=True)
        self.plugged[name] = image

    def pull(self, name="stick", timeout=10):
        """Pulls the stick out: waits until the board has let the device go."""
        self.command("device_del", id=name)
        deadline = time.monotonic() + timeout * self.time_factor
        while not any(e["event"] == "DEVICE_DELETED" and e.get("data", {}).get("device") == name
                      for e in self.events):
            if time.monotonic() > deadline:
                raise BoardError(f"the board did not let {name} go")
            self.command("query-status")  # reads the events that have come meanwhile
            time.sleep(0.05)
        self.events = [e for e in self.events if e.get("data", {}).get("device") != name]
        self.command("blockdev-del", **{"node-name": name})
        del self.plugged[name]

    # -- the display ---------------------------------------------------------------------------

    def screenshot(self, png, screen=0):
        """The board's X screen as a PNG on this machine (Xvfb keeps it in /run/fb)."""
        shared = f"/share/.shot{screen}.xwd"
        self.run(f"cat /run/fb/Xvfb_screen{screen} >{shared}")
        subprocess.run(["/usr/bin/convert", f"xwd:{self.share / shared[7:]}", str(png)],
                       check=True, capture_output=True)
        (self.share / shared[7:]).unlink()
        return png


def image_dir(arch):  # where make-board puts the board's image
    return HERE.parents[1] / "build" / f"board-{arch}"


def shell(*words):
    return " ".join(shlex.quote(str(w)) for w in words)
