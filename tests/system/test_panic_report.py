import time

import pytest

from harness import APPS, DEVICE, DRAIN, HOST_DRAIN, OWN, PROBE

REBOOT, RESTART_APP, CAPTURE, IGNORE = (80, 336), (240, 336), (400, 336), (560, 336)
# A script as a user writes one: under "set -e", with pipelines whose reader quits early. It
# reports before and after the test creates /tmp/go<STICK>; printf writes its lines at once.
SAVE = ('set -e; ulimit -c >/tmp/core-limit; seq 1 200000 | head -n 1 >/dev/null; '
        '(while :; do echo line; done) | head -n 1 >/dev/null; echo "to $1"; '
        '/usr/bin/printf "cp: no space\\nsaved 50%% of %%s\\n" >&2; '
        'until [ -e /tmp/go${1##*/} ]; do sleep 0.05; done; '
        'echo "copied"; echo "synced" >&2; : >/tmp/saved${1##*/}')
NO_DRAIN = (f'ScriptProcess::drainNotStarted drain= "{DRAIN}" not started: '
            "Permission denied - a script still running when the tool ends dies at its next write")


def test_deaths_sticks_saves_and_the_end_with_a_save_still_running(device):
    d = device()
    for stick in (".hidden", "Beta", "alpha"):  # a device that mounts sticks below /media/qz
        d.put(f"/media/qz/{stick}/")
    d.script("/Orvalen/opt/savelog.sh", SAVE)
    d.script("/tmp/bin/reboot")
    d.put("/tmp/bin/killall", PROBE, 0o755)
    d.put("/tmp/drain", HOST_DRAIN.read_bytes())  # not executable, for now
    d.start("-c", "apr", apps=("Mirelu", "qconnman-applet"), drain="/tmp/drain")  # Brennhaven died
    window = d.window("Form")
    shown = time.monotonic()
    assert d.geometry(window) == (80, 60, 640, 480, 0)
    d.wait_out("Housekeeper start tool end")
    assert d.out() == ("PanicReport::showAPR 800 600\nPanicReport::onAppLive appId=1\n"
                       "PanicReport::onAppLive appId=2\nHousekeeper start tool end\n")

    d.ctl("mkdir /media/qz/STICK1")
    d.wait(lambda: d.calls("savelog.sh"), "the save script", 5)
    d.click(window, *REBOOT)  # refused while the save script runs
    d.wait(lambda: "Process is already running" in d.out("stderr"), "Reboot refused", 5)
    d.put("/tmp/goSTICK1")
    d.wait_log('PanicReport::onProcStdErr line= "synced\\n"')
    for line in ('HouseKeeper: new paths= ("alpha", "Beta", "STICK1")',
                 'HouseKeeper:: Qel usb inserted:  "STICK1"',
                 'PanicReport::onUSBInserted on= true  mountPoint= "/media/qz/STICK1"',
                 'PanicReport::onProcStdOut out= "to /media/qz/STICK1\\n"', NO_DRAIN):
        assert line in d.debug
    # the pipelines ended quietly, as in any shell: no "Broken pipe" on the report
    assert [l for l in d.debug if l.startswith("PanicReport::onProcStdErr")] == [
        'PanicReport::onProcStdErr line= "cp: no space\\nsaved 50% of %s\\n"',
        'PanicReport::onProcStdErr line= "synced\\n"']
    d.click(window, *REBOOT)
    d.wait(lambda: d.calls("reboot"), "the reboot command", 5)
    assert d.calls("reboot") == [["/tmp/bin/reboot"]]  # through "/bin/bash -c reboot", once
    d.wait(lambda: d.debug.count(NO_DRAIN) == 2, "the reboot's missing drain logged")
    d.ctl("chmod 755 /tmp/drain")  # the drain is back for the save that outlives the tool

    d.ctl("mv /media/qz/STICK1 /media/qz/STICK9")  # as many sticks as before: no news
    d.wait_log("HouseKeeper::Fatal Error, dirs no changes")
    d.ctl("rmdir /media/qz/STICK9")  # compared with the listing after the rename
    d.wait_log('PanicReport::onUSBInserted on= false  mountPoint= "/media/qz/STICK9"')
    assert 'HouseKeeper:: Qel usb removed:  "STICK9"' in d.debug

    d.ctl("pkill -x Mirelu")
    probes = d.out("probes")  # a whole pass later, its death has been seen
    d.wait(lambda: len(d.out("probes")) >= len(probes) + 4, "a probe pass", 5)
    d.ctl("/tmp/bin/Brennhaven infinity &")
    d.wait_out("PanicReport::onAppLive appId=0\n")  # Mirelu is down: the report stays

    d.ctl("pkill -STOP -x Tovrimax; mkdir /media/qz/STICK{4,2}; pkill -CONT -x Tovrimax")
    d.wait(lambda: len(d.calls("savelog.sh")) == 2, "a save to the first of the two", 5)
    d.past_five_seconds(shown)
    assert not d.ended(), "the report ended by the version screen's five seconds"
    d.ctl("/tmp/bin/Mirelu infinity &")  # all three alive: the tool ends, the save goes on
    assert d.status() == 0
    assert d.out().endswith("PanicReport::onAppLive appId=1\nPanicReport::hideAPR\n")
    assert d.out().count("appId=1") == 2  # changes only, never the same state twice
    d.ctl("pidof Tovrimax >/tmp/pidof; killall -0 Tovrimax 2>/dev/null; echo $? >/tmp/killall")
    assert d.path("/tmp/pidof").read_text() == ""  # nothing that outlives it passes for it
    assert d.path("/tmp/killall").read_text() == "1\n"
    d.put("/tmp/goSTICK2")  # the script writes once more, under "set -e", the tool gone
    d.wait(d.path("/tmp/savedSTICK2").exists, "the save to outlive the tool", tool_may_end=True)
    d.wait(lambda: set(d.running()) <= DEVICE, "nothing left running", tool_may_end=True)
    assert d.calls("savelog.sh") == [["/Orvalen/opt/savelog.sh", "/media/qz/STICK1"],
                                     ["/Orvalen/opt/savelog.sh", "/media/qz/STICK2"]]
    assert d.path("/tmp/core-limit").read_text() == "unlimited\n"  # lifted for its children
    assert d.debug.count(NO_DRAIN) == 2  # none for a drain that runs


