"""The two monitors inside the real tool: USB partitions reported by the device manager
(driven by umockdev, no hardware) reach the controller, and the watched applications started
and stopped beside the tool are noticed within about a second."""

import os
import re
import subprocess
import tempfile
import time

import pytest

from harness import PYTHON, REPO, START_END_LINE, wait_until

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


def dump(node, devtype, syspath, action):
    """The lines the tool prints for one device event."""
    return ("\nselect() says there should be data\nGot Device\n"
            "   Node: %s\n   Subsystem: block\n   Devtype: %s\n   Devpath: %s\n"
            "   Syspath: %s\n   Action: %s\n"
            % (node, devtype, syspath[len("/sys"):], syspath, action))


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


@pytest.fixture
def testbed():
    bed = MockDevices()
    bed.add(DEVICES)
    yield bed
    bed.close()


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


def test_partition_reaches_the_controller(sandbox, x, testbed):
    tool = start_with_testbed(sandbox, testbed, x, "-c", "apr")
    wait_until_listening(tool, testbed)

    testbed.uevent(DISK, "add")
    testbed.uevent(PARTITION, "add")
    tool.wait_for_stdout(dump("/dev/sda1", "partition", PARTITION, "add"))
    assert dump("/dev/sda", "disk", DISK, "add") in tool.stdout
    sandbox.syslog.wait_for('HouseKeeper::onUSBStick filePath= "/media/sda1"  on= true')
    # the whole disk was not reported, and the panic logs go to the derived directory
    assert sandbox.standins["savelog.sh"].wait_runs(1)[0].argv == ["/media/sda1"]

    testbed.uevent(PARTITION, "remove")
    tool.wait_for_stdout(dump("/dev/sda1", "partition", PARTITION, "remove"))
    sandbox.syslog.wait_for('HouseKeeper::onUSBStick filePath= "/media/sda1"  on= false')
    sandbox.syslog.flush()
    assert len(sandbox.syslog.matching("HouseKeeper::onUSBStick")) == 2
    assert tool.running


def test_partition_on_a_qel_scale_is_only_logged(sandbox, x, testbed):
    sandbox.tree.mkdir("/media/qz")
    tool = start_with_testbed(sandbox, testbed, x, "-c", "apr")
    wait_until_listening(tool, testbed)

    testbed.uevent(PARTITION, "add")
    tool.wait_for_stdout(dump("/dev/sda1", "partition", PARTITION, "add"))
    sandbox.syslog.wait_for(
        'HouseKeeper::onUSBStick(Maybe Qel Scale) on= true  point= "/dev/sda1"')
    sandbox.syslog.flush()
    assert sandbox.syslog.matching("filePath=") == []
    assert sandbox.standins["savelog.sh"].runs == []


def test_tool_ends_cleanly_with_the_monitor_listening(sandbox, x, testbed):
    # mode "ver" ends by itself after its 5 s, its USB monitor thread still polling: the
    # thread must be stopped and waited for, or Qt aborts the process at its destruction
    tool = start_with_testbed(sandbox, testbed, x, "-c", "ver")
    wait_until_listening(tool, testbed)
    assert tool.wait(15) == 0, tool.stderr
    assert "QThread" not in tool.stderr
    assert "Can't create udev" not in tool.stdout


ONAPPLIVE = "PanicReport::onAppLive appId=%d\n"


def lives(tool, app_id):
    return tool.stdout.count(ONAPPLIVE % app_id)


def test_start_reports_applications_before_the_end_line(sandbox, x):
    tool = sandbox.start("-c", "apr", x=x, apps=("Mirelu",))
    tool.wait_for_stdout(START_END_LINE)
    before_end = tool.stdout.split(START_END_LINE)[0]
    assert re.findall(r"onAppLive appId=\d", before_end) == ["onAppLive appId=1"]
    assert tool.running


def test_applications_started_and_stopped_are_seen(sandbox, x):
    tool = sandbox.start("-c", "apr", x=x)
    tool.wait_for_stdout(START_END_LINE)
    assert lives(tool, 1) == 0

    started = time.monotonic()
    tool.start_app("Mirelu")
    wait_until(lambda: lives(tool, 1) == 1, 5, what="Mirelu reported alive")
    seen_after = time.monotonic() - started
    # a pass a second, each probe short: well within 3 s on any machine
    assert seen_after < 3, "Mirelu seen alive after %.1f s" % seen_after

    # only changes are reported: nothing more while it keeps running
    time.sleep(2.2)
    assert lives(tool, 1) == 1

    # stopped long enough for a pass to find it dead; running again is news once more
    tool.stop_app("Mirelu")
    time.sleep(2.2)
    assert lives(tool, 1) == 1
    tool.start_app("Mirelu")
    wait_until(lambda: lives(tool, 1) == 2, 5, what="Mirelu reported alive again")

    # the other two follow; with all three alive the report ends the tool
    tool.start_app("Brennhaven")
    tool.start_app("qconnman-applet")
    tool.assert_ends_normally(10)
    assert lives(tool, 0) == 1 and lives(tool, 2) == 1
    assert tool.stdout.endswith("PanicReport::hideAPR\n")
