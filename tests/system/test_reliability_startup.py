"""Start-up inputs gone bad: a /tmp/locale of 100 MB or of binary garbage, and a font file that
is cut short, empty or a directory. The tool must choose its language as usual, fall back to
the default font, show its screen and end normally."""

import random

import pytest

from test_language import (CJK_FONT, FONT_FAILURE_LINE, FONT_PATH, language_lines,
                           path_line)

BACKGROUND = (320, 355)  # the version screen's button


def run_version_screen(sandbox, x, *args, timeout=30):
    tool = sandbox.start("-c", "ver", *args, x=x)
    window = x.find_window("Form", timeout=timeout)
    sandbox.syslog.wait_for("Translator load ret=", timeout=timeout)
    x.click(window, *BACKGROUND)
    tool.assert_ends_normally(timeout)
    sandbox.syslog.flush()
    return tool


def garbage(size, seed):
    """Reproducible binary bytes without NUL, full of invalid UTF-8."""
    rng = random.Random(seed)
    return bytes(rng.randrange(1, 256) for _ in range(size))


@pytest.mark.parametrize("content, word", [
    (b"x" * (100 << 20) + b"Chinese", "Chinese"),
    (b"\xff\xfe" * (50 << 20), "English"),
    (garbage(4096, 1) + b"Chinese" + garbage(4096, 2), "Chinese"),
    (garbage(4096, 3) + b"\0Chinese", "English"),
], ids=["100MB-ending-in-Chinese", "100MB-invalid-UTF-8", "binary-around-Chinese",
        "binary-then-NUL"])
def test_huge_or_binary_locale_file(sandbox, x, content, word):
    sandbox.set_locale(content)
    run_version_screen(sandbox, x, "-l", "Chinese" if word == "English" else "English")
    assert language_lines(sandbox.syslog)[1:] == [path_line(word), "Translator load ret= true"]


def cut_cjk_font(size):
    with open(CJK_FONT, "rb") as f:
        return f.read(size)


no_cjk = pytest.mark.skipif(not CJK_FONT.exists(), reason="fonts-noto-cjk not installed")


@pytest.mark.parametrize("kind", [pytest.param(n, marks=no_cjk) for n in (12, 4096, 1 << 20)]
                         + ["empty", "directory"],
                         ids=["header", "4KiB", "1MiB", "empty", "directory"])
def test_font_file_that_cannot_load_falls_back_to_the_default(sandbox, x, kind):
    if kind == "directory":
        sandbox.tree.mkdir(FONT_PATH)
    else:
        sandbox.tree.write(FONT_PATH, b"" if kind == "empty" else cut_cjk_font(kind))
    run_version_screen(sandbox, x)
    assert language_lines(sandbox.syslog)[0] == FONT_FAILURE_LINE
