"""Stories that need the board's own kernel: sticks plugged through the emulator (udevd, a real
mount), a core dump the kernel writes, a save that lands on the stick (TOVRIMAX_BOARD)."""
import pytest

from harness import make_stick, stick_files

# mounts the stick unless the device did, copies the logs (the last one once /tmp/go is
# there) with its progress on its error output, unmounts what it mounted
SAVE = ('mountpoint -q "$1" || { mkdir -p "$1" && mount "/dev/${1##*/}" "$1" && mine=1; }; '
        'set -- "$1" /var/log/panic/*; for log in "${@:2}"; do [ "$log" != "${!#}" ] || '
        'until [ -e /tmp/go ]; do sleep 0.1; done; cp "$log" "$1/" && echo "copied ${log##*/}" >&2;'
        ' done; sync; [ -z "$mine" ] || umount "$1"; : >/tmp/saved')
LOGS = {"panic.log": b"Mirelu died\n" * 500, "dmesg.log": bytes(range(256)) * 300}


@pytest.fixture
def board(device, tmp_path):  # a device with logs to save, and a stick image to plug
    d = device((801, 479))
    d.script("/Orvalen/opt/savelog.sh", SAVE)
    for name, data in LOGS.items():
        d.put("/var/log/panic/" + name, data)
    make_stick(tmp_path / "stick.img", "TECH")
    return d, tmp_path / "stick.img"


def test_stick_saved_then_pulled_mid_save_and_a_core_dump(board):
    d, stick = board
    d.put("/var/log/coredump/")
    d.put("/tmp/go")
    d.start("-c", "apr", apps=("Mirelu", "qconnman-applet", "Brennhaven"))
    d.plug(stick)
    d.wait(d.path("/tmp/saved").exists, "the save onto the stick", 20)
    assert d.calls("savelog.sh") == [["/Orvalen/opt/savelog.sh", "/media/sda1"]]
    progress = lambda: "".join(l[33:-1] for l in d.debug if "::onProcStdErr" in l)
    d.wait(lambda: progress() == "copied dmesg.log\\ncopied panic.log\\n", "the progress")
    d.wait(lambda: d.bar(80, 0) == 1, "the bar full: saved")
    d.board.pull()
    d.wait_log('PanicReport::onUSBInserted on= false  mountPoint= "/media/sda1"')
    assert stick_files(stick) == LOGS  # byte for byte

    d.ctl("rm /tmp/go")
    d.plug(stick)  # pulled while the save waits for /tmp/go
    d.wait(lambda: progress().count("copied") == 3, "the second save under way", 20)
    d.board.pull()
    d.wait(lambda: d.debug.count('PanicReport::onUSBInserted on= false  mountPoint= '
                                 '"/media/sda1"') == 2, "the stick gone")
    assert d.bar(80, 0) == 0  # "Please plug USB stick to save logs"
    d.ctl("ulimit -c unlimited; /tmp/bin/Mirelu infinity & until read -r c </proc/$!/comm && "
          "[ $c = Mirelu ]; do :; done; kill -SEGV $!; wait; ls /var/log/coredump >/tmp/cores; "
          "head -c 20 /var/log/coredump/* >/tmp/core")
    assert d.path("/tmp/cores").read_text().startswith("core.Mirelu.")
    assert d.path("/tmp/core").read_bytes()[16] == 4  # ELF type: a core, by the board's kernel
    assert not d.ended()


def test_sticks_mounted_below_media_qz_and_the_tool_killed_during_the_save(board):
    d, stick = board
    d.put("/media/qz/")  # the board's udev rule mounts a stick there, named by its label
    d.start("-c", "up", apps=("Brennhaven",))
    d.window("AppUpdate")
    d.plug(stick)
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
    assert stick_files(stick) == LOGS
