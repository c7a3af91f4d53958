"""Stories that only a board with its own kernel can tell: a USB stick plugged through the
emulator (its kernel, udevd and a real mount), a core dump written by its kernel, a save that
lands on the stick. They run with the board behind the harness (TOVRIMAX_BOARD)."""
import pytest

from harness import PROBE, make_stick, stick_files

# A save script as a device has one: it mounts the stick where the tool says unless the device
# mounted it already, copies the logs with its progress on its error output (waiting for
# /tmp/go before the last one), and unmounts what it mounted
SAVE = ('mountpoint -q "$1" || { mkdir -p "$1" && mount -t vfat "/dev/${1##*/}" "$1" && mine=1; }; '
        'set -- "$1" /var/log/panic/*; for log in "${@:2}"; do '
        '[ "$log" != "${!#}" ] || until [ -e /tmp/go ]; do sleep 0.1; done; '
        'cp "$log" "$1/" && echo "copied ${log##*/}" >&2; done; sync; '
        '[ -z "$mine" ] || umount "$1"; : >/tmp/saved')
LOGS = {"panic.log": b"Mirelu died\n" * 500, "dmesg.log": bytes(range(256)) * 300}


@pytest.fixture
def stick(tmp_path):  # stick(label): a new stick image with one FAT partition
    return lambda label: make_stick(tmp_path / f"{label}.img", label) or tmp_path / f"{label}.img"


def test_sticks_deaths_and_a_core_dump_on_the_board_kernel(device, stick):
    d = device()
    d.script("/Orvalen/opt/savelog.sh", SAVE)
    d.put("/tmp/bin/killall", PROBE, 0o755)
    for name, data in LOGS.items():
        d.put("/var/log/panic/" + name, data)
    d.put("/var/log/coredump/")
    d.put("/tmp/go")
    d.start("-c", "apr", apps=("Mirelu", "qconnman-applet"))
    d.wait_out("Housekeeper start tool end")
    first = stick("LOGS")
    d.board.plug(first, "first")
    d.wait(d.path("/tmp/saved").exists, "the save onto the stick", 20)
    assert d.calls("savelog.sh") == [["/Orvalen/opt/savelog.sh", "/media/sda1"]]
    assert 'HouseKeeper::onUSBStick filePath= "/media/sda1"  on= true' in d.debug
    progress = lambda: "".join(l[33:-1] for l in d.debug if l.startswith("PanicReport::onProcStdErr"))
    d.wait(lambda: progress().count("copied") == 2, "the script's progress")  # as it came
    assert progress() == "copied dmesg.log\\ncopied panic.log\\n"
    d.wait(lambda: d.bar() == 1, "the bar full: saved")
    d.screenshot(d.dir / "saved.png")
    d.board.pull("first")
    d.wait_log('PanicReport::onUSBInserted on= false  mountPoint= "/media/sda1"')
    assert stick_files(first) == LOGS

    d.ctl("rm /tmp/go /tmp/saved")  # a save still copying when the stick is pulled
    d.board.plug(stick("AGAIN"), "second")
    d.wait(lambda: progress().count("copied") == 3, "the second save under way", 20)
    d.board.pull("second")
    d.wait(lambda: d.debug.count(
        'PanicReport::onUSBInserted on= false  mountPoint= "/media/sda1"') == 2, "stick gone")
    d.screenshot(d.dir / "pulled.png")
    assert d.bar() == 0  # "Please plug USB stick to save logs"
    assert not d.ended()

    d.ctl("pkill -x Mirelu")
    probes = d.out("probes")  # a whole pass later, its death has been seen
    d.wait(lambda: len(d.out("probes")) >= len(probes) + 4, "a probe pass", 10)
    d.ctl("ulimit -c unlimited; exec /tmp/bin/Mirelu infinity & echo $! >/tmp/mirelu")
    d.wait(lambda: d.out().count("appId=1") == 2, "Mirelu alive again")
    d.ctl("kill -SEGV $(cat /tmp/mirelu); cd /var/log/coredump && ls >/tmp/cores")
    d.wait(lambda: d.path("/tmp/cores").read_text(), "the core dump", 10)
    core = "core.Mirelu." + d.path("/tmp/mirelu").read_text().strip()
    assert d.path("/tmp/cores").read_text().split() == [core]
    d.ctl(f"head -c 20 /var/log/coredump/{core} >/tmp/core-head")
    head = d.path("/tmp/core-head").read_bytes()
    assert head[:4] == b"\x7fELF" and head[16] == 4  # written by the kernel: ET_CORE
    d.ctl("for app in Brennhaven Mirelu; do /tmp/bin/$app infinity & done")
    assert d.status() == 0  # all three alive: the report ends
    assert d.out().endswith("PanicReport::hideAPR\n")


def test_a_device_that_mounts_below_media_qz_and_the_tool_killed_during_the_save(device, stick):
    d = device((801, 479))
    d.script("/Orvalen/opt/savelog.sh", SAVE)
    for name, data in LOGS.items():
        d.put("/var/log/panic/" + name, data)
    d.put("/media/qz/")  # the board's udev rule mounts sticks below it, named by their label
    d.start("-c", "up", apps=("Brennhaven",))
    d.window("AppUpdate")
    image = stick("TECH")
    d.board.plug(image)
    d.wait_log('PanicReport::onProcStdErr line= "copied dmesg.log\\n"', 20)
    assert 'HouseKeeper::onUSBStick(Maybe Qel Scale) on= true  point= "/dev/sda1"' in d.debug
    assert d.calls("savelog.sh") == [["/Orvalen/opt/savelog.sh", "/media/qz/TECH"]]
    d.ctl("pkill -KILL -x Tovrimax")
    assert d.status() == 137
    d.put("/tmp/go")
    d.wait(d.path("/tmp/saved").exists, "the save to outlive the killed tool", tool_may_end=True)
    d.wait(lambda: set(d.running()) <= {"bash", "sleep", "ps", "Brennhaven"},
           "nothing of the tool's left", tool_may_end=True)
    d.board.pull()
    assert stick_files(image) == LOGS
