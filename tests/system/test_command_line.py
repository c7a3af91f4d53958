import pytest

from harness import BINARY, PROBE

USAGE = "Usage: ./Tovrimax -d -c ver -l Chinese\n"
NOTHING_WATCHED = "Warning: QFileSystemWatcher::addPaths: list is empty (unknown:0, unknown)\n"
ENGLISH = [f'USBStick: [USBStick] appPath= "{BINARY.parent}"  locale= "English"',
           "USBStick: [USBStick] Translator load ret= true"]


@pytest.mark.parametrize("args, out, complaint, log", [
    (["-h"], USAGE, "", []),  # not even the start-up line
    (["-c", "ver", "-x"], USAGE, f"{BINARY}: invalid option -- 'x'\n", []),  # by its argv[0]
    (["-l", "Chinese", "-c", "UP"], "", NOTHING_WATCHED, ENGLISH),  # no screen, no end line
    (["-l", "Chinese", "-c", ""], "", NOTHING_WATCHED, ENGLISH),
], ids=["-h", "an unknown option", "mode UP", "an empty mode"])
def test_usage_or_an_unknown_mode_ends_at_once_with_0(device, args, out, complaint, log):
    d = device()
    d.put("/tmp/bin/killall", PROBE, 0o755)
    d.put("/tmp/locale/")  # cannot be read: an empty word, so English whatever -l says
    d.start(*args)
    assert d.status(timeout=4) == 0
    assert d.out() == out
    assert d.out("stderr") == complaint
    assert d.out("probes") == ""  # the monitors never started
    assert d.log[-2:] == log
