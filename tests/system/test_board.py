"""What needs the board's own kernel (TOVRIMAX_BOARD): a stick that its kernel and udevd
report by its device node, a real mount, a core dump that its kernel writes."""
# mounts the stick where the tool says, copies the logs with its progress on its error output
# (the last one once /tmp/go is there), unmounts it
SAVE = ('mkdir -p "$1" && mount "/dev/${1##*/}" "$1" && set -- "$1" /var/log/panic/* && '
        'for log in "${@:2}"; do [ "$log" != "${!#}" ] || until [ -e /tmp/go ]; do sleep 0.1;'
        ' done; cp "$log" "$1/" && echo "copied ${log##*/}" >&2; done; umount "$1"')
LOGS = {"panic.log": b"Mirelu died\n" * 500, "dmesg.log": bytes(range(256)) * 300}
OFF = 'PanicReport::onUSBInserted on= false  mountPoint= "/media/sda1"'


def test_sticks_by_their_device_node_and_a_core_dump(device):
    d = device()
    d.script("/Orvalen/opt/savelog.sh", SAVE)
    for name, data in LOGS.items():
        d.put("/var/log/panic/" + name, data)
    d.put("/var/log/coredump/")
    d.put("/tmp/go")
    d.start("-c", "apr", apps=("Mirelu", "qconnman-applet", "Brennhaven"))
    d.stick("LOGS")
    d.wait(lambda: d.bar() == 1, "the bar full: saved", 20)
    assert d.calls("savelog.sh") == [["/Orvalen/opt/savelog.sh", "/media/sda1"]]
    progress = lambda: "".join(l[33:-1] for l in d.debug if "::onProcStdErr" in l)
    assert progress() == "copied dmesg.log\\ncopied panic.log\\n"
    d.unplug("LOGS")
    d.wait_log(OFF)
    assert d.stick_files("LOGS") == LOGS  # byte for byte

    d.ctl("rm /tmp/go")
    d.stick("AGAIN")  # pulled while the save waits for /tmp/go
    d.wait(lambda: progress().count("copied") == 3, "the second save under way", 20)
    d.unplug("AGAIN")
    d.wait(lambda: d.debug.count(OFF) == 2, "the stick gone")
    d.ctl("ulimit -c unlimited; /tmp/bin/Mirelu infinity & until read -r c </proc/$!/comm && "
          "[ $c = Mirelu ]; do :; done; kill -SEGV $!; wait; ls /var/log/coredump >/tmp/cores; "
          "head -c 20 /var/log/coredump/* >/tmp/core")
    assert d.path("/tmp/cores").read_text().startswith("core.Mirelu.")
    assert d.path("/tmp/core").read_bytes()[16] == 4  # ELF type: a core, by the board's kernel
    assert not d.ended()
