import pytest

from harness import Device


@pytest.fixture
def device(request):  # device(screens...): a fresh one; kept when the test fails
    made, failures = [], request.session.testsfailed
    yield lambda *screens: made.append(Device(screens or ((800, 600),))) or made[-1]
    for n, d in enumerate(made):
        stderr = d.out("stderr")
        sanitizer = "Sanitizer" in stderr or "runtime error" in stderr
        if request.session.testsfailed > failures or sanitizer:
            print("evidence kept in", d.keep(f"{request.node.name}-{n}"))
        d.close()
        assert not sanitizer, stderr
