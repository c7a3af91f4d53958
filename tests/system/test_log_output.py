"""Where the tool's diagnostics go: debug lines to syslog, the framework's warnings to stderr."""

import re

import pytest

WATCH_LIST_EMPTY = re.compile(
    r"^Warning: QFileSystemWatcher::addPaths: list is empty \(.*:\d+, .*\)$", re.M)
DEBUG_PRIORITY = 15  # LOG_USER | LOG_DEBUG


def test_empty_watch_list_warning_reaches_stderr(sandbox, x):
    tool = sandbox.run("-c", "none", x=x, timeout=20)
    assert tool.returncode == 0
    assert len(WATCH_LIST_EMPTY.findall(tool.stderr)) == 1, tool.stderr
    sandbox.syslog.flush()
    assert not sandbox.syslog.matching("QFileSystemWatcher")


@pytest.mark.parametrize("directory", ["/home/ftp", "/var/log/coredump", "/home/root/coredump",
                                       "/home/qz/coredump", "/media/qz"])
def test_no_warning_when_a_watched_directory_exists(sandbox, x, directory):
    sandbox.tree.mkdir(directory)
    tool = sandbox.run("-c", "none", x=x, timeout=20)
    assert tool.returncode == 0
    assert "QFileSystemWatcher" not in tool.stderr


def test_debug_lines_reach_syslog_with_prefix_and_percent_signs_intact(sandbox, x):
    # a stick's directory appearing below /media/qz is logged with its name; without a save
    # script no save runs, so this test stays about the log lines alone
    sandbox.tree.mkdir("/media/qz")
    sandbox.tree.remove("/Orvalen/opt/savelog.sh")
    tool = sandbox.start("-c", "ver", x=x)
    window = x.find_window("Form")
    sandbox.tree.mkdir("/media/qz/st%sick%n%%d")
    line = sandbox.syslog.wait_for("HouseKeeper: new paths=")
    assert line == 'USBStick: [USBStick] HouseKeeper: new paths= ("st%sick%n%%d")'
    assert sandbox.syslog.priorities[sandbox.syslog.lines.index(line)] == DEBUG_PRIORITY
    assert sandbox.syslog.wait_for("HouseKeeper: old paths=") == \
        "USBStick: [USBStick] HouseKeeper: old paths= ()"
    x.click(window, 320, 355)
    assert tool.wait(10) == 0
    # the tool's lines go to syslog only
    for text in ("new paths", "old paths"):
        assert text not in tool.stdout + tool.stderr
