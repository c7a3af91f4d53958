#!/usr/bin/python3
"""Soak run: the tool in mode "apr" for a long time under a steady stream of device events,
with its resident memory sampled as it goes.

usage: soak.py [--minutes N] [--sample SECONDS]   (binary from $TOVRIMAX_BIN, else build/)

Events, on a device that mounts sticks below /media/qz:
  every second        Brennhaven and Mirelu flap (one starts, the other stops); qconnman-applet
                      never runs, so the report never ends by itself
  every 3 seconds     a stick is inserted or pulled (a directory below /media/qz); each insertion
                      runs the save script
  every 5 seconds     an upload changes /home/ftp (installer and a package stay there, so the
                      update window opens over the report instead of ending the tool)
  every 7 seconds     a core dump appears in /var/log/coredump

The tool keeps a death list and a core-dump list (emptied by every finished save) and adds a
paragraph to its report view for each stick event; beyond that its memory must not grow.
Resident memory is printed every --sample seconds; at the end the run fails (exit 1) when the
tool died, lost a stick event, did not end normally, or grew by more than --limit-mib after
the first minute.
"""

import argparse
import os
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "system"))

from harness import START_END_LINE, Sandbox, XServer, tool_binary, wait_until  # noqa: E402

APPS = ("Brennhaven", "Mirelu")


def host_pid(root_pid, binary):
    """The host pid of the tool: a descendant of the sandbox process running `binary`."""
    parents = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            stat = Path("/proc", entry, "stat").read_text()
            argv0 = Path("/proc", entry, "cmdline").read_bytes().split(b"\0")[0]
        except OSError:
            continue
        parents[int(entry)] = (int(stat.rsplit(")", 1)[1].split()[1]), argv0)
    for pid, (_, argv0) in parents.items():
        if argv0 != str(binary).encode():
            continue
        p = pid
        while p in parents and p != root_pid:
            p = parents[p][0]
        if p == root_pid:
            return pid
    return None


def rss_kib(pid):
    for line in Path("/proc", str(pid), "status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--minutes", type=float, default=10.0)
    parser.add_argument("--sample", type=float, default=30.0)
    parser.add_argument("--limit-mib", type=float, default=3.0)
    opts = parser.parse_args()

    binary = tool_binary()
    x = XServer()
    box = Sandbox()
    failures = []
    try:
        box.tree.mkdir("/media/qz")
        box.tree.mkdir("/var/log/coredump")
        box.package_dir("/home/ftp", [("base.tgz", 1700000000)])
        savelog = box.standins["savelog.sh"]
        savelog.configure(stdout="copied\n", stderr="savelog: done\n")
        tool = box.start("-c", "apr", x=x, apps=("Mirelu",))
        tool.wait_for_stdout(START_END_LINE, timeout=30)
        pid = wait_until(lambda: host_pid(tool.proc.pid, binary), 10, what="the tool's pid")

        print("soak: %s, %.1f min, pid %d" % (binary, opts.minutes, pid), flush=True)
        print("%8s %10s %8s %8s %8s" % ("seconds", "RSS KiB", "sticks", "saves", "uploads"))
        started = time.monotonic()
        end = started + opts.minutes * 60
        samples = []
        tick = inserted = pulled = uploads = cores = 0
        next_sample = started
        while time.monotonic() < end:
            if not tool.running:
                failures.append("the tool ended on its own after %d s: status %r"
                                % (tick, tool.returncode))
                break
            # applications: one of the two comes, the other goes
            tool.start_app(APPS[tick % 2])
            tool.stop_app(APPS[(tick + 1) % 2])
            if tick % 3 == 0:
                if box.tree.exists("/media/qz/STICK"):
                    box.tree.remove("/media/qz/STICK")
                    pulled += 1
                else:
                    box.tree.mkdir("/media/qz/STICK")
                    inserted += 1
            if tick % 5 == 0:
                extra = "/home/ftp/extra.tgz"
                if box.tree.exists(extra):
                    box.tree.remove(extra)
                else:
                    box.tree.write(extra, b"package", mtime=1700000000 + tick)
                uploads += 1
            if tick % 7 == 0:
                box.tree.write("/var/log/coredump/core.%d" % tick, b"core")
                cores += 1
            now = time.monotonic()
            if now >= next_sample:
                kib = rss_kib(pid)
                samples.append((now - started, kib))
                print("%8.0f %10d %8d %8d %8d" % (now - started, kib, inserted + pulled,
                                                  len(savelog.runs), uploads), flush=True)
                next_sample += opts.sample
            tick += 1
            time.sleep(max(0.0, started + tick - time.monotonic()))

        if tool.running:
            samples.append((time.monotonic() - started, rss_kib(pid)))
            # every stick event reached the tool: one save per insertion, one report each way
            time.sleep(2)
            box.syslog.flush()
            ins = len(box.syslog.matching("PanicReport::onUSBInserted on= true"))
            outs = len(box.syslog.matching("PanicReport::onUSBInserted on= false"))
            if (ins, outs) != (inserted, pulled):
                failures.append("stick events: %d/%d insertions and %d/%d removals reported"
                                % (ins, inserted, outs, pulled))
            if len(savelog.runs) != inserted:
                failures.append("%d saves for %d insertions" % (len(savelog.runs), inserted))
            # the natural end: all three applications running
            for app in ("Brennhaven", "Mirelu", "qconnman-applet"):
                tool.start_app(app)
            status = tool.wait(30)
            if status != 0:
                failures.append("exit status %r; stderr:\n%s" % (status, tool.stderr[-2000:]))

        warm = [kib for t, kib in samples if t >= 60] or [kib for _, kib in samples]
        if warm:
            growth = (warm[-1] - warm[0]) / 1024
            print("soak: RSS %d KiB at start, %d KiB after the first minute, %d KiB at the end:"
                  " %+.2f MiB growth (limit %.1f)" % (samples[0][1], warm[0], warm[-1], growth,
                                                      opts.limit_mib))
            if growth > opts.limit_mib:
                failures.append("resident memory grew by %.2f MiB" % growth)
        print("soak: %d stick insertions, %d removals, %d uploads, %d core dumps, %d saves"
              % (inserted, pulled, uploads, cores, len(savelog.runs)))
    finally:
        box.close(keep=bool(failures))
        x.stop()
    for failure in failures:
        print("soak: FAILED: " + failure)
    if failures:
        print("soak: sandbox kept in %s" % box.base)
    else:
        print("soak: passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
