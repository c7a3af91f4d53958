import pytest

from harness import BINARY, PROBE


@pytest.mark.parametrize("args, complaint", [
    (["-h"], ""),
    (["-c", "ver", "-x"], f"{BINARY}: invalid option -- 'x'\n"),  # getopt's, by its argv[0]
], ids=["-h", "an unknown option"])
def test_usage_and_exit_0(device, args, complaint):
    d = device()
    d.start(*args)
    assert d.status() == 0
    assert d.out() == "Usage: ./Tovrimax -d -c ver -l Chinese\n"
    assert d.out("stderr") == complaint
    assert d.log == []  # not even the start-up line


@pytest.mark.parametrize("mode", ["UP", ""], ids=["UP", "empty"])
def test_unknown_mode_ends_at_once_showing_nothing(device, mode):
    d = device()
    d.put("/tmp/bin/killall", PROBE, 0o755)
    d.put("/tmp/locale/")  # cannot be read: an empty word, so English whatever -l says
    d.start("-l", "Chinese", "-c", mode)
    assert d.status(timeout=4) == 0
    assert d.out() == ""  # no screen and no end line
    assert d.out("probes") == ""  # the monitors never started
    assert d.debug[-2].endswith('locale= "English"')
    assert d.debug[-1] == "Translator load ret= true"
