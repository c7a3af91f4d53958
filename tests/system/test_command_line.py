import pytest

USAGE = "Usage: ./Tovrimax -d -c ver -l Chinese\n"


@pytest.mark.parametrize("args, complaint", [
    (["-h"], ""),
    (["-c", "ver", "-x"], "invalid option -- 'x'"),
    (["-c"], "option requires an argument -- 'c'"),
], ids=["-h", "an unknown option", "-c without its word"])
def test_usage_and_exit_0(device, args, complaint):
    d = device()
    d.start(*args)
    assert d.status() == 0
    assert d.out() == USAGE
    assert complaint in d.out("stderr")
    assert d.log == []  # not even the start-up line


@pytest.mark.parametrize("mode", ["UP", ""], ids=["UP", "empty"])
def test_unknown_mode_ends_at_once_showing_nothing(device, mode):
    d = device()
    d.script("/tmp/bin/killall", 'exec /usr/bin/killall "$@"')
    d.start("-c", mode, apps=("Mirelu",))
    assert d.status(timeout=4) == 0
    assert d.out() == ""  # no screen and no end line
    assert d.calls("killall") == []  # the monitors never started
    assert "Translator load ret= true" in d.debug
