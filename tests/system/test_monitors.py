"""The two monitors inside the real tool: USB partitions reported by the device manager
(driven by umockdev, no hardware) reach the controller, and the watched applications started
and stopped beside the tool are noticed within about a second."""

import re
import time

from harness import (DISK, PARTITION, START_END_LINE, start_with_testbed, wait_until,
                     wait_until_listening)


def dump(node, devtype, syspath, action):
    """The lines the tool prints for one device event."""
    return ("\nselect() says there should be data\nGot Device\n"
            "   Node: %s\n   Subsystem: block\n   Devtype: %s\n   Devpath: %s\n"
            "   Syspath: %s\n   Action: %s\n"
            % (node, devtype, syspath[len("/sys"):], syspath, action))


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
