"""Ending the tool while a device script still runs: exit status 0 and a clean shut-down."""

SANITIZER_REPORTS = ("runtime error", "Sanitizer", "ERROR: ")


def test_ending_while_a_save_script_runs(sandbox, x):
    # a device that mounts sticks below /media/qz: a new directory there is a stick, and the
    # panic logs are saved to it whichever screen is up
    sandbox.tree.mkdir("/media/qz")
    savelog = sandbox.standins["savelog.sh"]
    savelog.configure(hold=True)
    tool = sandbox.start("-c", "ver", x=x)
    window = x.find_window("Form")
    sandbox.tree.mkdir("/media/qz/sdb1")
    savelog.wait_runs(1)
    x.click(window, 320, 355)
    status = tool.wait(20)
    assert status == 0, tool.stderr
    for report in SANITIZER_REPORTS:
        assert report not in tool.stderr
