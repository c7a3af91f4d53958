#!/usr/bin/python3
"""The demo behind ./dev run: the tool in one mode, in the sandbox, over a demo device as a
technician would find it (build/demo-tree, made afresh), on the display :0 when DISPLAY names
it and it answers, else on a private 800x600 Xvfb. Saves a screenshot to build/screenshots/MODE.png; on the
private display (nobody can click) the tool is ended after it.

usage: demo.py [up|ver|apr] [--lang WORD]   (binary from $TOVRIMAX_BIN, default build/Tovrimax)
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

from gallery import Device, add_font, screenshot, wait_until

REPO = Path(__file__).resolve().parents[1]
TREE = REPO / "build" / "demo-tree"
TITLES = {"ver": "Form", "up": "AppUpdate", "apr": "Form"}


def say(text):
    print("==> " + text, file=sys.stderr, flush=True)


def real_display():
    """The display :0 when DISPLAY names it, its socket is there and it answers."""
    return os.environ.get("DISPLAY") in (":0", ":0.0") and os.path.exists(
        "/tmp/.X11-unix/X0") and subprocess.run(
        ["timeout", "5", "xdpyinfo"], env=dict(os.environ, DISPLAY=":0"),
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def demo_device():
    """A Device whose file tree is build/demo-tree, so that it stays for a look afterwards."""
    d = Device()
    shutil.rmtree(TREE, ignore_errors=True)
    shutil.copytree(d.root, TREE, symlinks=True, ignore=lambda _, names: {"ctl"} & set(names))
    os.mkfifo(TREE / "tmp" / "ctl")
    d.root = TREE
    return d


def demo_tree(d, mode):
    """A device as a technician would find it; returns the watched applications running."""
    d.script("/Orvalen/opt/savelog.sh", "printf 'copying panic logs...\\n' >&2; sleep 4")
    d.script("/Orvalen/opt/logcapture.sh")
    d.script("/Orvalen/bin/restartbhaven.sh")
    d.script("/tmp/bin/reboot")  # "reboot" is looked up on the tool's PATH, which starts there
    # update packages, newest last
    d.script("/images/iup.sh", "echo installing...; sleep 2")
    for month, name in enumerate(("Mirelu-2.4.0.tgz", "Brennhaven-1.9.2.tgz",
                                  "Mirelu-2.5.1.tgz"), 1):
        d.put("/images/" + name, "demo package %s\n" % name,
              mtime=time.mktime((2024, month, 15, 10, 0, 0, 0, 0, -1)))
    d.put("/images/readme.txt", "not a package\n")
    for path in ("/home/ftp", "/home/root/coredump", "/home/qz/coredump"):
        d.path(path).mkdir(parents=True)
    d.put("/var/log/coredump/core.Brennhaven.1201", "core\n")
    add_font(d)
    if mode != "apr":
        return ()
    # Brennhaven has died; a device that mounts USB sticks below /media/qz; the save cannot
    # copy everything
    d.path("/media/qz").mkdir(parents=True)
    d.script("/Orvalen/opt/savelog.sh",
             "printf 'cp: cannot create /media/qz/STICK/core.Brennhaven.1201: No space left on "
             "device\\nsavelog: 1 of 2 files saved\\n' >&2; sleep 3; : >/tmp/.saved; exit 1")
    return ("Mirelu", "qconnman-applet")


def demo_action(d, mode):
    """What happens while the tool shows its screen, before the screenshot."""
    if mode == "apr":
        # a stick arrives; the picture waits until its save has ended and the report shows it
        d.path("/media/qz/STICK").mkdir()
        wait_until(d.path("/tmp/.saved").exists, 15, "the save to end")
    time.sleep(1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("mode", nargs="?", default="ver", choices=("up", "ver", "apr"))
    parser.add_argument("--lang", help="written to the demo's /tmp/locale, as the device does")
    opts = parser.parse_args()

    private = not real_display()  # asked before the device's own X server comes up
    d = demo_device()
    try:
        apps = demo_tree(d, opts.mode)
        if opts.lang:
            d.put("/tmp/locale", opts.lang + "\n")
        env = {}
        if private:
            say("no display :0 here: a private Xvfb (800x600)")
        else:
            say("using the display :0")
            d.x.terminate()
            d.x_socket, d.xwrap = Path("/tmp/.X11-unix/X0"), ["env", "DISPLAY=:0"]
            xauth = os.environ.get("XAUTHORITY", os.path.expanduser("~/.Xauthority"))
            if os.access(xauth, os.R_OK):
                d.put("/tmp/.Xauthority", Path(xauth).read_bytes(), 0o600)
                env["XAUTHORITY"] = "/tmp/.Xauthority"
        say("Tovrimax -c " + opts.mode)
        d.start("-c", opts.mode, apps=apps, env=env)
        try:
            d.window(TITLES[opts.mode])
            demo_action(d, opts.mode)
        except AssertionError as e:
            say(str(e))
        if d.path("/tmp/status").exists():
            say("the tool ended before the screenshot")
        else:
            shot = REPO / "build" / "screenshots" / (opts.mode + ".png")
            screenshot(d, shot)
            print("screenshot: %s" % shot)
        if private:
            say("ended the tool after the screenshot")
        else:
            say("the tool ended (status %d)" % d.status(timeout=float("inf")))
        sys.stdout.write(d.out())
        sys.stderr.write(d.out("stderr"))
    finally:
        d.close()


if __name__ == "__main__":
    main()
