import pytest

from harness import Device


@pytest.fixture
def device(request):  # device(screens...): a fresh one; kept when the test fails
    made, failures, reports = [], request.session.testsfailed, []
    yield lambda *screens: made.append(Device(screens or ((800, 600),))) or made[-1]
    for n, d in enumerate(made):
        try:
            stderr = d.out("stderr")
            if "Sanitizer" in stderr or "runtime error" in stderr:
                reports.append(stderr)
            if request.session.testsfailed > failures or reports:
                print("evidence kept in", d.keep(f"{request.node.name}-{n}"))
        finally:  # whatever keeping the evidence did
            d.close()
    assert not reports, reports[0]