@pytest.mark.parametrize("button, script, line, locale, language, shown", [
    (RESTART_APP, "/Orvalen/bin/restartbhaven.sh", "PanicReport::on_btnRestartApp_clicked()",
     "", ["-l", "Chinese"], "English"),  # the file wins, even empty
    (CAPTURE, "/Orvalen/opt/logcapture.sh", "PanicReport::on_btnCapture_clicked()",
     "Chinese\n", ["-l", "English"], "Chinese"),
    (IGNORE, None, None, None, [], "English"),  # no file, no -l: the default
], ids=["Restart App", "Capture", "Ignore"])
def test_all_alive_at_start_the_report_stays_until_a_button_ends_it(
        device, button, script, line, locale, language, shown):
    d = device((800, 480))  # no screen wider than 800: centred in 800x600
    for path in ("/Orvalen/bin/restartbhaven.sh", "/Orvalen/opt/logcapture.sh"):
        d.script(path)
    if locale is not None:
        d.put("/tmp/locale", locale)
    d.start("-c", "apr", *language, apps=APPS)  # their end request comes before the loop
    window = d.window("Form")
    assert d.geometry(window) == (80, 60, 640, 480, 0)
    d.wait_out("Housekeeper start tool end")
    assert d.out().endswith("appId=2\nPanicReport::hideAPR\nHousekeeper start tool end\n")
    assert d.debug[-2].endswith(f'locale= "{shown}"')
    d.click(window, *button)
    assert d.status() == 0
    assert d.out().endswith("Housekeeper start tool end\nPanicReport::hideAPR\n")
    if script:
        name = script.split("/")[-1]
        d.wait(lambda: d.calls(name), script, 5, tool_may_end=True)
        assert d.calls(name) == [[script, OWN]]
        assert line in d.debug
