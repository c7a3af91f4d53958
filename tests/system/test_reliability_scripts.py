"""Faults of the programs the tool starts: a save script that is missing, cannot be run,
crashes, fails or floods its error output, and a "killall" that is missing, hangs or answers
with odd exit codes. The tool must keep running, close every save it started the way a save
closes, and still end cleanly when asked."""

import os
import re
import time

import pytest

from harness import (REBOOT, START_END_LINE, bar_filled_at, bar_is_full,
                     end_with_ignore, insert_stick, start_report, wait_for_full_bar, wait_until)


# --------------------------------------------------------------------------------------------
# the save script


@pytest.mark.parametrize("fault", ["missing", "not executable"])
def test_save_script_that_cannot_start_leaves_the_save_open(sandbox, x, tmp_path, fault):
    savelog = sandbox.standins["savelog.sh"]
    if fault == "missing":
        sandbox.tree.remove(savelog.device_path)
    else:
        savelog.make_not_executable()
    tool, window = start_report(sandbox, x)

    insert_stick(sandbox, "sda1")
    # no end can come from a script that never ran: a quiet period of two ticks shows that
    # nothing takes the failed start for a finished save
    time.sleep(2.2)
    assert savelog.runs == []
    assert tool.running
    assert not bar_is_full(x, window, tmp_path / "open.png")

    # the reboot command ends on the same process object, and that end closes the save
    x.click(window, *REBOOT)
    sandbox.standins["reboot"].wait_runs(1, finished=True)
    wait_for_full_bar(x, window, tmp_path / "closed.png")
    assert tool.running

    # the script back in place: the next stick runs it
    if fault == "missing":
        savelog = sandbox.standin(savelog.device_path)
    else:
        savelog.host_path.chmod(0o755)
    insert_stick(sandbox, "sdb1")
    assert [r.argv for r in savelog.wait_runs(1, finished=True)] == [["/media/qz/sdb1"]]
    end_with_ignore(tool, x, window)


@pytest.mark.parametrize("run, code", [
    ("", 1),
    ("", 255),
    ("kill -SEGV $$", 0),
    ("kill -KILL $$", 0),
], ids=["exit 1", "exit 255", "SIGSEGV", "SIGKILL"])
def test_failing_save_script_still_closes_the_save(sandbox, x, tmp_path, run, code):
    savelog = sandbox.standins["savelog.sh"]
    savelog.configure(stderr="cp: write error on stick\n", hold=True, run=run, exit=code)
    tool, window = start_report(sandbox, x)

    insert_stick(sandbox, "sda1")
    sandbox.syslog.wait_for(r'PanicReport::onProcStdErr line= "cp: write error on stick\n"')
    assert not bar_is_full(x, window, tmp_path / "saving.png")

    savelog.release()
    wait_for_full_bar(x, window, tmp_path / "saved.png")
    assert tool.running
    # the process object is free again: the next stick starts the next save
    savelog.configure()
    insert_stick(sandbox, "sdb1")
    # (a script killed by a signal records no end of its own)
    wait_until(lambda: len(savelog.runs) == 2 and savelog.runs[1].finished, 5,
               what="the second save")
    assert [r.argv for r in savelog.runs] == [["/media/qz/sda1"], ["/media/qz/sdb1"]]
    end_with_ignore(tool, x, window)


def test_ignore_during_a_save_ends_the_tool_quietly(sandbox, x):
    savelog = sandbox.standins["savelog.sh"]
    savelog.configure(hold=True)
    tool, window = start_report(sandbox, x)
    insert_stick(sandbox, "sda1")
    savelog.wait_runs(1)
    # the script goes with the tool, without a warning about it on stderr
    end_with_ignore(tool, x, window)
    assert not savelog.runs[0].finished


FLOOD_BURSTS = 640
FLOOD_BURST_BYTES = 8192  # 640 x 8 KiB = 5 MiB
FLOOD = """\
import os, sys, time
for i in range(%d):
    head = "burst %%04d " %% i
    os.write(2, (head + "x" * (%d - len(head) - 1) + "\\n").encode())
    time.sleep(0.004)
""" % (FLOOD_BURSTS, FLOOD_BURST_BYTES)


def test_five_megabytes_of_error_output_in_bursts(sandbox, x, tmp_path):
    (sandbox.harness / "flood.py").write_text(FLOOD)
    savelog = sandbox.standins["savelog.sh"]
    savelog.configure(run="/usr/bin/python3 /harness/flood.py")
    tool, window = start_report(sandbox, x)

    insert_stick(sandbox, "sda1")
    savelog.wait_runs(1, finished=True, timeout=120)
    wait_for_full_bar(x, window, tmp_path / "saved.png", timeout=60)

    # every burst reached the log once, in order, however the reads cut the stream
    sandbox.syslog.flush()
    logged = "".join(l for l in sandbox.syslog.debug_lines
                     if l.startswith("PanicReport::onProcStdErr line= "))
    assert re.findall(r"burst (\d{4}) ", logged) == ["%04d" % i for i in range(FLOOD_BURSTS)]
    assert logged.count("x") == FLOOD_BURSTS * FLOOD_BURST_BYTES - sum(
        len("burst %04d " % i) + 1 for i in range(FLOOD_BURSTS))
    end_with_ignore(tool, x, window)


