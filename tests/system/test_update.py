import os
import time

import pytest

from harness import wait_until

OLD, NEW = 1_600_000_000, 1_700_000_000
UPGRADE, LATER, IGNORE = (107, 425), (320, 425), (533, 425)


def test_update_from_images_on_two_screens(device):
    d = device((1280, 800), (1024, 768))  # the wider screen is chosen
    d.script("/images/iup.sh", mode=0o644)  # arrives without its execute bit
    for name, mtime in (("a.tgz", OLD), ("b.tgz", NEW), ("APP.TGZ", OLD), ("notes.txt", NEW)):
        d.put("/images/" + name, "package", mtime=mtime)
    d.start("-c", "up")
    window = d.window("AppUpdate")
    assert d.position(window) == (320, 160)
    d.click(window, *UPGRADE)  # no package clicked: the installer gets the directory itself
    wait_until(lambda: d.calls("iup.sh"), 5, "the installer")
    assert d.calls("iup.sh") == [["/images/iup.sh", "/images/"]]
    assert "USBStick: [USBStick] AppUpdate::onFinished code= 0" in d.log
    assert os.access(d.path("/images/iup.sh"), os.X_OK)
    d.click(window, *LATER)  # disabled after Upgrade, as is Ignore: the installer takes over
    d.click(window, *IGNORE)
    time.sleep(1)
    assert not d.path("/tmp/status").exists() and "PanicReport::showAPR" not in d.out()


UPLOAD = {"iup.sh": NEW, "old.tgz": OLD, "new pkg 'x'.tgz": NEW, "z.TGZ": OLD}


@pytest.mark.parametrize("files, line, leave", [
    (UPLOAD, None, LATER),
    (UPLOAD, None, IGNORE),
    ({"app.tgz": NEW}, "AppUpdate::onCheckPackage iup.sh tool not exist", None),
    ({"iup.sh": NEW, "app.tar.gz": NEW}, "AppUpdate::onCheckPackage no application package", None),
])
def test_ftp_upload_over_the_panic_report(device, files, line, leave):
    d = device()
    d.put("/home/ftp/.keep")
    d.start("-c", "apr")  # nothing runs: the report stays up
    d.window("Form")
    d.ctl("pkill -STOP -x Tovrimax")  # the upload lands as one change
    for name, mtime in files.items():
        d.script("/home/ftp/" + name) if name == "iup.sh" else d.put("/home/ftp/" + name, "x", mtime=mtime)
    d.ctl("pkill -CONT -x Tovrimax")
    if line:
        d.wait_log(line)
        assert d.status() == 0
        return
    window = d.window("AppUpdate")
    assert d.position(window) == (320, 160)  # never shown before: centred in 1280x800
    d.click(window, *UPGRADE)  # the newest package is the choice
    wait_until(lambda: d.calls("iup.sh"), 5, "the installer")
    assert d.calls("iup.sh") == [["/home/ftp/iup.sh", "/home/ftp/new pkg 'x'.tgz"]]
    # the chmod changed /home/ftp: the check runs again and shows the screen, all buttons enabled
    wait_until(lambda: d.click(window, *leave) or d.path("/tmp/status").exists(), 5, "leaving")
    assert d.status() == 0
