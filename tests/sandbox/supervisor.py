#!/usr/bin/python3
"""Runs inside the sandbox: starts the tool and the stand-in watched applications in one pid
namespace, so that the tool's "killall -0 NAME" probes see exactly what a test started.

usage: supervisor.py PLAN.json

The plan (written by the host-side harness) holds:
  argv      the tool's command line
  env       variables to set for the tool only (LD_PRELOAD, UMOCKDEV_DIR, DISPLAY, ...)
  unset     variables to remove from the tool's environment
  cwd       the tool's working directory (default "/")
  apps      stand-in applications to start before the tool (names of files in app_dir)
  app_dir   directory holding the stand-in applications (copies of sleep)
  control   path of a Unix stream socket to bind for commands while the tool runs
  status    path of a file that receives {"pid": N} at start and {"exit": N} or
            {"signal": N} at the end
  stdout_tty  true (default): the tool's stdout is a terminal, so the C library writes each
            line at once, as on the device's console; its output is copied to this
            process's stdout. false: the tool writes straight into this process's stdout.

Commands on the control socket, one line each, answered with one line:
  start NAME        start one more process of the stand-in NAME    -> "ok PID"
  stop NAME         end every process of NAME this supervisor runs -> "ok COUNT"
  running           names with live processes, space separated    -> "ok NAMES"
  signal SIGNUM     send a signal to the tool                      -> "ok"

The tool's stdin is /dev/null; its stderr is this process's own. When the tool
ends, the applications are ended too, and this process exits with the tool's status
(128 + N for a signal N, as a shell would).
"""

import json
import os
import selectors
import signal
import socket
import subprocess
import sys
import termios


def write_status(path, value):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        json.dump(value, f)
    os.replace(tmp, path)


class Apps:
    def __init__(self, app_dir):
        self.app_dir = app_dir
        self.procs = {}

    def start(self, name):
        if "/" in name or not name:
            raise ValueError("bad application name %r" % name)
        # the process's command name is the file name: that is what killall matches
        proc = subprocess.Popen([os.path.join(self.app_dir, name), "infinity"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
        self.procs.setdefault(name, []).append(proc)
        return proc.pid

    def stop(self, name):
        procs = self.procs.pop(name, [])
        for proc in procs:
            if proc.poll() is None:
                proc.terminate()
        for proc in procs:
            proc.wait()
        return len(procs)

    def running(self):
        return sorted(name for name, procs in self.procs.items()
                      if any(p.poll() is None for p in procs))

    def stop_all(self):
        for name in list(self.procs):
            self.stop(name)


def handle(line, apps, tool):
    words = line.split()
    if len(words) == 2 and words[0] == "start":
        return "ok %d" % apps.start(words[1])
    if len(words) == 2 and words[0] == "stop":
        return "ok %d" % apps.stop(words[1])
    if words == ["running"]:
        return "ok " + " ".join(apps.running())
    if len(words) == 2 and words[0] == "signal":
        tool.send_signal(int(words[1]))
        return "ok"
    return "error unknown command %r" % line


def serve_one(conn, apps, tool):
    with conn:
        data = b""
        while not data.endswith(b"\n"):
            chunk = conn.recv(4096)
            if not chunk:
                break
            data += chunk
        try:
            reply = handle(data.decode().strip(), apps, tool)
        except Exception as e:  # a bad command must not take the tool's run down
            reply = "error %s" % e
        conn.sendall(reply.encode() + b"\n")


def copy_output(terminal):
    """Copies what the tool wrote to its terminal; False when nothing more can come now."""
    try:
        data = os.read(terminal, 65536)
    except (BlockingIOError, OSError):  # EIO: every writer has closed it
        return False
    if not data:
        return False
    sys.stdout.buffer.write(data)
    sys.stdout.buffer.flush()
    return True


def main():
    with open(sys.argv[1]) as f:
        plan = json.load(f)

    apps = Apps(plan["app_dir"])
    for name in plan.get("apps", []):
        apps.start(name)

    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(plan["control"])
    server.listen(8)

    env = dict(os.environ)
    for name in plan.get("unset", []):
        env.pop(name, None)
    env.update(plan.get("env", {}))

    terminal = None
    stdout = None
    if plan.get("stdout_tty", True):
        terminal, stdout = os.openpty()
        attrs = termios.tcgetattr(stdout)
        attrs[1] &= ~termios.OPOST  # keep "\n" as it is
        termios.tcsetattr(stdout, termios.TCSANOW, attrs)
    tool = subprocess.Popen(plan["argv"], env=env, cwd=plan.get("cwd", "/"),
                            stdin=subprocess.DEVNULL, stdout=stdout)
    if stdout is not None:
        os.close(stdout)
    write_status(plan["status"], {"pid": tool.pid})

    # sleep until a command or output arrives or the tool ends: no polling, so the supervisor
    # costs nothing while a benchmark measures the tool
    ended = os.pidfd_open(tool.pid)
    sel = selectors.DefaultSelector()
    sel.register(server, selectors.EVENT_READ)
    sel.register(ended, selectors.EVENT_READ)
    if terminal is not None:
        sel.register(terminal, selectors.EVENT_READ)
    while tool.poll() is None:
        for key, _mask in sel.select():
            if key.fileobj is server:
                conn, _ = server.accept()
                serve_one(conn, apps, tool)
            elif key.fileobj is terminal and not copy_output(terminal):
                sel.unregister(terminal)
    if terminal is not None:
        # what is left; children that outlive the tool may hold the terminal open
        os.set_blocking(terminal, False)
        while copy_output(terminal):
            pass

    apps.stop_all()
    code = tool.returncode
    write_status(plan["status"], {"exit": code} if code >= 0 else {"signal": -code})
    sys.exit(code if code >= 0 else 128 - code)


if __name__ == "__main__":
    main()
