#!/usr/bin/python3
"""Takes the README's screenshots: each screen of the real binary in English and in Chinese,
on an 800x600 display, with the device's font in place, in a private sandbox.

usage: gallery.py OUTPUT_DIR   (binary from $TOVRIMAX_BIN, default build/Tovrimax)
"""

import os
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "system"))

from harness import Device, wait_until  # noqa: E402

FONT_PATH = "/Orvalen/bin/qml/Mirelu2/fonts/NotoSansHans-Regular.ttf"
CJK_FONT = Path("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc")
LANGUAGES = ("English", "Chinese")


def add_font(device):
    """The main application's font, which the tool borrows (the sandbox sees the host's /usr)."""
    if CJK_FONT.exists():
        font = device.path(FONT_PATH)
        font.parent.mkdir(parents=True, exist_ok=True)
        font.symlink_to(CJK_FONT)


def screenshot(device, path):
    """Saves the whole X screen of the device's display as a PNG."""
    png = subprocess.run(device.xwrap + ["/usr/bin/import", "-window", "root", "png:-"], check=True,
                         capture_output=True).stdout
    Path(path).parent.mkdir(parents=True, exist_ok=True)
    Path(path).write_bytes(png)


def settle():
    # a moment for the list to fill and the window to repaint before the picture
    time.sleep(1.0)


def version_screen(d):
    d.start("-c", "ver")
    d.window("Form")


def update_screen(d):
    for name, mtime in (("scale-app-2.4.1.tgz", 1700000000), ("scale-app-2.5.0.tgz", 1710000000),
                        ("firmware-1.9.tgz", 1690000000)):
        d.put("/images/" + name, "package " + name, mtime=mtime)
    d.script("/images/iup.sh")
    d.start("-c", "up")
    window = d.window("AppUpdate")
    settle()
    # the title and the selection box stand above the list; its second row is a package
    d.click(window, 320, 300)


def panic_screen(d):
    # a device that mounts sticks below /media/qz; a stick arrives while the report is up
    d.path("/media/qz").mkdir(parents=True)
    d.script("/Orvalen/opt/savelog.sh", "printf 'copied /var/log/messages\\n' >&2; sleep 600")
    d.start("-c", "apr", apps=("Brennhaven", "qconnman-applet"))
    d.window("Form")
    d.wait_log("Translator load ret=")
    time.sleep(1.5)
    d.path("/media/qz/STICK").mkdir()
    wait_until(lambda: d.calls("savelog.sh"), 10, "savelog.sh")
    time.sleep(2.5)  # a few ticks of the progress bar


SCREENS = (("version", version_screen), ("update", update_screen), ("panic", panic_screen))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = Path(sys.argv[1])
    for name, show in SCREENS:
        for language in LANGUAGES:
            d = Device()
            try:
                add_font(d)
                d.put("/tmp/locale", language)
                show(d)
                settle()
                path = out / ("%s-%s.png" % (name, language.lower()))
                screenshot(d, path)
                print(path)
            finally:
                d.close()


if __name__ == "__main__":
    main()
