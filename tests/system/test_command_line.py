"""Command line, start-up line in syslog, DISPLAY, exit status."""

import pytest

from harness import START_END_LINE, USAGE_LINE

DEBUG_PRIORITY = 15  # LOG_USER | LOG_DEBUG


@pytest.mark.parametrize("args, complaint", [
    (["-h"], None),
    (["-x"], "invalid option -- 'x'"),
    (["-c"], "option requires an argument -- 'c'"),
    (["-l"], "option requires an argument -- 'l'"),
    (["-c", "ver", "-h"], None),
], ids=["help", "unknown-option", "mode-without-value", "language-without-value",
        "help-after-mode"])
def test_bad_or_help_option_prints_usage_and_exits_0(sandbox, x, args, complaint):
    with x.watch_maps() as maps:
        tool = sandbox.run(*args, x=x, timeout=20)
    assert tool.returncode == 0
    assert tool.stdout == USAGE_LINE + "\n"
    if complaint:
        assert complaint in tool.stderr
    else:
        assert "option" not in tool.stderr
    assert maps.count == 0, maps.events
    # nothing after the option loop ran: no start-up line, no watcher warning
    sandbox.syslog.flush()
    assert sandbox.syslog.lines == []
    assert "QFileSystemWatcher" not in tool.stderr


@pytest.mark.parametrize("mode", ["UP", "VER", "Apr", "", "bogus", "ver "])
def test_unknown_mode_word_ends_at_once_showing_nothing(sandbox, x, mode):
    with x.watch_maps() as maps:
        tool = sandbox.run("-c", mode, x=x, timeout=20)
    assert tool.returncode == 0
    assert START_END_LINE not in tool.stdout
    assert USAGE_LINE not in tool.stdout
    assert maps.count == 0, maps.events
    # the tool did get past the command line: this is the mode dispatch ending it
    sandbox.syslog.wait_for("USBStick: run foreground")


@pytest.mark.parametrize("args, line", [
    (["-d", "-c", "none"], "USBStick: run as daemon"),
    (["-c", "none", "-d"], "USBStick: run as daemon"),
    (["-c", "none"], "USBStick: run foreground"),
])
def test_start_up_line_is_written_raw_to_syslog(sandbox, x, args, line):
    tool = sandbox.run(*args, x=x, timeout=20)
    assert tool.returncode == 0
    sandbox.syslog.flush()
    start_lines = [l for l in sandbox.syslog.lines if l.startswith("USBStick: run ")]
    assert start_lines == [line]
    i = sandbox.syslog.lines.index(line)
    assert sandbox.syslog.priorities[i] == DEBUG_PRIORITY


def test_daemon_flag_keeps_the_tool_in_the_foreground(sandbox, x):
    tool = sandbox.start("-d", "-c", "ver", x=x)
    window = x.find_window("Form")
    sandbox.syslog.wait_for("USBStick: run as daemon")
    assert tool.running  # not forked away: the process we started owns the window
    x.click(window, 320, 355)
    assert tool.wait(10) == 0
    assert START_END_LINE in tool.stdout


def test_last_mode_word_wins_and_stray_words_are_ignored(sandbox, x):
    tool = sandbox.start("-c", "up", "stray", "-c", "ver", "words", x=x)
    window = x.find_window("Form")
    assert x.visible_window_titles() == ["Form"]  # the version screen and nothing else
    x.click(window, 320, 355)
    assert tool.wait(10) == 0
    assert tool.stdout == START_END_LINE + "\n"


@pytest.mark.parametrize("display_value", [":7", "localhost:3.0", None])
def test_display_is_forced_to_the_local_one(sandbox, x, display_value):
    env = {} if display_value is None else {"DISPLAY": display_value}
    tool = sandbox.start("-c", "ver", x=x, env=env)
    window = x.find_window("Form")  # on our :0, whatever DISPLAY said
    x.click(window, 320, 355)
    assert tool.wait(10) == 0
