"""The version screen of mode "ver": size, place, chosen screen, how it ends."""

import time

import pytest

from harness import START_END_LINE

# window-relative point inside "Background", the lower half of the window
BACKGROUND = (320, 355)


@pytest.mark.parametrize("screens, origin, screen", [
    (((800, 600),), (80, 60), 0),
    (((800, 480),), (80, 60), 0),       # no screen wider than 800: centred in 800x600
    (((640, 480),), (80, 60), 0),
    (((1024, 768),), (192, 144), 0),
    (((1280, 800), (1024, 768)), (320, 160), 0),
    (((1024, 768), (1280, 800)), (320, 160), 1),
    (((1024, 600), (1024, 768)), (192, 60), 0),  # equal widths: the first, with its height
], ids=["800x600", "800x480", "640x480", "1024x768", "1280+1024", "1024+1280", "1024+1024"])
def test_window_is_640x480_centred_on_the_chosen_screen(sandbox, display, screens, origin,
                                                         screen):
    x = display(*screens)
    tool = sandbox.start("-c", "ver", x=x)
    window = x.find_window("Form")
    g = x.geometry(window)
    assert (g.x, g.y) == origin
    assert (g.width, g.height) == (640, 480)
    assert g.screen == screen
    x.click(window, *BACKGROUND)
    assert tool.wait(10) == 0


def test_ends_by_itself_five_seconds_after_showing(sandbox, x):
    tool = sandbox.start("-c", "ver", x=x)
    x.find_window("Form")
    seen = time.monotonic()
    status = tool.wait(20)
    assert status == 0
    # shown after the start and before we saw it: the timer's 5 s lie within these bounds
    assert tool.ended - tool.started >= 5.0
    assert tool.ended - seen <= 5.0 + 2.5
    assert tool.stdout == START_END_LINE + "\n"


def test_background_ends_the_tool_at_once(sandbox, x):
    tool = sandbox.start("-c", "ver", x=x)
    window = x.find_window("Form")
    x.click(window, *BACKGROUND)
    clicked = time.monotonic()
    assert tool.wait(10) == 0
    assert tool.ended - clicked < 2.0
    assert tool.ended - tool.started < 4.5  # well before the close timer


def test_click_outside_the_button_does_not_end_it(sandbox, x):
    tool = sandbox.start("-c", "ver", x=x)
    window = x.find_window("Form")
    x.click(window, 320, 150)  # on the group box
    time.sleep(1.0)  # a press ends the tool within milliseconds; give it ample time
    assert tool.running
    x.click(window, *BACKGROUND)
    assert tool.wait(10) == 0
