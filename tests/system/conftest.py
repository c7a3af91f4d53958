import pytest

from harness import Device


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    report = (yield).get_result()
    item.failed = getattr(item, "failed", False) or report.failed


@pytest.fixture
def device(request):  # device(screens...): a fresh one; kept when the test fails
    made = []
    yield lambda *screens: made.append(Device(screens or ((800, 600),))) or made[-1]
    for n, d in enumerate(made):
        stderr = d.out("stderr")
        sanitizer = "Sanitizer" in stderr or "runtime error" in stderr
        if request.node.failed or sanitizer:
            print("evidence kept in", d.keep(f"{request.node.name}-{n}"))
        d.close()
        assert not sanitizer, stderr
