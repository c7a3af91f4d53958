import time
from pathlib import Path

from harness import BINARY

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def test_chinese_daemon_on_800x600_ends_when_all_three_are_back(device):
    d = device()  # no screen wider than 800: centred in 800x600
    d.start("-d", "-c", "ver", "-l", "SimplifiedChinese", apps=("Brennhaven", "qconnman-applet"))
    window = d.window("Form")
    assert d.position(window) == (80, 60, 0)
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
    d.put("/tmp/locale", b"English\0Chinese")  # the file beats -l, up to its first NUL
    d.put("/Orvalen/bin/qml/Mirelu2/fonts/NotoSansHans-Regular.ttf", Path(FONT).read_bytes())
    d.start("-l", "Chinese", env={"DISPLAY": ":7"})  # replaced by the device's own, :0.0
    window = d.window("Form")
    shown = time.monotonic()
    assert d.position(window) == (320, 160, 1)
    d.wait_log('locale= "English"')
    font = d.debug.index('Tovrimax_font: Noto= ("DejaVu Sans")')
    assert d.debug[font + 1] == "Tovrimax_font: Index fontNoto= 0"
    assert d.log[0] == "USBStick: run foreground"
    time.sleep(max(0, shown + 2.5 - time.monotonic()))  # the window came up after its timer
    assert not d.ended(), "the version screen stays five seconds"
    assert d.status(timeout=6) == 0
    assert d.out("stderr") == ""
