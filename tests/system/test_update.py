import time

import pytest

from harness import DEVICE, OWN

UPGRADE, LATER, IGNORE, FIRST_ENTRY = (107, 425), (320, 425), (533, 425), (120, 245)
# It writes more than a pipe holds once the test creates /tmp/go, and a log onto the stick.
SAVE = ('until [ -e /tmp/go ]; do sleep 0.05; done; seq 1 30000; seq 1 30000 >&2; '
        'seq 1 30000 >"$1/log"; sync; : >/tmp/saved')


def test_a_stick_then_images_then_the_tool_killed_during_the_save(device):
    d = device((801, 479))  # strictly wider than 800: centred in 801x479, halves toward zero
    d.script("/images/iup.sh", mode=0o644)  # arrives without its execute bit
    d.put("/images/a.tgz", "package")
    d.put("/media/qz/")  # sticks are mounted below it
    d.script("/Orvalen/opt/savelog.sh", SAVE)
    d.start("-c", "up", "-l", "chinese", apps=("Brennhaven", "qconnman-applet"))  # Mirelu is down
    window = d.window("AppUpdate")
    shown = time.monotonic()
    assert d.geometry(window) == (80, 0, 640, 480, 0)
    d.stick("STICK")  # the hidden panic report saves to it all the same
    d.wait(lambda: d.calls("savelog.sh"), "the save script", 5)
    d.click(window, *UPGRADE)  # no package clicked: the installer gets the directory itself
    d.wait(lambda: d.calls("iup.sh"), "the installer", 5)
    assert d.calls("iup.sh") == [["/images/iup.sh", "/images/", OWN]]
    assert "AppUpdate::onFinished code= 0" in d.debug
    assert d.debug[1].endswith('locale= "English"')  # the case of "chinese" counts
    d.click(window, *LATER)  # disabled while the installer runs, as Ignore is
    d.click(window, *IGNORE)
    d.click(window, *FIRST_ENTRY)  # a click on a package enables Upgrade again
    d.click(window, *UPGRADE)
    d.wait(lambda: len(d.calls("iup.sh")) == 2, "the installer once more", 5)
    assert d.calls("iup.sh")[1] == ["/images/iup.sh", "/images/a.tgz", OWN]
    d.past_five_seconds(shown)
    assert not d.ended(), "the update screen ended by the version screen's five seconds"

    d.ctl("pkill -KILL -x Tovrimax")  # the screens' parent is a screen widget here
    assert d.status() == 137
    d.put("/tmp/go")
    d.wait(d.path("/tmp/saved").exists, "the save to outlive the killed tool", tool_may_end=True)
    assert d.calls("savelog.sh") == [["/Orvalen/opt/savelog.sh", "/media/qz/STICK"]]
    d.wait(lambda: set(d.running()) <= DEVICE, "nothing of the tool's left", tool_may_end=True)
    assert d.stick_files("STICK") == {"log": "".join(f"{n}\n" for n in range(1, 30001)).encode()}


@pytest.mark.parametrize("leave, files, line", [
    (LATER, ["iup.sh", "a-old.tgz", "z new 'pkg'.tgz"], None),
    (IGNORE, ["iup.sh", "a-old.tgz", "z new 'pkg'.tgz"], None),
    (None, ["app.tgz"], "AppUpdate::onCheckPackage iup.sh tool not exist"),
    (None, ["iup.sh", "app.tar.gz", "x.tgz/"], "AppUpdate::onCheckPackage no application package"),
], ids=["Later", "Ignore", "no installer", "no package"])
def test_ftp_upload_over_the_panic_report(device, leave, files, line):
    d = device()
    d.put("/home/ftp/.keep")
    d.start("-c", "apr")  # nothing runs: the report stays up
    d.window("Form")
    d.ctl("pkill -STOP -x Tovrimax")  # the upload lands as one change, each file newer
    for n, name in enumerate(files):
        path = "/home/ftp/" + name
        d.script(path) if name == "iup.sh" else d.put(path, mtime=1_600_000_000 + n)
    d.ctl("pkill -CONT -x Tovrimax")
    if line:
        d.wait_log(line)
        assert d.status() == 0
        return
    window = d.window("AppUpdate")
    assert d.geometry(window) == (320, 160, 640, 480, 0)  # never shown: centred in 1280x800
    if leave == LATER:
        d.click(window, *UPGRADE)  # the newest package is the choice
        d.wait(lambda: d.calls("iup.sh"), "the installer", 5)
        assert d.calls("iup.sh") == [["/home/ftp/iup.sh", "/home/ftp/z new 'pkg'.tgz", OWN]]
    # the installer's chmod changes /home/ftp: the screen is shown anew, its buttons enabled
    d.wait(lambda: d.click(window, *leave) or d.ended(), "the tool's end", 5, tool_may_end=True)
    assert d.status() == 0
