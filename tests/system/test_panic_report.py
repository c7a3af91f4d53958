import pytest

from harness import APPS, wait_until

REBOOT, RESTART_APP, CAPTURE, IGNORE = (80, 336), (240, 336), (400, 336), (560, 336)
# the save script's error output comes in one write (coreutils' printf buffers it); the script
# ends once the test creates /tmp/go<STICK>
SAVE = ('echo "to $1"; /usr/bin/printf "cp: no space\\nsaved 1 of 2\\n" >&2; '
        'until [ -e /tmp/go${1##*/} ]; do sleep 0.05; done; echo "copied"; echo "synced" >&2; '
        ': >/tmp/saved${1##*/}')


def test_deaths_sticks_saves_and_the_end_with_a_save_still_running(device):
    d = device((1024, 768))
    d.put("/media/qz/.hidden/.keep")  # a device that mounts sticks below /media/qz
    d.script("/Orvalen/opt/savelog.sh", SAVE)
    d.script("/tmp/bin/reboot")
    d.script("/tmp/bin/killall", 'exec /usr/bin/killall "$@"')
    d.start("-c", "apr", apps=("Mirelu", "qconnman-applet"))  # Brennhaven has died
    window = d.window("Form")
    assert d.position(window) == (192, 144)
    d.wait_out("Housekeeper start tool end")
    assert d.out().startswith("PanicReport::showAPR 1024 768\nPanicReport::onAppLive appId=1\n"
                              "PanicReport::onAppLive appId=2\n")

    d.ctl("mkdir /media/qz/STICK1")
    d.wait_log('PanicReport::setupTombstone usbPath= "/media/qz/STICK1"')
    d.click(window, *REBOOT)  # refused while the save script runs
    wait_until(lambda: "Process is already running" in d.out("stderr"), 5, "Reboot to be refused")
    d.put("/tmp/goSTICK1")
    wait_until(d.path("/tmp/savedSTICK1").exists, 5, "the first save")
    assert d.calls("savelog.sh") == [["/Orvalen/opt/savelog.sh", "/media/qz/STICK1"]]
    for line in ('HouseKeeper: new paths= ("STICK1")', 'HouseKeeper: old paths= ()',
                 'HouseKeeper:: Qel usb inserted:  "STICK1"',
                 'PanicReport::onUSBInserted on= true  mountPoint= "/media/qz/STICK1"',
                 'PanicReport::onProcStdOut out= "to /media/qz/STICK1\\n"',
                 'PanicReport::onProcStdErr line= "cp: no space\\nsaved 1 of 2\\n"'):
        assert "USBStick: [USBStick] " + line in d.log
    assert d.calls("reboot") == []
    d.click(window, *REBOOT)
    wait_until(lambda: d.calls("reboot"), 5, "the reboot command")
    assert d.calls("reboot") == [["/tmp/bin/reboot"]]  # through "/bin/bash -c reboot"

    d.ctl("rmdir /media/qz/STICK1")
    d.wait_log('PanicReport::onUSBInserted on= false  mountPoint= "/media/qz/STICK1"')
    assert 'USBStick: [USBStick] HouseKeeper:: Qel usb removed:  "STICK1"' in d.log
    assert [c[1:] for c in d.calls("killall")[:3]] == [["-0", app] for app in APPS]
    d.ctl("pkill -x Mirelu")
    probes = len(d.calls("killall"))
    wait_until(lambda: ["/tmp/bin/killall", "-0", "Mirelu"] in d.calls("killall")[probes:], 5, "a probe")
    d.ctl("/tmp/bin/Brennhaven infinity &")
    d.wait_out("PanicReport::onAppLive appId=0\n")  # Mirelu is down: the report stays

    d.ctl("mkdir /media/qz/STICK2")
    d.wait_log('PanicReport::setupTombstone usbPath= "/media/qz/STICK2"')
    d.ctl("/tmp/bin/Mirelu infinity &")  # all three alive: the tool ends
    assert d.status() == 0
    assert d.out().endswith("PanicReport::onAppLive appId=1\nPanicReport::hideAPR\n")
    assert d.out().count("appId=1") == 2  # changes only, never the same state twice
    d.put("/tmp/goSTICK2")
    wait_until(d.path("/tmp/savedSTICK2").exists, 5, "the save to outlive the tool")
    assert "QProcess: Destroyed" not in d.out("stderr")


@pytest.mark.parametrize("button, script, line", [
    (RESTART_APP, "/Orvalen/bin/restartbhaven.sh", "PanicReport::on_btnRestartApp_clicked()"),
    (CAPTURE, "/Orvalen/opt/logcapture.sh", "PanicReport::on_btnCapture_clicked()"),
    (IGNORE, None, None),
])
def test_buttons_that_end_the_report(device, button, script, line):
    d = device()
    for path in ("/Orvalen/bin/restartbhaven.sh", "/Orvalen/opt/logcapture.sh"):
        d.script(path)
    d.start("-c", "apr")
    d.click(d.window("Form"), *button)
    assert d.status() == 0
    assert d.out().endswith("PanicReport::hideAPR\n")
    if script:
        wait_until(lambda: d.calls(script.split("/")[-1]), 5, script)
        assert d.calls(script.split("/")[-1]) == [[script]]
        assert "USBStick: [USBStick] " + line in d.log
    assert d.calls("restartbhaven.sh") + d.calls("logcapture.sh") == ([[script]] if script else [])
