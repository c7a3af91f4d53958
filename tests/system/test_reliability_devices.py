"""What a device throws at the tool's USB and directory following: no device manager, a storm
of partition events, a stick pulled during a save, two sticks at once, hundreds of stick
directories, thousands of packages, and names with spaces, quotes, "%n", line feeds and
non-ASCII letters. Nothing promised may be lost, and the tool must end cleanly afterwards."""

import subprocess
import time

import pytest

from harness import (PARTITION, START_END_LINE, end_with_ignore, insert_stick, start_report,
                     start_with_testbed, wait_for_full_bar, wait_until, wait_until_listening,
                     while_stopped as hold)

T0 = 1700000000
# the update window's Upgrade button, window-relative (see test_appupdate.py)
UPGRADE = (640 // 6, 480 - 11 - 30)
# a name that breaks naive quoting, formatting and line-based handling
ODD_NAME = "my \"stick\" 'x' %n%s\nzeile 2 Äöü 中文"
# the same name as the log shows it: QDebug quotes a string and escapes '"' and line feeds
ODD_NAME_LOGGED = "my \\\"stick\\\" 'x' %n%s\\nzeile 2 Äöü 中文"


# --------------------------------------------------------------------------------------------
# the device manager


@pytest.fixture(scope="module")
def udev_new_fails(tmp_path_factory):
    """A preload library whose udev_new() always fails, as when the library has no memory."""
    out = tmp_path_factory.mktemp("udevfail")
    source = out / "udevfail.c"
    source.write_text("struct udev;\nstruct udev *udev_new(void) { return 0; }\n")
    library = out / "udevfail.so"
    subprocess.run(["gcc", "-shared", "-fPIC", "-o", str(library), str(source)], check=True)
    return library


def test_without_udev_the_rest_of_the_tool_works(sandbox, x, udev_new_fails):
    lib = str(udev_new_fails)
    tool, window = start_report(sandbox, x, env={"LD_PRELOAD": lib},
                                ro_binds=[(udev_new_fails.parent, udev_new_fails.parent)])
    tool.wait_for_stdout("Can't create udev\n")
    # sticks below /media/qz do not need the device manager
    insert_stick(sandbox, "sda1")
    assert [r.argv for r in sandbox.standins["savelog.sh"].wait_runs(1)] == [["/media/qz/sda1"]]
    end_with_ignore(tool, x, window)
    assert tool.stdout.count("Can't create udev") == 1


def test_storm_of_partition_events_is_reported_in_full(sandbox, x, testbed):
    tool = start_with_testbed(sandbox, testbed, x, "-c", "apr")
    window = x.find_window("Form")
    wait_until_listening(tool, testbed)

    # 100 events, never more than 8 unread: the monitor's socket holds about 10, and the tool
    # takes one per 250 ms cycle
    actions = ["add", "remove"] * 50
    marker = "   Syspath: %s\n   Action: " % PARTITION

    def taken():
        return tool.stdout.count(marker)
    for sent, action in enumerate(actions):
        wait_until(lambda: sent - taken() < 8, 10, interval=0.05, what="the monitor to catch up")
        testbed.uevent(PARTITION, action)
    wait_until(lambda: taken() == len(actions), 10, what="all events taken")

    sandbox.syslog.wait_for("HouseKeeper::onUSBStick filePath=", count=len(actions), timeout=10)
    reported = sandbox.syslog.matching("HouseKeeper::onUSBStick")
    assert [l.split("[USBStick] ")[1] for l in reported] == [
        'HouseKeeper::onUSBStick filePath= "/media/sda1"  on= %s'
        % ("true" if a == "add" else "false") for a in actions]
    sandbox.syslog.flush()
    assert len(sandbox.syslog.matching("PanicReport::setupTombstone")) == 50
    runs = sandbox.standins["savelog.sh"].runs
    assert 1 <= len(runs) <= 50 and all(r.argv == ["/media/sda1"] for r in runs)
    end_with_ignore(tool, x, window)


# --------------------------------------------------------------------------------------------
# sticks below /media/qz


def test_stick_pulled_during_a_save(sandbox, x, tmp_path):
    savelog = sandbox.standins["savelog.sh"]
    savelog.configure(hold=True)
    tool, window = start_report(sandbox, x)
    insert_stick(sandbox, "sda1")
    savelog.wait_runs(1)

    sandbox.tree.remove("/media/qz/sda1")
    sandbox.syslog.wait_for('PanicReport::onUSBInserted on= false  mountPoint= "/media/qz/sda1"')
    # the script is left to finish: released, it ends by itself, and its end closes the save
    savelog.release()
    assert savelog.wait_runs(1, finished=True)[0].status == 0
    wait_for_full_bar(x, window, tmp_path / "saved.png")

    savelog.configure()
    insert_stick(sandbox, "sdb1")
    runs = savelog.wait_runs(2, finished=True)
    assert [r.argv for r in runs] == [["/media/qz/sda1"], ["/media/qz/sdb1"]]
    end_with_ignore(tool, x, window)


def qel_lines(sandbox, kind):
    return [l for l in sandbox.syslog.debug_lines if l.startswith("HouseKeeper:: Qel usb " + kind)]


def test_two_sticks_at_once_report_the_first_by_name(sandbox, x):
    tool, window = start_report(sandbox, x)
    savelog = sandbox.standins["savelog.sh"]

    hold(tool, lambda: [sandbox.tree.mkdir("/media/qz/" + n) for n in ("Beta", "alpha")])
    sandbox.syslog.wait_for('HouseKeeper:: Qel usb inserted:  "alpha"')
    assert [r.argv for r in savelog.wait_runs(1, finished=True)] == [["/media/qz/alpha"]]

    # the second one was taken in without a report: a third is reported alone, correctly
    insert_stick(sandbox, "gamma")
    assert 'HouseKeeper: old paths= ("alpha", "Beta")' in sandbox.syslog.debug_lines
    assert [l.split(":  ")[1] for l in qel_lines(sandbox, "inserted")] == ['"alpha"', '"gamma"']
    # the tool lists the directory once more after starting the save; a change made before
    # that second listing would be taken in silently, so let the save end first
    savelog.wait_runs(2, finished=True)
    time.sleep(0.5)

    hold(tool, lambda: [sandbox.tree.remove("/media/qz/" + n) for n in ("Beta", "alpha")])
    sandbox.syslog.wait_for('HouseKeeper:: Qel usb removed:  "alpha"')
    sandbox.syslog.flush()
    assert len(qel_lines(sandbox, "removed")) == 1
    assert [r.argv for r in savelog.wait_runs(2)] == [["/media/qz/alpha"], ["/media/qz/gamma"]]
    end_with_ignore(tool, x, window)


def test_hundreds_of_stick_directories(sandbox, x):
    names = ["stick%03d" % i for i in range(500)]
    for name in names:
        sandbox.tree.mkdir("/media/qz/" + name)
    tool, window = start_report(sandbox, x)

    insert_stick(sandbox, "stick250x")
    listing = sorted(names + ["stick250x"], key=str.lower)
    assert ('HouseKeeper: new paths= (%s)' % ", ".join('"%s"' % n for n in listing)
            in sandbox.syslog.debug_lines)
    assert [r.argv for r in sandbox.standins["savelog.sh"].wait_runs(1)] == [
        ["/media/qz/stick250x"]]

    sandbox.tree.remove("/media/qz/stick123")
    sandbox.syslog.wait_for('HouseKeeper:: Qel usb removed:  "stick123"')
    end_with_ignore(tool, x, window)


def test_odd_stick_name_is_one_argument_and_logged_literally(sandbox, x):
    tool, window = start_report(sandbox, x)
    sandbox.tree.mkdir("/media/qz/" + ODD_NAME)
    sandbox.syslog.wait_for("PanicReport::setupTombstone")
    savelog = sandbox.standins["savelog.sh"]
    assert [r.argv for r in savelog.wait_runs(1)] == [["/media/qz/" + ODD_NAME]]
    lines = sandbox.syslog.debug_lines
    assert 'HouseKeeper:: Qel usb inserted:  "%s"' % ODD_NAME_LOGGED in lines
    assert 'PanicReport::setupTombstone usbPath= "/media/qz/%s"' % ODD_NAME_LOGGED in lines
    end_with_ignore(tool, x, window)


# --------------------------------------------------------------------------------------------
# packages


def packages(count, newest):
    """`count` package names with distinct times; the one numbered `newest` is the latest."""
    step = 7919  # prime to 5000: (i * step) % count meets every time once
    base = (newest * step) % count
    return [("pkg-%04d.tgz" % i, T0 + ((i * step - base - 1) % count)) for i in range(count)]


def test_thousands_of_packages(sandbox, x):
    sandbox.package_dir("/images", packages(5000, 17))
    sandbox.tree.mkdir("/home/ftp")
    tool = sandbox.start("-c", "up", x=x)
    x.find_window("AppUpdate", timeout=60)
    tool.wait_for_stdout(START_END_LINE, timeout=60)

    # an upload of as many: the newest one becomes the choice
    iup = hold(tool, lambda: sandbox.package_dir("/home/ftp", packages(5000, 4321)))
    # the window is up already and a successful check logs nothing: give it a moment (a press
    # before the check would run /images/iup.sh, and fail the test, never pass it)
    time.sleep(1)
    x.click(x.find_window("AppUpdate"), *UPGRADE)
    # thousands of rows keep the screen busy for a while, longest in a sanitizer build
    assert [r.argv for r in iup.wait_runs(1, timeout=60)] == [["/home/ftp/pkg-4321.tgz"]]
    assert tool.running


def test_odd_package_name_reaches_the_installer_as_one_argument(sandbox, x):
    sandbox.package_dir("/images", ["app.tgz"])
    sandbox.tree.mkdir("/home/ftp")
    tool = sandbox.start("-c", "up", x=x)
    x.find_window("AppUpdate")
    tool.wait_for_stdout(START_END_LINE)
    iup = hold(tool, lambda: sandbox.package_dir(
        "/home/ftp", [("old.tgz", T0), (ODD_NAME + ".tgz", T0 + 10)]))
    time.sleep(1)  # as above
    x.click(x.find_window("AppUpdate"), *UPGRADE)
    assert [r.argv for r in iup.wait_runs(1, timeout=10)] == [["/home/ftp/" + ODD_NAME + ".tgz"]]