# --------------------------------------------------------------------------------------------
# the liveness probe "killall"

KILLALL = """\
#!/bin/bash
# stand-in for killall -0 NAME: answers from /harness/killall/NAME ("CODE", "hang SECONDS
# CODE" or "signal N"); no answer file: 1, as for a process that does not exist
echo "$2" >>/harness/killall.log
answer=$(cat "/harness/killall/$2" 2>/dev/null || echo 1)
set -- $answer
case $1 in
hang) sleep "$2"; exit "$3" ;;
signal) kill -"$2" $$ ;;
*) exit "$1" ;;
esac
"""
APPS = ("Brennhaven", "Mirelu", "qconnman-applet")


class Killall:
    def __init__(self, sandbox):
        self.dir = sandbox.harness / "killall"
        self.dir.mkdir()
        self.log = sandbox.harness / "killall.log"
        path = sandbox.harness / "bin" / "killall"  # first on the tool's search path
        path.write_text(KILLALL)
        path.chmod(0o755)

    def answer(self, app, text):
        tmp = self.dir / (".%s" % app)
        tmp.write_text(text)
        tmp.replace(self.dir / app)

    def probes(self):
        return self.log.read_text().split() if self.log.exists() else []


def live_reports(tool):
    return re.findall(r"PanicReport::onAppLive appId=(\d)", tool.stdout)


@pytest.mark.parametrize("answer", ["2", "255", "signal 9"])
def test_every_answer_but_zero_means_dead(sandbox, x, answer):
    killall = Killall(sandbox)
    for app in APPS:
        killall.answer(app, answer)
    tool, window = start_report(sandbox, x)
    # two more passes with the same answers: nobody was reported alive, the report stays
    wait_until(lambda: len(killall.probes()) >= 9, 10, what="three probe passes")
    assert live_reports(tool) == []
    assert tool.running

    # from now on all three answer 0: each comes back once, the last one ends the tool
    for app in APPS:
        killall.answer(app, "0")
    tool.assert_ends_normally(10)
    assert sorted(live_reports(tool)) == ["0", "1", "2"]
    assert re.search(r"onAppLive appId=\d\nPanicReport::hideAPR\n$", tool.stdout), tool.stdout


def test_without_killall_nobody_is_reported_and_the_report_stays(sandbox, x):
    # all three applications run, which would end the report at once; with no killall on the
    # search path no probe can start, so none of them is ever reported
    tool, window = start_report(sandbox, x, apps=APPS, env={"PATH": "/harness/bin"})
    time.sleep(2.5)  # two passes' worth of failed probes
    assert live_reports(tool) == []
    assert tool.running
    end_with_ignore(tool, x, window)


def test_probe_hanging_beyond_its_wait_keeps_the_tool_usable(sandbox, x):
    killall = Killall(sandbox)
    killall.answer("Brennhaven", "hang 1.6 0")
    tool, window = start_report(sandbox, x)
    # Brennhaven's probe outlives its 1000 ms wait, so Mirelu's probe cannot start and its
    # wait sees the late end instead: that 0 is taken for Mirelu, the current application
    before_end = tool.stdout.split(START_END_LINE)[0]
    assert re.findall(r"onAppLive appId=\d", before_end) == ["onAppLive appId=1"]
    assert "QProcess::start: Process is already running" in tool.stderr

    # passes stall the screen for about 2.6 s each, but a press still gets through
    wait_until(lambda: killall.probes().count("Brennhaven") >= 3, 15, what="three passes")
    assert tool.running
    pressed = time.monotonic()
    end_with_ignore(tool, x, window)
    assert time.monotonic() - pressed < 10


# --------------------------------------------------------------------------------------------
# long runs, behind ./dev soak (TOVRIMAX_SOAK=1)

long_run = pytest.mark.skipif(not os.environ.get("TOVRIMAX_SOAK"),
                              reason="a long run: ./dev soak runs it")


@long_run
def test_long_save_holds_the_bar_at_90_then_closes(sandbox, x, tmp_path):
    savelog = sandbox.standins["savelog.sh"]
    savelog.configure(sleep=60)
    tool, window = start_report(sandbox, x)
    insert_stick(sandbox, "sda1")
    started = time.monotonic()

    def at(seconds):
        time.sleep(max(0, started + seconds - time.monotonic()))
    # 2 per second: 60 after 30 s, 90 from the 45th second on, never more before the end
    at(31)
    assert bar_filled_at(x, window, 0.5, tmp_path / "30s.png")
    assert not bar_filled_at(x, window, 0.8, tmp_path / "30s.png")
    at(50)
    assert bar_filled_at(x, window, 0.85, tmp_path / "50s.png")
    assert not bar_filled_at(x, window, 0.95, tmp_path / "50s.png")
    at(58)
    assert not bar_filled_at(x, window, 0.95, tmp_path / "58s.png")
    savelog.wait_runs(1, finished=True, timeout=20)
    wait_for_full_bar(x, window, tmp_path / "saved.png")
    end_with_ignore(tool, x, window)
