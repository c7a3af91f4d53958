import time
from pathlib import Path

from harness import BINARY, TIME_FACTOR

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def test_chinese_daemon_on_800x600_ends_when_all_three_are_back(device):
    d = device()  # no screen wider than 800: centred in 800x600
    d.start("-d", "-c", "ver", "-l", "SimplifiedChinese", apps=("Brennhaven", "qconnman-applet"))
    window = d.window("Form")
    assert d.geometry(window) == (80, 60, 640, 480, 0)
    d.wait_out("Housekeeper start tool end")  # the start-up probes are over, not just the show
    d.ctl("/tmp/bin/Mirelu infinity &")
    assert d.status() == 0
    assert d.out().endswith("PanicReport::onAppLive appId=1\nPanicReport::hideAPR\n")
    assert d.log[0] == "USBStick: run as daemon"
    assert "Tovrimax_font: The font can not be loaded Noto= -1" in d.debug
    assert f'appPath= "{BINARY.parent}"  locale= "Chinese"' in d.debug
    # no watched directory exists: Qt's warning, without file or line (a release build of Qt)
    assert d.out("stderr") == ("Warning: QFileSystemWatcher::addPaths: list is empty "
                               "(unknown:0, unknown)\n")


def test_default_mode_on_two_screens_with_locale_file_and_font_for_five_seconds(device):
    d = device((1024, 768), (1280, 800), (1280, 600))  # the first of the widest is the parent
    d.put("/home/ftp/.keep")
    d.put("/media/qz/")
    d.script("/Orvalen/opt/savelog.sh", "set -e; until [ -e /tmp/go ]; do sleep 0.05; done; "
                                        "echo copied; echo synced >&2; : >/tmp/saved")
    d.put("/tmp/locale", b"English\0Chinese")  # the file beats -l, up to its first NUL
    d.put("/Orvalen/bin/qml/Mirelu2/fonts/NotoSansHans-Regular.ttf", Path(FONT).read_bytes())
    # DISPLAY is replaced by the device's own, :0.0; an ignored SIGPIPE is passed on to scripts
    d.start("-l", "Chinese", env={"DISPLAY": ":7", "IGNORE": "PIPE"})
    window = d.window("Form")
    shown = time.monotonic()  # a little after the window came up, with its timer running
    assert d.geometry(window) == (320, 160, 640, 480, 1)
    d.wait_log('locale= "English"')
    font = d.debug.index('Tovrimax_font: Noto= ("DejaVu Sans")')
    assert d.debug[font + 1] == "Tovrimax_font: Index fontNoto= 0"
    assert d.log[0] == "USBStick: run foreground"
    d.ctl("mkdir /media/qz/STICK")  # a save that outlives the tool
    d.wait(lambda: d.calls("savelog.sh"), "the save script", 3)
    assert d.status() == 0
    # five seconds from the show: seen 0.1-0.3 s after it, ended 0.1-0.5 s after the timer
    lasted = time.monotonic() - shown
    assert 5 - 0.6 * TIME_FACTOR <= lasted <= 5 + TIME_FACTOR, "up for five seconds"
    d.put("/tmp/go")
    d.wait(d.path("/tmp/saved").exists, "the save to outlive the tool", tool_may_end=True)
    assert d.calls("savelog.sh") == [["/Orvalen/opt/savelog.sh", "/media/qz/STICK"]]
    assert d.out("stderr") == ""
