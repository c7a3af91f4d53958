import pytest

USAGE = "Usage: ./Tovrimax -d -c ver -l Chinese\n"


@pytest.mark.parametrize("args, stderr", [
    (["-h"], ""),
    (["-c", "ver", "-x"], "invalid option -- 'x'"),
    (["-l"], "option requires an argument -- 'l'"),
])
def test_usage_and_exit_0(device, args, stderr):
    d = device()
    d.start(*args)
    assert d.status() == 0
    assert d.out() == USAGE
    assert stderr in d.out("stderr") if stderr else d.out("stderr") == ""
    assert not any("run " in line for line in d.log)  # ends before the start-up line


@pytest.mark.parametrize("mode", ["UP", "", "APR"])
def test_unknown_mode_ends_at_once_showing_nothing(device, mode):
    d = device()
    d.put("/home/ftp/.keep")
    d.start("-c", mode, apps=("Mirelu",))
    assert d.status(timeout=4) == 0
    assert d.out() == ""  # no screen, no monitors, no end line
    d.wait_log("Translator load ret=")
