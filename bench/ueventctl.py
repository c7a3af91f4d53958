#!/usr/bin/python3
"""A umockdev testbed that sends device-manager events on request, for bench/run's USB latency.

usage: LD_PRELOAD=libumockdev-preload.so.0 ueventctl.py < commands

The testbed's own file checks see its /sys only through the preload library, so it must live
in a preloaded process; the tool under test then listens with the same preload and
UMOCKDEV_DIR pointing at the directory printed first (made in $TMPDIR: bench/run puts it in
the device's /tmp, where the sandboxed tool finds it as /tmp/umockdev.XXXXXX).

Output: "root DIR" once the testbed exists. Commands, one per line, each answered "ok" (or
"error TEXT"):
  add RECORD-FILE        add the devices of a umockdev record file (children before parents)
  uevent SYSPATH ACTION  send one event ("add", "remove", "change") for a device
At the end of input the testbed and its directory are removed.
"""

import sys

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import UMockdev  # noqa: E402


def main():
    testbed = UMockdev.Testbed.new()
    print("root", testbed.get_root_dir(), flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        try:
            if words[0] == "add" and len(words) == 2:
                with open(words[1]) as f:
                    if not testbed.add_from_string(f.read()):
                        raise ValueError("bad record file")
            elif words[0] == "uevent" and len(words) == 3:
                testbed.uevent(words[1], words[2])
            else:
                raise ValueError("unknown command %r" % line.strip())
            reply = "ok"
        except Exception as e:  # a bad command must not take the testbed down
            reply = "error %s" % e
        print(reply, flush=True)
    del testbed


if __name__ == "__main__":
    main()
