"""Fixtures for the system tests (see README.md in this directory and harness.py).

  sandbox        a fresh private device (harness.Sandbox) per test; closed afterwards
  x              an 800x600 private X server (harness.XServer), shared by the tests that ask
                 for the same screens
  display        display(w, h) or display((w1, h1), (w2, h2)): an X server with those screens
  testbed        emulated USB block devices (umockdev), see harness.MockDevices

When a test fails, the screens of every X server it used are saved as PNG files, with a text
report of its sandbox (syslog lines, the tool's stdout, stderr and status, stand-in runs), in
$TOVRIMAX_ARTIFACTS (default build/test-artifacts), named after the test.
"""

import os
import re
from pathlib import Path

import pytest

import harness


def artifacts_dir():
    return Path(os.environ.get("TOVRIMAX_ARTIFACTS", harness.REPO / "build" / "test-artifacts"))


def pytest_report_header(config):
    return "tool binary: %s" % harness.tool_binary()


class _XServers:
    """Session-wide X servers keyed by their screens; starting Xvfb costs ~0.2 s."""

    def __init__(self):
        self._servers = {}

    def get(self, *screens):
        key = tuple(tuple(s) for s in screens)
        server = self._servers.get(key)
        if server is None or server.proc.poll() is not None:
            server = harness.XServer(key)
            self._servers[key] = server
        return server

    def stop(self):
        for server in self._servers.values():
            server.stop()


@pytest.fixture(scope="session")
def _xservers():
    servers = _XServers()
    yield servers
    servers.stop()


@pytest.fixture
def display(_xservers, request):
    """display(800, 480) or display((1280, 800), (1024, 768)) -> harness.XServer."""
    used = request.node.__dict__.setdefault("tvx_xservers", [])

    def get(*screens):
        if len(screens) == 2 and all(isinstance(v, int) for v in screens):
            screens = (screens,)
        server = _xservers.get(*screens)
        used.append(server)
        return server
    return get


@pytest.fixture
def x(display):
    """The usual 800x600 display."""
    return display(800, 600)


@pytest.fixture
def testbed():
    """Emulated USB block devices (harness.DEVICES) for a tool started with
    harness.start_with_testbed()."""
    bed = harness.MockDevices()
    bed.add(harness.DEVICES)
    yield bed
    bed.close()


@pytest.fixture
def sandbox(request):
    box = harness.Sandbox()
    request.node.tvx_sandbox = box
    yield box
    box.close()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    if report.when not in ("setup", "call") or not report.failed:
        return
    # the screens as they are right now: before the fixtures end the tool and the servers
    name = re.sub(r"[^A-Za-z0-9_.-]+", "_", item.nodeid.split("::", 1)[-1])
    out = artifacts_dir()
    try:
        out.mkdir(parents=True, exist_ok=True)
        saved = []
        for i, server in enumerate(item.__dict__.get("tvx_xservers", [])):
            for screen in range(len(server.screens)):
                path = out / ("%s-x%d-screen%d.png" % (name, i, screen))
                server.screenshot(path, screen=screen)
                saved.append(path)
        box = item.__dict__.get("tvx_sandbox")
        if box is not None:
            path = out / ("%s.log" % name)
            path.write_text(box.report())
            saved.append(path)
        if saved:
            report.sections.append(("artifacts", "\n".join(str(p) for p in saved)))
    except Exception as e:  # never hide the real failure behind an artifact problem
        report.sections.append(("artifacts", "could not save artifacts: %r" % e))
