#!/usr/bin/python3
"""Starts one program inside the sandbox and times it from exec: bench/run puts it in front of
the tool (or the baseline) with Device.start(wrap=...).

usage: launch.py --out FILE [--marker TEXT]... [--sample-after TEXT --settle S --samples N
                 --interval S] -- PROGRAM [ARGS...]

The program's stdout is a terminal of its own, as on the device's console (so each trace line
arrives when it is printed); what it writes is passed on unchanged to this process's stdout.
Its stderr and stdin are this process's own; SIGTERM, SIGINT and SIGHUP are passed on to it.

FILE receives one JSON object when the program has ended:
  start        CLOCK_MONOTONIC just before the fork (seconds; the clock is shared with the
               host, there is no time namespace)
  markers      {TEXT: monotonic time its line was read} for each --marker seen
  exit         monotonic time the program's end was noticed (pidfd)
  status       exit code, or -N for a signal N
  maxrss_kb    peak resident set size (wait4 ru_maxrss: the program's own peak; its reaped
               children are far smaller)
  final        [utime, stime, cutime, cstime] in clock ticks, read from the zombie
  samples      [[monotonic, utime, stime, cutime, cstime], ...] taken every --interval
               seconds, --samples times, starting --settle seconds after the --sample-after
               line
  clk_tck      clock ticks per second
"""

import argparse
import json
import os
import select
import signal
import sys
import termios
import time


def cpu_ticks(pid):
    """utime, stime, cutime, cstime of a process (also of a zombie not yet reaped)."""
    with open("/proc/%d/stat" % pid) as f:
        text = f.read()
    fields = text[text.rindex(")") + 2:].split()
    # fields[0] is the state (field 3 of proc(5)); utime is field 14
    return [int(v) for v in fields[11:15]]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--marker", action="append", default=[])
    parser.add_argument("--sample-after")
    parser.add_argument("--settle", type=float, default=0.0)
    parser.add_argument("--samples", type=int, default=0)
    parser.add_argument("--interval", type=float, default=1.0)
    parser.add_argument("argv", nargs="+")
    args = parser.parse_args()

    master, slave = os.openpty()
    attrs = termios.tcgetattr(slave)
    attrs[1] &= ~termios.OPOST  # keep "\n" as it is
    termios.tcsetattr(slave, termios.TCSANOW, attrs)

    start = time.monotonic()
    pid = os.fork()
    if pid == 0:
        os.dup2(slave, 1)
        os.close(slave)
        os.close(master)
        try:
            os.execv(args.argv[0], args.argv)
        finally:
            os._exit(127)
    os.close(slave)
    ended = os.pidfd_open(pid)
    # signals meant for the program that reach this launcher instead
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, lambda s, _frame: os.kill(pid, s))

    markers = {}
    text = b""
    samples = []
    next_sample = None
    wanted = [m.encode() for m in args.marker]
    if args.sample_after:
        wanted.append(args.sample_after.encode())
    reading = True
    while True:
        timeout = None
        if next_sample is not None:
            timeout = max(0.0, next_sample - time.monotonic())
        ready, _, _ = select.select([ended] + ([master] if reading else []), [], [], timeout)
        now = time.monotonic()
        if master in ready:
            try:
                data = os.read(master, 65536)
            except OSError:  # EIO: the program and all its children closed the terminal
                data = b""
            if not data:
                reading = False
            else:
                os.write(1, data)
                # only lines not yet searched, plus a marker's length of overlap
                keep = max((len(m) for m in wanted), default=0)
                text = text[-keep:] + data if keep else b""
                for m in wanted:
                    if m.decode() not in markers and m in text:
                        markers[m.decode()] = now
                        if args.sample_after and m.decode() == args.sample_after \
                                and args.samples:
                            next_sample = now + args.settle
        if next_sample is not None and now >= next_sample and ended not in ready:
            samples.append([time.monotonic()] + cpu_ticks(pid))
            if len(samples) >= args.samples:
                next_sample = None
            else:
                next_sample += args.interval
        if ended in ready:
            break
    exit_time = time.monotonic()

    # the program is a zombie until reaped: its counters are final now
    os.waitid(os.P_PID, pid, os.WEXITED | os.WNOWAIT)
    final = cpu_ticks(pid)
    _, status, usage = os.wait4(pid, 0)
    # what the program left on its terminal
    os.set_blocking(master, False)
    while True:
        try:
            data = os.read(master, 65536)
        except OSError:
            break
        if not data:
            break
        os.write(1, data)

    code = os.waitstatus_to_exitcode(status)
    result = {"start": start, "markers": markers, "exit": exit_time, "status": code,
              "maxrss_kb": usage.ru_maxrss, "final": final, "samples": samples,
              "clk_tck": os.sysconf("SC_CLK_TCK")}
    tmp = args.out + ".tmp"
    with open(tmp, "w") as f:
        json.dump(result, f)
    os.replace(tmp, args.out)
    if code < 0:
        sys.exit(128 - code)
    sys.exit(code)


if __name__ == "__main__":
    main()
