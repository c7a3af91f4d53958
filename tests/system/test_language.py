"""Style sheet, application font and language: which catalogue the tool loads for each
/tmp/locale and -l combination, the font lines, and that the translation reaches the screens."""

import re
import shutil
import subprocess
from pathlib import Path

import pytest

import harness

FONT_PATH = "/Orvalen/bin/qml/Mirelu2/fonts/NotoSansHans-Regular.ttf"
CJK_FONT = Path("/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc")
FONT_FAILURE_LINE = "Tovrimax_font: The font can not be loaded Noto= -1"
CONVERT = "/usr/bin/convert"


def path_line(word):
    return 'appPath= "%s"  locale= "%s"' % (harness.tool_binary().parent, word)


def language_lines(syslog):
    """The start-up lines of the appearance set-up, in the order they came."""
    return [l for l in syslog.debug_lines
            if l.startswith(("Tovrimax_font:", "appPath=", "Translator load ret="))]


# locale: content of /tmp/locale (None: no file); option: the -l value (None: no -l)
@pytest.mark.parametrize("locale, option, word", [
    (None, "Chinese", "Chinese"),
    (None, "chinese", "English"),
    (None, "SimplifiedChinese", "Chinese"),
    (None, None, "English"),
    ("Chinese\n", "English", "Chinese"),
    ("Chinese\n", None, "Chinese"),
    ("", "Chinese", "English"),
    ("zh_CN.UTF-8\n", "Chinese", "English"),
    (b"English\0Chinese", "Chinese", "English"),
], ids=["option-Chinese", "option-lower-case", "option-inside-word", "default",
        "file-beats-option", "file-alone", "empty-file-beats-option", "other-text",
        "file-cut-at-NUL"])
def test_language_word_picks_the_catalogue(sandbox, x, locale, option, word):
    sandbox.set_locale(locale)
    args = ["-c", "none"] + (["-l", option] if option is not None else [])
    tool = sandbox.run(*args, x=x, timeout=20)  # unknown mode: set-up runs, then it ends
    assert tool.returncode == 0
    sandbox.syslog.flush()
    lines = language_lines(sandbox.syslog)
    # font first, then the path line, then the load result; both catalogues are built
    assert lines[1:] == [path_line(word), "Translator load ret= true"], lines


def test_unreadable_locale_file_still_overrides_the_option(sandbox, x):
    sandbox.set_locale("Chinese", mode=0)
    tool = sandbox.run("-c", "none", "-l", "Chinese", x=x, timeout=20, cap_drop=True)
    assert tool.returncode == 0
    sandbox.syslog.flush()
    assert language_lines(sandbox.syslog)[1:] == [path_line("English"),
                                                  "Translator load ret= true"]


def test_missing_catalogue_loads_nothing_and_the_screen_still_works(sandbox, x, tmp_path):
    # the binary alone in a directory of its own: no catalogue beside it
    lonely = tmp_path / "Tovrimax"
    shutil.copy(harness.tool_binary(), lonely)
    tool = sandbox.start("-c", "ver", "-l", "Chinese", x=x, binary=lonely)
    window = x.find_window("Form")
    sandbox.syslog.wait_for("Translator load ret= false")
    assert 'appPath= "%s"  locale= "Chinese"' % tmp_path in sandbox.syslog.debug_lines
    x.click(window, 320, 355)  # Background
    tool.assert_ends_normally(10)


@pytest.mark.parametrize("font", [None, b"not a font at all"], ids=["absent", "not-a-font"])
def test_font_failure_leaves_the_default_font_and_the_screens_work(sandbox, x, font):
    if font is not None:
        sandbox.tree.write(FONT_PATH, font)
    tool = sandbox.start("-c", "ver", x=x)
    window = x.find_window("Form")
    sandbox.syslog.wait_for("Translator load ret=")
    lines = language_lines(sandbox.syslog)
    assert lines[0] == FONT_FAILURE_LINE
    assert not any(l.startswith(("Tovrimax_font: Noto=", "Tovrimax_font: Index")) for l in lines)
    x.click(window, 320, 355)  # Background
    tool.assert_ends_normally(10)


@pytest.mark.skipif(not CJK_FONT.exists(), reason="fonts-noto-cjk not installed")
def test_font_present_gives_family_and_id_lines(sandbox, x):
    sandbox.tree.mkdir(str(Path(FONT_PATH).parent))
    shutil.copy(CJK_FONT, sandbox.tree.host(FONT_PATH))
    tool = sandbox.run("-c", "none", x=x, timeout=20)
    assert tool.returncode == 0
    sandbox.syslog.flush()
    lines = language_lines(sandbox.syslog)
    assert re.fullmatch(r'Tovrimax_font: Noto= \("[^"]+"(, "[^"]+")*\)', lines[0]), lines
    assert '"Noto Sans CJK SC"' in lines[0]
    assert re.fullmatch(r"Tovrimax_font: Index fontNoto= \d+", lines[1]), lines
    assert FONT_FAILURE_LINE not in lines
    assert lines[2] == path_line("English")


def pixels_signature(png, box):
    """ImageMagick's hash of the pixels inside box = (x, y, width, height) of a PNG."""
    x, y, w, h = box
    result = subprocess.run([CONVERT, str(png), "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
                             "-format", "%#", "info:"], capture_output=True, text=True,
                            check=True)
    return result.stdout.strip()


def version_screen_shot(sandbox, x, path, *args):
    tool = sandbox.start("-c", "ver", *args, x=x)
    window = x.find_window("Form")  # the window title stays as it is in every language
    g = x.geometry(window)
    x.screenshot(path)
    x.click(window, 320, 355)
    tool.assert_ends_normally(10)
    return g


@pytest.mark.skipif(not Path(CONVERT).exists(), reason="imagemagick not installed")
def test_chinese_reaches_the_version_screen(sandbox, x, tmp_path):
    english = tmp_path / "english.png"
    chinese = tmp_path / "chinese.png"
    g = version_screen_shot(sandbox, x, english, "-l", "English")
    assert version_screen_shot(sandbox, x, chinese, "-l", "Chinese") == g
    # the upper half holds the group-box title and the revision label, the lower half the
    # button: each must read differently once translated
    upper = (g.x, g.y, g.width, g.height // 2)
    lower = (g.x, g.y + g.height // 2, g.width, g.height // 2)
    for box in (upper, lower):
        assert pixels_signature(english, box) != pixels_signature(chinese, box), box
