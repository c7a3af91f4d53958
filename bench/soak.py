#!/usr/bin/python3
"""Soak run: the tool in mode "apr" for a long time under a steady stream of device events,
with its resident memory sampled as it goes.

usage: soak.py [--minutes N] [--sample SECONDS] [--limit-mib M] [--no-results]
       (binary from $TOVRIMAX_BIN, else build/)

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
the first minute. The figures replace the soak section of bench/RESULTS.md (between its
markers) unless --no-results is given.
"""

import argparse
import datetime
import os
import sys
import time
from pathlib import Path

BENCH = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH.parent / "tests" / "system"))

from harness import BINARY, Device  # noqa: E402

APPS = ("Brennhaven", "Mirelu")
START_END_LINE = "Housekeeper start tool end"
RESULTS = BENCH / "RESULTS.md"
BEGIN, END = "<!-- bench/soak.py: begin -->", "<!-- bench/soak.py: end -->"


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


def wait_for(check, timeout, what):
    deadline = time.monotonic() + timeout
    while not (value := check()):
        if time.monotonic() > deadline:
            raise RuntimeError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(0.05)
    return value


def write_results(text):
    old = RESULTS.read_text()
    if BEGIN not in old or END not in old:
        old = old.rstrip("\n") + "\n\n## Soak run\n\n%s\n%s\n" % (BEGIN, END)
    head, rest = old.split(BEGIN, 1)
    RESULTS.write_text(head + BEGIN + "\n" + text + END + rest.split(END, 1)[1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--minutes", type=float, default=10.0)
    parser.add_argument("--sample", type=float, default=30.0)
    parser.add_argument("--limit-mib", type=float, default=3.0)
    parser.add_argument("--no-results", action="store_true", help="do not write RESULTS.md")
    opts = parser.parse_args()

    d = Device()
    failures, table = [], []

    def status():
        path = d.path("/tmp/status")
        return int(path.read_text()) if path.exists() else None

    def row(text):
        print(text, flush=True)
        table.append(text)
    try:
        d.path("/media/qz").mkdir(parents=True)
        d.path("/var/log/coredump").mkdir(parents=True)
        d.put("/home/ftp/base.tgz", "package base.tgz", mtime=1700000000)
        d.script("/home/ftp/iup.sh")
        d.script("/Orvalen/opt/savelog.sh", "echo copied; echo 'savelog: done' >&2")
        d.start("-c", "apr", apps=("Mirelu",))
        wait_for(lambda: START_END_LINE in d.out(), 30, "the end of the start-up")
        pid = wait_for(lambda: host_pid(d.bwrap.pid, BINARY), 10, "the tool's pid")

        print("soak: %s, %.1f min, pid %d" % (BINARY, opts.minutes, pid), flush=True)
        row("%8s %10s %8s %8s %8s" % ("seconds", "RSS KiB", "sticks", "saves", "uploads"))
        started = time.monotonic()
        end = started + opts.minutes * 60
        samples = []
        tick = inserted = pulled = uploads = cores = 0
        next_sample = started
        stick, extra = d.path("/media/qz/STICK"), d.path("/home/ftp/extra.tgz")
        while time.monotonic() < end:
            if status() is not None:
                failures.append("the tool ended on its own after %d s: status %r"
                                % (tick, status()))
                break
            # applications: one of the two comes, the other goes
            d.ctl("/tmp/bin/%s infinity & pkill -x %s" % (APPS[tick % 2], APPS[(tick + 1) % 2]))
            if tick % 3 == 0:
                if stick.exists():
                    stick.rmdir()
                    pulled += 1
                else:
                    stick.mkdir()
                    inserted += 1
            if tick % 5 == 0:
                if extra.exists():
                    extra.unlink()
                else:
                    d.put("/home/ftp/extra.tgz", "package", mtime=1700000000 + tick)
                uploads += 1
            if tick % 7 == 0:
                d.put("/var/log/coredump/core.%d" % tick, "core")
                cores += 1
            now = time.monotonic()
            if now >= next_sample:
                kib = rss_kib(pid)
                samples.append((now - started, kib))
                row("%8.0f %10d %8d %8d %8d" % (now - started, kib, inserted + pulled,
                                                len(d.calls("savelog.sh")), uploads))
                next_sample += opts.sample
            tick += 1
            time.sleep(max(0.0, started + tick - time.monotonic()))

        if status() is None:
            samples.append((time.monotonic() - started, rss_kib(pid)))
            # every stick event reached the tool: one save per insertion, one report each way
            time.sleep(2)
            ins = len([l for l in d.log if "PanicReport::onUSBInserted on= true" in l])
            outs = len([l for l in d.log if "PanicReport::onUSBInserted on= false" in l])
            if (ins, outs) != (inserted, pulled):
                failures.append("stick events: %d/%d insertions and %d/%d removals reported"
                                % (ins, inserted, outs, pulled))
            saves = len(d.calls("savelog.sh"))
            if saves != inserted:
                failures.append("%d saves for %d insertions" % (saves, inserted))
            # the natural end: all three applications running
            d.ctl("for app in Brennhaven Mirelu qconnman-applet; do /tmp/bin/$app infinity & done")
            try:
                code = wait_for(lambda: status() is not None, 30, "the tool's end") and status()
            except RuntimeError as e:
                code = str(e)
            if code != 0:
                failures.append("exit status %r; stderr:\n%s" % (code, d.out("stderr")[-2000:]))

        summary = []
        warm = [kib for t, kib in samples if t >= 60] or [kib for _, kib in samples]
        if warm:
            growth = (warm[-1] - warm[0]) / 1024
            summary.append("soak: RSS %d KiB at start, %d KiB after the first minute, %d KiB at"
                           " the end: %+.2f MiB growth (limit %.1f)"
                           % (samples[0][1], warm[0], warm[-1], growth, opts.limit_mib))
            if growth > opts.limit_mib:
                failures.append("resident memory grew by %.2f MiB" % growth)
        summary.append("soak: %d stick insertions, %d removals, %d uploads, %d core dumps, %d saves"
                       % (inserted, pulled, uploads, cores, len(d.calls("savelog.sh"))))
        print("\n".join(summary))
    finally:
        if failures:  # the device stays for a look; its processes end
            for proc in (getattr(d, "bwrap", None), d.x):
                if proc:
                    proc.kill()
                    proc.wait()
        else:
            d.close()
    for failure in failures:
        print("soak: FAILED: " + failure)
    if failures:
        print("soak: sandbox kept in %s" % d.dir)
        return 1
    print("soak: passed")
    if not opts.no_results:
        now = datetime.datetime.now().astimezone().strftime("%Y-%m-%d %H:%M %Z")
        binary = os.path.relpath(BINARY, BENCH.parent)
        write_results("Run: %s, %s, %.1f min, load average at the end %.2f/%.2f/%.2f.\n\n```\n"
                      "%s\n%s\n```\n" % (now, binary, opts.minutes, *os.getloadavg(),
                                          "\n".join(table), "\n".join(summary)))
        print("soak: wrote %s" % RESULTS)
    return 0


if __name__ == "__main__":
    sys.exit(main())
