import pytest

from harness import Device


@pytest.fixture
def device():
    """device(screens...) -> a fresh private device; a sanitizer report of the tool fails the test."""
    made = []
    yield lambda *screens: made.append(Device(screens or ((800, 600),))) or made[-1]
    for d in made:
        stderr = d.out("stderr")
        print("syslog:", *d.log, "stdout:", d.out(), "stderr:", stderr, sep="\n")  # shown on failure
        d.close()
        assert "Sanitizer" not in stderr and "runtime error" not in stderr, stderr
