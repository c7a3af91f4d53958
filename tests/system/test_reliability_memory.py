"""A whole "apr" session under valgrind's memcheck: applications dying and coming back, a stick
saved and pulled, a core dump and an FTP upload, then the natural end when every application
runs again. No memory error and no definite leak may come from the tool's own code (Qt, X and
the C library keep a few allocations of their own until exit, which are not ours to fix)."""

import re
import shutil
import pytest

from harness import REPO, START_END_LINE, tool_binary, wait_until

VALGRIND = shutil.which("valgrind")
OWN_SOURCES = {p.name for p in (REPO / "src").rglob("*") if p.suffix in (".cpp", ".h")}
ALLOCATORS = re.compile(r"(malloc|calloc|realloc|memalign|posix_memalign|operator new|operator new\[\])\b")
FRAME = re.compile(r"^==\d+==    (?:at|by) 0x[0-9A-F]+: (.*)$")


def instrumented(binary):
    # a sanitizer runtime and valgrind cannot share a process
    return b"__asan_init" in binary.read_bytes() or b"__tsan_init" in binary.read_bytes()


def own_frame(frame):
    """Whether a stack frame lies in the tool's own sources (generated forms included)."""
    match = re.search(r"\(([^():]+):\d+\)$", frame)
    if not match:
        return False
    name = match.group(1)
    return name in OWN_SOURCES or name.startswith(("ui_", "moc_"))


def records(log):
    """valgrind's reports, each as (headline, frames)."""
    out = []
    for block in re.split(r"\n==\d+== \n", log):
        lines = block.strip().splitlines()
        if not lines:
            continue
        frames = [m.group(1) for m in map(FRAME.match, lines) if m]
        out.append((lines[0], frames))
    return out


def ours(frames):
    """A report is the tool's when the code that called the allocator, or that made the bad
    access, is its own: the first frame past malloc/new."""
    callers = [f for f in frames if not ALLOCATORS.match(f)]
    return bool(callers) and (own_frame(callers[0]) or callers[0].startswith("main "))


@pytest.mark.skipif(VALGRIND is None, reason="valgrind not installed")
@pytest.mark.skipif(instrumented(tool_binary()), reason="a sanitizer build runs no valgrind")
def test_apr_session_under_memcheck(sandbox, x):
    sandbox.tree.mkdir("/media/qz")
    sandbox.tree.mkdir("/var/log/coredump")
    sandbox.package_dir("/home/ftp", ["app.tgz"])
    savelog = sandbox.standins["savelog.sh"]
    savelog.configure(stdout="copied\n", stderr="cp: no space left\n")
    tool = sandbox.start("-c", "apr", x=x, apps=("Mirelu",), wrap=(
        VALGRIND, "--leak-check=full", "--show-leak-kinds=definite", "--num-callers=50",
        "--child-silent-after-fork=yes", "--log-file=/harness/memcheck.%p.log"))
    x.find_window("Form", timeout=120)
    tool.wait_for_stdout(START_END_LINE, timeout=120)
    # valgrind runs the tool in its own process: one log, named after that pid
    log = sandbox.harness / ("memcheck.%d.log" % tool.pid)

    tool.stop_app("Mirelu")
    sandbox.tree.mkdir("/media/qz/STICK")
    savelog.wait_runs(1, finished=True, timeout=60)
    sandbox.tree.write("/var/log/coredump/core.Mirelu.42", b"core")
    sandbox.package_dir("/home/ftp", [("b.tgz", 1700000100)])
    x.find_window("AppUpdate", timeout=60)
    sandbox.tree.remove("/media/qz/STICK")
    sandbox.syslog.wait_for("PanicReport::onUSBInserted on= false", timeout=60)

    # every application back: the report ends the tool
    for app in ("Brennhaven", "Mirelu", "qconnman-applet"):
        tool.start_app(app)
    tool.assert_ends_normally(120)
    assert tool.stdout.endswith("PanicReport::hideAPR\n")

    text = wait_until(lambda: "ERROR SUMMARY" in log.read_text() and log.read_text(), 30,
                      what="valgrind's summary")
    mine = [(head, frames) for head, frames in records(text) if ours(frames)
            and ("definitely lost" in head or not re.search(r"lost in loss record", head))]
    assert mine == [], "\n\n".join(h + "\n  " + "\n  ".join(f) for h, f in mine)
    # the log really holds a checked run: the leak summary of a full leak check
    assert "LEAK SUMMARY" in text or "All heap blocks were freed" in text
    assert "Command: %s -c apr" % tool_binary() in text
