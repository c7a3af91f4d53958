import contextlib

import pytest

from harness import BOARD, Device

collect_ignore = [] if BOARD else ["test_board.py"]  # stories that need the board's kernel


@pytest.fixture
def device(request):  # device(screens...): a fresh one; kept when the test fails
    made, failures, reports = [], request.session.testsfailed, []
    yield lambda *screens: made.append(Device(screens or ((800, 600),))) or made[-1]
    with contextlib.ExitStack() as closing:  # every device is closed, whatever fails here
        for d in made:
            closing.callback(d.close)
        for n, d in enumerate(made):
            stderr = d.out("stderr")
            if "Sanitizer" in stderr or "runtime error" in stderr:
                reports.append(stderr)
            if request.session.testsfailed > failures or reports:
                print("evidence kept in", d.keep(f"{request.node.name}-{n}"))
    assert not reports, reports[0]
