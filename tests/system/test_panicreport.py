"""The panic report of mode "apr" and the saving of panic logs to a USB stick, in any mode:
where the window stands, which button ends the tool, what the device scripts receive, what
reaches the system log and the screen."""

import shutil

import pytest

from conftest import artifacts_dir
from harness import (CAPTURE, HARNESS_MOUNT, IGNORE, REBOOT, REPORT_HEIGHT as HEIGHT,
                     REPORT_WIDTH as WIDTH, RESTART_APP, START_END_LINE, bar_is_full,
                     wait_for_full_bar)


def qel_insert_lines(name):
    """What a new directory below /media/qz writes to the system log, in order."""
    return ['HouseKeeper: new paths= ("%s")' % name,
            "HouseKeeper: old paths= ()",
            'HouseKeeper:: Qel usb inserted:  "%s"' % name,
            'PanicReport::onUSBInserted on= true  mountPoint= "/media/qz/%s"' % name,
            'PanicReport::setupTombstone usbPath= "/media/qz/%s"' % name]


def test_apr_shows_the_report_centred(sandbox, x):
    tool = sandbox.start("-c", "apr", x=x)
    g = x.geometry(x.find_window("Form"))
    assert (g.x, g.y, g.width, g.height) == (80, 60, WIDTH, HEIGHT)
    tool.wait_for_stdout(START_END_LINE)
    assert tool.stdout.startswith("PanicReport::showAPR 800 600\n")
    # no application runs in the sandbox: all reported dead, so the report stays up
    assert tool.running


@pytest.mark.parametrize("button, script, line", [
    (IGNORE, None, None),
    (RESTART_APP, "restartbhaven.sh", "PanicReport::on_btnRestartApp_clicked()"),
    (CAPTURE, "logcapture.sh", "PanicReport::on_btnCapture_clicked()"),
], ids=["Ignore", "Restart App", "Capture"])
def test_buttons_that_end_the_tool(sandbox, x, button, script, line):
    wrap = ()
    if script:
        # the sandbox goes down with the tool, and a detached script with it: let the script
        # record its run first (at most 4 s), then pass on the tool's status
        wrap = ("/bin/bash", "-c", '"$0" "$@"; status=$?; for i in $(seq 200); do '
                '[ -e %s/records/%s/1/argv ] && break; sleep 0.02; done; exit $status'
                % (HARNESS_MOUNT, script))
    tool = sandbox.start("-c", "apr", x=x, wrap=wrap)
    window = x.find_window("Form")
    tool.wait_for_stdout(START_END_LINE)
    x.click(window, *button)
    tool.assert_ends_normally(10)
    assert tool.stdout.endswith("PanicReport::hideAPR\n")

    sandbox.syslog.flush()
    clicked = [l for l in sandbox.syslog.debug_lines if "_clicked()" in l]
    assert clicked == ([line] if line else [])
    for key in ("restartbhaven.sh", "logcapture.sh"):
        if key == script:
            runs = sandbox.standins[key].wait_runs(1)
            assert [r.argv for r in runs] == [[]]
        else:
            assert sandbox.standins[key].runs == []
    assert sandbox.standins["reboot"].runs == []


def test_reboot_runs_the_command_and_the_tool_stays(sandbox, x):
    tool = sandbox.start("-c", "apr", x=x)
    window = x.find_window("Form")
    x.click(window, *REBOOT)
    runs = sandbox.standins["reboot"].wait_runs(1, finished=True)
    assert [r.argv for r in runs] == [[]]
    assert tool.running
    x.click(window, *IGNORE)
    tool.assert_ends_normally(10)
    assert sandbox.standins["savelog.sh"].runs == []


def test_last_application_coming_back_ends_the_tool(sandbox, x):
    tool = sandbox.start("-c", "apr", x=x, apps=("Mirelu", "qconnman-applet"))
    x.find_window("Form")
    tool.wait_for_stdout(START_END_LINE)
    # Mirelu was reported alive at start-up, but Brennhaven is dead: the report stays
    assert "PanicReport::onAppLive appId=1\n" in tool.stdout
    assert "hideAPR" not in tool.stdout
    tool.start_app("Brennhaven")
    tool.assert_ends_normally(10)
    assert tool.stdout.endswith("PanicReport::onAppLive appId=0\nPanicReport::hideAPR\n")


@pytest.mark.parametrize("mode, forms", [("apr", 1), ("ver", 1), ("up", 0)])
def test_new_stick_directory_starts_the_save(sandbox, x, mode, forms):
    sandbox.tree.mkdir("/media/qz")
    if mode == "up":
        sandbox.package_dir("/images", ["app.tgz"])
    savelog = sandbox.standins["savelog.sh"]
    tool = sandbox.start("-c", mode, x=x)
    tool.wait_for_stdout(START_END_LINE)

    sandbox.tree.mkdir("/media/qz/sda1")
    assert [r.argv for r in savelog.wait_runs(1)] == [["/media/qz/sda1"]]
    assert savelog.runs[0].arg0 == "/Orvalen/opt/savelog.sh"
    sandbox.syslog.wait_for("PanicReport::setupTombstone")
    lines = sandbox.syslog.debug_lines
    start = lines.index(qel_insert_lines("sda1")[0])
    assert lines[start:start + 5] == qel_insert_lines("sda1")
    # the report stays hidden unless it is the mode's screen (the version screen is "Form" too)
    assert len(x.visible_windows("Form")) == forms


def test_stick_removal_is_reported_and_starts_nothing(sandbox, x):
    sandbox.tree.mkdir("/media/qz/sda1")
    tool = sandbox.start("-c", "apr", x=x)
    tool.wait_for_stdout(START_END_LINE)
    sandbox.tree.remove("/media/qz/sda1")
    sandbox.syslog.wait_for('PanicReport::onUSBInserted on= false  mountPoint= "/media/qz/sda1"')
    lines = sandbox.syslog.debug_lines
    assert 'HouseKeeper:: Qel usb removed:  "sda1"' in lines
    assert sandbox.standins["savelog.sh"].runs == []


def test_save_errors_reach_syslog_and_the_report(sandbox, x, tmp_path):
    sandbox.tree.mkdir("/media/qz")
    savelog = sandbox.standins["savelog.sh"]
    savelog.configure(stdout="copied 2 files\n",
                      stderr="cp: cannot stat core.1: No such file\n"
                             "%n%s \"core\" 'x' Äöü 中文\n",
                      hold=True, exit=1)
    tool = sandbox.start("-c", "apr", x=x)
    window = x.find_window("Form")
    tool.wait_for_stdout(START_END_LINE)

    sandbox.tree.mkdir("/media/qz/STICK")
    # logged literally: no format expansion, QDebug's quoting only
    sandbox.syslog.wait_for("PanicReport::onProcStdErr line= \"cp: cannot stat core.1: No such "
                            "file\\n%n%s \\\"core\\\" 'x' Äöü 中文\\n\"")
    sandbox.syslog.wait_for(r'PanicReport::onProcStdOut out= "copied 2 files\n"')
    assert not bar_is_full(x, window, tmp_path / "saving.png")

    savelog.release()
    savelog.wait_runs(1, finished=True)
    wait_for_full_bar(x, window, tmp_path / "saved.png")
    assert tool.running
    # kept for a look: the USB paragraph, both error lines, "Panic log saved successfully!"
    artifacts_dir().mkdir(parents=True, exist_ok=True)
    shutil.copy(tmp_path / "saved.png", artifacts_dir() / "panicreport-save-errors.png")
    x.click(window, *IGNORE)
    tool.assert_ends_normally(10)
