"""The update screen: mode "up" over /images, and the FTP upload directory /home/ftp in any
mode. What the installer receives, which button ends the tool, where the window stands."""

import os
import stat

import pytest

from harness import START_END_LINE, wait_until, while_stopped

WIDTH, HEIGHT = 640, 480
# window-relative points in the button row: its bottom edge is fixed by the layout margin (11),
# the buttons share the width equally, and the style decides only how tall they are
BUTTON_Y = HEIGHT - 11 - 30
UPGRADE = (WIDTH // 6, BUTTON_Y)
LATER = (WIDTH // 2, BUTTON_Y)
IGNORE = (WIDTH * 5 // 6, BUTTON_Y)
# everything above the button row (at least 80 px tall in the form) and its spacing
ABOVE_BUTTONS = HEIGHT - 11 - 80 - 6

T0 = 1700000000  # a fixed moment for package times


@pytest.fixture(autouse=True)
def no_windows_left(request, sandbox):
    """Ends a tool that is still up (after Upgrade, Later and Ignore are disabled) and waits
    until the shared X server has dropped its windows: a window vanishing in the middle of the
    next test's window search makes that search fail."""
    yield
    for tool in sandbox.tools:
        tool.kill()
    for server in request.node.__dict__.get("tvx_xservers", []):
        for screen in range(len(server.screens)):
            wait_until(lambda: " 0 children." in server.run("xwininfo", "-root", "-children",
                                                             screen=screen).stdout,
                       10, what="the tool's windows to go")


def choose_the_only_package(x, window):
    """Clicks down the middle of the window above the buttons. With a single package listed,
    exactly one row exists, so some click lands on it wherever the style puts the list and
    however tall it makes the rows; clicks on labels or on the empty list choose nothing."""
    for y in range(4, ABOVE_BUTTONS, 8):
        x.click(window, WIDTH // 2, y)


def is_executable(path):
    return bool(os.stat(path).st_mode & stat.S_IXUSR)


@pytest.mark.parametrize("screen, origin", [((800, 600), (80, 60)), ((1024, 768), (192, 144))],
                         ids=["800x600", "1024x768"])
def test_up_shows_the_update_window_centred(sandbox, display, screen, origin):
    x = display(*screen)
    sandbox.package_dir("/images", ["app.tgz"])
    tool = sandbox.start("-c", "up", x=x)
    g = x.geometry(x.find_window("AppUpdate"))
    assert (g.x, g.y, g.width, g.height) == origin + (WIDTH, HEIGHT)
    tool.wait_for_stdout(START_END_LINE)


@pytest.mark.parametrize("package", ["app.tgz", "my app 'v2' \"beta\".tgz"],
                         ids=["plain", "spaces and quotes"])
def test_click_then_upgrade_installs_the_clicked_package(sandbox, x, package):
    iup = sandbox.package_dir("/images", [package, "notes.txt"])
    iup.make_not_executable()
    tool = sandbox.start("-c", "up", x=x)
    window = x.find_window("AppUpdate")
    choose_the_only_package(x, window)
    x.click(window, *UPGRADE)

    runs = iup.wait_runs(1)
    assert [r.argv for r in runs] == [["/images/" + package]]
    assert runs[0].arg0 == "/images/iup.sh"
    assert is_executable(iup.host_path)
    sandbox.syslog.wait_for("[USBStick] AppUpdate::onFinished code= 0")
    assert tool.running  # the installer decides what happens to the tool


def test_upgrade_without_a_click_passes_the_directory(sandbox, x):
    iup = sandbox.package_dir("/images", ["app.tgz"])
    iup.make_not_executable()
    tool = sandbox.start("-c", "up", x=x)
    x.click(x.find_window("AppUpdate"), *UPGRADE)
    assert [r.argv for r in iup.wait_runs(1)] == [["/images/"]]
    assert is_executable(iup.host_path)
    assert tool.running


@pytest.mark.parametrize("button", [LATER, IGNORE], ids=["Later", "Ignore"])
def test_later_and_ignore_end_the_tool(sandbox, x, button):
    iup = sandbox.package_dir("/images", ["app.tgz"])
    tool = sandbox.start("-c", "up", x=x)
    x.click(x.find_window("AppUpdate"), *button)
    tool.assert_ends_normally(10)
    assert iup.runs == []


def start_report_kept_up(sandbox, x):
    """Mode "apr" with no watched application alive: the report stays up until one comes
    back, which none does here. /home/ftp exists before the start, so it is watched."""
    sandbox.tree.mkdir("/home/ftp")
    tool = sandbox.start("-c", "apr", x=x)
    tool.wait_for_stdout(START_END_LINE)
    x.find_window("Form")
    return tool


def test_ftp_upload_opens_the_update_window_over_the_report(sandbox, x):
    tool = start_report_kept_up(sandbox, x)

    def fill():
        iup = sandbox.package_dir("/home/ftp", [("b.tgz", T0 + 100), ("a.tgz", T0),
                                                ("c.tgz", T0 + 50), ("z.tar.gz", T0 + 500)])
        sandbox.tree.mkdir("/home/ftp/new.tgz")  # a directory is never a package
        iup.make_not_executable()
        return iup
    iup = while_stopped(tool, fill)

    window = x.find_window("AppUpdate")
    g = x.geometry(window)
    # never shown before: centred in the 1280x800 it starts with, whatever the display
    assert (g.x, g.y, g.width, g.height) == (320, 160, WIDTH, HEIGHT)
    assert x.visible_windows("Form"), "the report should stay up beneath"
    assert tool.running

    # the window hangs off the bottom of the 800x600 display; aim at the visible part of Upgrade
    x.click(window, UPGRADE[0], 600 - g.y - 10)
    assert [r.argv for r in iup.wait_runs(1)] == [["/home/ftp/b.tgz"]]
    assert is_executable(iup.host_path)
    assert tool.running


@pytest.mark.parametrize("files, line", [
    (["a.tgz"], "AppUpdate::onCheckPackage iup.sh tool not exist"),
    (["iup.sh", "a.tar.gz", "notes.txt"], "AppUpdate::onCheckPackage no application package"),
], ids=["no installer", "no package"])
def test_ftp_change_without_installer_or_package_ends_the_tool(sandbox, x, files, line):
    tool = start_report_kept_up(sandbox, x)
    while_stopped(tool, lambda: [sandbox.tree.write("/home/ftp/" + f, b"x") for f in files])
    tool.assert_ends_normally(10)
    assert line in sandbox.syslog.debug_lines
    assert "AppUpdate::onFinished" not in "\n".join(sandbox.syslog.debug_lines)
