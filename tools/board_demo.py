#!/usr/bin/python3
"""The demo behind ./dev board: the tool deployed for the board, on an emulated board of its own
kernel (cmake/toolchains/board.py), in one mode over a demo device. Once its window is up, a
USB stick is plugged through the emulator and the device's save script copies the logs onto
it; screenshots of the board's display go to build/board-ARCH/, the stick's files are listed,
and the board is shut down.

usage: board_demo.py arm64|armhf [up|ver|apr]
"""

import os
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
ARCH, MODE = sys.argv[1], (sys.argv[2:] or ["apr"])[0]
os.environ.update(TOVRIMAX_BOARD=ARCH, TOVRIMAX_BIN="/opt/tovrimax/Tovrimax",
                  TOVRIMAX_TIME_FACTOR="6")
sys.path.insert(0, str(REPO / "tests/system"))
from harness import Device  # noqa: E402

OUT = REPO / "build" / f"board-{ARCH}"
TITLES = {"ver": "Form", "up": "AppUpdate", "apr": "Form"}
SAVE = ('mkdir -p "$1" && mount -t vfat "/dev/${1##*/}" "$1" && for log in /var/log/*.log; do '
        'cp "$log" "$1/" && echo "copied ${log##*/}" >&2; sleep 1; done; sync; umount "$1"')


def say(text):
    print("==> " + text, file=sys.stderr, flush=True)


def main():
    started = time.monotonic()
    say(f"booting the {ARCH} board (qemu-system, Debian's kernel)")
    d = Device()
    try:
        say(f"up after {time.monotonic() - started:.1f} s: {d.board.run('uname -srm').strip()}")
        d.put("/Orvalen/opt/savelog.sh", "#!/bin/bash\n" + SAVE + "\n", 0o755)
        d.put("/var/log/messages.log", "Mirelu: segmentation fault\n")
        d.put("/var/log/boot.log", "board booted\n")
        d.put("/images/iup.sh", "#!/bin/bash\n", 0o755)
        d.put("/images/app-2.1.tgz", "package")
        d.start("-c", MODE, apps=("Mirelu", "qconnman-applet"))
        d.window(TITLES[MODE])
        shots = [d.board.screenshot(OUT / f"{MODE}.png")]
        say(f"window up after {time.monotonic() - started:.1f} s")
        d.stick("DEMO")
        say("stick plugged; the save script copies the logs")
        try:
            d.wait(lambda: any("copied" in line for line in d.debug), "the save", 5,
                   tool_may_end=True)
            time.sleep(3)  # the rest of the save, for the second screenshot
        except AssertionError:
            say("no save: the tool ended before the stick came")
        if not d.ended():
            shots.append(d.board.screenshot(OUT / f"{MODE}-stick.png"))
        for shot in shots:
            print(shot)
        for name, data in d.stick_files("DEMO").items():
            print(f"stick: {name} ({len(data)} bytes)")
        for line in d.debug:
            say("syslog: " + line)
    finally:
        d.close()
        d.board.shutdown()


if __name__ == "__main__":
    main()
