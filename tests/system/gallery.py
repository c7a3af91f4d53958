#!/usr/bin/python3
"""Takes the README's screenshots: each screen of the real binary in English and in Chinese,
on an 800x600 display, with the device's font in place, in a private sandbox.

usage: gallery.py OUTPUT_DIR   (binary from $TOVRIMAX_BIN, default build/Tovrimax)
"""

import shutil
import sys
import time
from pathlib import Path

import harness

FONT_PATH = "/Orvalen/bin/qml/Mirelu2/fonts/NotoSansHans-Regular.ttf"
CJK_FONT = Path("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc")
LANGUAGES = ("English", "Chinese")


def settle():
    # a moment for the list to fill and the window to repaint before the picture
    time.sleep(1.0)


def version_screen(sandbox, x):
    tool = sandbox.start("-c", "ver", x=x)
    return tool, x.find_window("Form")


def update_screen(sandbox, x):
    sandbox.package_dir("/images", [("scale-app-2.4.1.tgz", 1700000000),
                                    ("scale-app-2.5.0.tgz", 1710000000),
                                    ("firmware-1.9.tgz", 1690000000)])
    tool = sandbox.start("-c", "up", x=x)
    window = x.find_window("AppUpdate")
    settle()
    # the title and the selection box stand above the list; its second row is a package
    x.click(window, 320, 300)
    return tool, window


def panic_screen(sandbox, x):
    # a device that mounts sticks below /media/qz; a stick arrives while the report is up
    sandbox.tree.mkdir("/media/qz")
    sandbox.standins["savelog.sh"].configure(stderr="copied /var/log/messages\n", hold=True)
    tool = sandbox.start("-c", "apr", x=x, apps=("Brennhaven", "qconnman-applet"))
    window = x.find_window("Form")
    sandbox.syslog.wait_for("Translator load ret=")
    time.sleep(1.5)
    sandbox.tree.mkdir("/media/qz/STICK")
    sandbox.standins["savelog.sh"].wait_runs(1, timeout=10)
    time.sleep(2.5)  # a few ticks of the progress bar
    return tool, window


SCREENS = (("version", version_screen), ("update", update_screen), ("panic", panic_screen))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    x = harness.XServer(((800, 600),))
    try:
        for name, show in SCREENS:
            for language in LANGUAGES:
                sandbox = harness.Sandbox()
                try:
                    if CJK_FONT.exists():
                        sandbox.tree.mkdir(str(Path(FONT_PATH).parent))
                        shutil.copy(CJK_FONT, sandbox.tree.host(FONT_PATH))
                    sandbox.set_locale(language)
                    tool, _ = show(sandbox, x)
                    settle()
                    path = out / ("%s-%s.png" % (name, language.lower()))
                    x.screenshot(path)
                    print(path)
                    tool.kill()
                finally:
                    sandbox.close()
    finally:
        x.stop()


if __name__ == "__main__":
    main()
