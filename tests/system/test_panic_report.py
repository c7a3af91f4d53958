import pytest

from harness import APPS, wait_until

REBOOT, RESTART_APP, CAPTURE, IGNORE = (80, 336), (240, 336), (400, 336), (560, 336)
# it reports before and after the test creates /tmp/go<STICK>; printf writes its lines at once
SAVE = ('ulimit -c >/tmp/core-limit; echo "to $1"; '
        '/usr/bin/printf "cp: no space\\nsaved 50%% of %%s\\n" >&2; '
        'until [ -e /tmp/go${1##*/} ]; do sleep 0.05; done; '
        'echo "copied"; echo "synced" >&2; : >/tmp/saved${1##*/}')


def test_deaths_sticks_saves_and_the_end_with_a_save_still_running(device):
    d = device()
    for stick in (".hidden", "Beta", "alpha"):  # a device that mounts sticks below /media/qz
        d.put(f"/media/qz/{stick}/")
    d.script("/Orvalen/opt/savelog.sh", SAVE)
    d.script("/tmp/bin/reboot")
    d.script("/tmp/bin/killall", 'exec /usr/bin/killall "$@"')
    d.start("-c", "apr", apps=("Mirelu", "qconnman-applet"))  # Brennhaven has died
    window = d.window("Form")
    assert d.position(window) == (80, 60, 0)
    d.wait_out("Housekeeper start tool end")
    assert d.out() == ("PanicReport::showAPR 800 600\nPanicReport::onAppLive appId=1\n"
                       "PanicReport::onAppLive appId=2\nHousekeeper start tool end\n")

    d.ctl("mkdir /media/qz/STICK1")
    wait_until(lambda: d.calls("savelog.sh"), 5, "the save script")
    d.click(window, *REBOOT)  # refused while the save script runs
    wait_until(lambda: "Process is already running" in d.out("stderr"), 5, "Reboot refused")
    d.put("/tmp/goSTICK1")
    d.wait_log('PanicReport::onProcStdErr line= "synced\\n"')
    for line in ('HouseKeeper: new paths= ("alpha", "Beta", "STICK1")',
                 'HouseKeeper:: Qel usb inserted:  "STICK1"',
                 'PanicReport::onUSBInserted on= true  mountPoint= "/media/qz/STICK1"',
                 'PanicReport::onProcStdOut out= "to /media/qz/STICK1\\n"',
                 'PanicReport::onProcStdErr line= "cp: no space\\nsaved 50% of %s\\n"'):
        assert line in d.debug
    d.click(window, *REBOOT)
    wait_until(lambda: d.calls("reboot"), 5, "the reboot command")
    assert d.calls("reboot") == [["/tmp/bin/reboot"]]  # through "/bin/bash -c reboot", once

    d.ctl("mv /media/qz/STICK1 /media/qz/STICK9")  # as many sticks as before: no news
    d.wait_log("HouseKeeper::Fatal Error, dirs no changes")
    d.ctl("rmdir /media/qz/STICK9")  # compared with the listing after the rename
    d.wait_log('PanicReport::onUSBInserted on= false  mountPoint= "/media/qz/STICK9"')
    assert 'HouseKeeper:: Qel usb removed:  "STICK9"' in d.debug

    d.ctl("pkill -x Mirelu")
    probes = len(d.calls("killall"))  # a whole pass later, its death has been seen
    wait_until(lambda: len(d.calls("killall")) >= probes + 4, 5, "a probe pass")
    d.ctl("/tmp/bin/Brennhaven infinity &")
    d.wait_out("PanicReport::onAppLive appId=0\n")  # Mirelu is down: the report stays

    d.ctl("pkill -STOP -x Tovrimax; mkdir /media/qz/STICK{4,2}; pkill -CONT -x Tovrimax")
    wait_until(lambda: len(d.calls("savelog.sh")) == 2, 5, "a save to the first of the two")
    d.ctl("mkdir /media/qz/STICK3")  # while a save runs: no second script
    d.wait_log('PanicReport::setupTombstone usbPath= "/media/qz/STICK3"')
    d.ctl("/tmp/bin/Mirelu infinity &")  # all three alive: the tool ends, the save goes on
    assert d.status() == 0
    assert d.out().endswith("PanicReport::onAppLive appId=1\nPanicReport::hideAPR\n")
    assert d.out().count("appId=1") == 2  # changes only, never the same state twice
    d.put("/tmp/goSTICK2")  # the script reports once more, with nobody left to read it
    wait_until(d.path("/tmp/savedSTICK2").exists, 5, "the save to outlive the tool")
    assert d.calls("savelog.sh") == [["/Orvalen/opt/savelog.sh", "/media/qz/STICK1"],
                                     ["/Orvalen/opt/savelog.sh", "/media/qz/STICK2"]]
    assert d.path("/tmp/core-limit").read_text() == "unlimited\n"  # lifted for its children


@pytest.mark.parametrize("button, script, line", [
    (RESTART_APP, "/Orvalen/bin/restartbhaven.sh", "PanicReport::on_btnRestartApp_clicked()"),
    (CAPTURE, "/Orvalen/opt/logcapture.sh", "PanicReport::on_btnCapture_clicked()"),
    (IGNORE, None, None),
], ids=["Restart App", "Capture", "Ignore"])
def test_all_alive_at_start_the_report_stays_until_a_button_ends_it(device, button, script, line):
    d = device((800, 480))  # no screen wider than 800: centred in 800x600
    for path in ("/Orvalen/bin/restartbhaven.sh", "/Orvalen/opt/logcapture.sh"):
        d.script(path)
    d.put("/tmp/locale")  # empty, and still it beats -l: English
    d.start("-c", "apr", "-l", "Chinese", apps=APPS)  # their end request comes before the loop
    window = d.window("Form")
    assert d.position(window) == (80, 60, 0)
    d.wait_out("Housekeeper start tool end")
    assert d.out().endswith("appId=2\nPanicReport::hideAPR\nHousekeeper start tool end\n")
    assert d.debug[-2].endswith('locale= "English"')
    d.click(window, *button)
    assert d.status() == 0
    assert d.out().endswith("Housekeeper start tool end\nPanicReport::hideAPR\n")
    if script:
        wait_until(lambda: d.calls(script.split("/")[-1]), 5, script)
        assert d.calls(script.split("/")[-1]) == [[script]]
        assert line in d.debug
