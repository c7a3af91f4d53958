import time

from harness import BINARY

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def test_chinese_daemon_on_a_small_display_ends_on_background(device):
    d = device()  # 800x600: no parent widget, centred in 800x600
    d.start("-d", "-c", "ver", "-l", "Chinese")
    window = d.window("Form")
    assert d.position(window) == (80, 60)
    d.wait_out("Housekeeper start tool end")
    d.click(window, 320, 430)  # "Background"
    assert d.status(timeout=3) == 0
    assert d.log[0] == "USBStick: run as daemon"
    for line in ('Tovrimax_font: The font can not be loaded Noto= -1',
                 'appPath= "%s"  locale= "Chinese"' % BINARY.parent, "Translator load ret= true"):
        assert "USBStick: [USBStick] " + line in d.log
    # none of the watched directories exists: the watcher gets an empty list and says so
    assert "Warning: QFileSystemWatcher::addPaths: list is empty (" in d.out("stderr")


def test_default_mode_on_a_wide_display_with_locale_file_and_font(device):
    d = device((1024, 768))  # wider than 800: that screen's widget is the parent
    d.put("/home/ftp/.keep")
    d.put("/tmp/locale", b"\xffChinese\n\x00English")  # the file beats -l, cut at the NUL
    d.path("/Orvalen/bin/qml/Mirelu2/fonts").mkdir(parents=True)
    d.path("/Orvalen/bin/qml/Mirelu2/fonts/NotoSansHans-Regular.ttf").symlink_to(FONT)
    d.start("-l", "English")
    assert d.position(d.window("Form")) == (192, 144)
    d.wait_log('locale= "Chinese"')
    assert 'USBStick: [USBStick] Tovrimax_font: Noto= ("DejaVu Sans")' in d.log
    assert "USBStick: [USBStick] Tovrimax_font: Index fontNoto= 0" in d.log
    assert d.log[0] == "USBStick: run foreground"
    time.sleep(2)
    assert not d.path("/tmp/status").exists()  # shown for five seconds
    assert d.status(timeout=5) == 0
    assert "Housekeeper start tool end\n" in d.out() and d.out("stderr") == ""
