#!/usr/bin/env python3
"""End-to-end checks of what an embedding developer uses: BUILD-DIR installed with CMAKE into
a prefix of its own, its tool's probe, and its example parent, examples/level_meter.py, run
plain, stopped at once and under a pseudo-terminal. A parent that is killed is process_e2e's.

Usage: embedding_e2e.py CMAKE BUILD-DIR
"""

import math
import os
import pty
import re
import signal
import subprocess
import sys
import threading
import time

from e2e_support import (MICROPHONE_RMS, SYSTEM_RMS, check_probe, run_suite, wait_or_kill,
                         wait_until)

DOCS = "share/doc/tessaloquin-audio-capture"
MAN_PAGE = "share/man/man1/tessaloquin-audio-capture.1.gz"
LEVEL_LINE = re.compile(r"\d\d:\d\d  system \[[#.]{20}\] +(-?\d+\.\d) dB"
                        r"  microphone \[[#.]{20}\] +(-?\d+\.\d) dB")
SYSTEM_DB = 20 * math.log10(SYSTEM_RMS)
MICROPHONE_DB = 20 * math.log10(MICROPHONE_RMS)
RECORD_SECONDS = 3


class Output:
    """Collects what a process writes to `fd` until it closes, on a thread of its own."""

    def __init__(self, fd):
        self.data = b""
        self.thread = threading.Thread(target=self._read, args=(fd,), daemon=True)
        self.thread.start()

    def _read(self, fd):
        try:
            while chunk := os.read(fd, 4096):
                self.data += chunk
        except OSError:  # a pseudo-terminal whose other side closed
            pass

    def wait_for(self, text, timeout=20):
        wait_until(lambda: text in self.data or not self.thread.is_alive(), timeout, 0.01)
        return text in self.data

    def text(self):
        self.thread.join(20)
        return self.data.decode(errors="replace")


def tool_of(parent):
    """The pid of the tool that the example `parent` started: its first child."""
    with open(f"/proc/{parent}/task/{parent}/children") as children:
        pids = children.read().split()
    return int(pids[0]) if pids else None


def start_example(example, tool, env, path, *options):
    """The example, not under a terminal; returns it and its output."""
    process = subprocess.Popen([sys.executable, example, "--output", path, "--tool", tool,
                                *options], env=env, stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return process, Output(process.stdout.fileno())


def press_enter_and_wait(process):
    process.stdin.write(b"\n")
    process.stdin.flush()
    return wait_or_kill(process, 30)


def check_meter_lines(f, lines, microphone_db):
    levels = [LEVEL_LINE.fullmatch(line) for line in lines]
    levels = [(float(m[1]), float(m[2])) for m in levels if m]
    f.check(len(levels) >= RECORD_SECONDS - 1, f"{len(levels)} level lines in {lines}")
    f.check(all(abs(system - SYSTEM_DB) < 1 and abs(microphone - microphone_db) < 1
                for system, microphone in levels),
            f"levels {levels}, tones {SYSTEM_DB:.1f} and {microphone_db:.1f} dB")


def check_outcome(f, lines, path):
    size = os.path.getsize(path) if os.path.exists(path) else None
    f.check(f"Done: {path}, {size} bytes; exit status 0: the movie is complete" in lines,
            f"no outcome line for {size} bytes in {lines}")


def install(f, cmake, build, prefix):
    result = subprocess.run([cmake, "--install", build, "--prefix", prefix],
                            capture_output=True, text=True)
    f.check(result.returncode == 0, f"cmake --install: {result.stderr}")
    installed = {os.path.relpath(os.path.join(folder, name), prefix)
                 for folder, _, names in os.walk(prefix) for name in names}
    stray = {path for path in installed if not path.startswith(DOCS + "/")}
    # The executable, and the media module it loads, in a library folder of its own.
    modules = {path for path in stray
               if re.fullmatch(r"lib[^/]*(/[^/]+)?/tessaloquin-audio-capture/[^/]+\.so", path)}
    f.check(stray - modules == {"bin/tessaloquin-audio-capture", MAN_PAGE} and len(modules) == 1,
            f"installed besides the docs: {stray}")
    for path in ("README.md", "examples/level_meter.py"):
        f.check(f"{DOCS}/{path}" in installed, f"{path} is not installed: {installed}")


def run_plain(f, example, tool, env, path):
    """Not a terminal: plain lines; Enter stops it."""
    process, output = start_example(example, tool, env, path, "--microphone", "off")
    if f.check(output.wait_for(b"Recording into"), f"not recording: {output.data!r}"):
        time.sleep(RECORD_SECONDS)
    status = press_enter_and_wait(process)
    text = output.text()
    f.check(status == 0, f"exit status {status}; stderr {process.stderr.read()!r}")
    f.check("\r" not in text and "\x1b" not in text, f"terminal controls in plain output {text!r}")
    check_meter_lines(f, text.splitlines(), -60.0)
    check_outcome(f, text.splitlines(), path)


def run_stopped_early(f, example, tool, env, path):
    """Enter before the tool listens for SIGINT: the stop is kept for later, not lost."""
    process, output = start_example(example, tool, env, path)
    press_enter_and_wait(process)
    lines = output.text().splitlines()
    f.check(lines and lines[0] == "Stopping...", f"the stop came after ready: {lines}")
    check_outcome(f, lines, path)


def run_in_terminal(f, example, tool, env, path):
    """Under a pseudo-terminal: one redrawn line; Ctrl-C reaches the example, not the tool."""
    pid, master = pty.fork()
    if pid == 0:
        os.execve(sys.executable, [sys.executable, example, "--output", path,
                                   "--microphone-name", "Studio Condenser", "--tool", tool], env)
    output = Output(master)
    if f.check(output.wait_for(b"Recording into"), f"not recording: {output.data!r}"):
        tool_pid = tool_of(pid)
        f.check(tool_pid and os.getpgid(tool_pid) != os.getpgid(pid), "the tool is in front")
        time.sleep(RECORD_SECONDS)
    os.write(master, b"\x03")
    if not f.check(output.wait_for(b"exit status", 30), "no outcome after Ctrl-C"):
        os.kill(pid, signal.SIGKILL)
    _, status = os.waitpid(pid, 0)
    text = output.text()
    os.close(master)
    f.check(os.waitstatus_to_exitcode(status) == 0, f"exit status {status}")
    f.check("Warning: microphone_fallback: " in text, f"no warning: {text!r}")
    redrawn = text.split("Press Enter or Ctrl-C to stop.", 1)[-1].split("Stopping...")[0].strip()
    f.check("\n" not in redrawn, f"levels not redrawn on one line: {redrawn!r}")
    check_meter_lines(f, [part.split("\x1b[K")[0] for part in redrawn.split("\r")],
                      MICROPHONE_DB)
    check_outcome(f, text.replace("\r\n", "\n").splitlines(), path)


def embedding(f, cmake, server, root):
    f.group = "install"
    prefix = os.path.join(root, "prefix")
    install(f, cmake, sys.argv[2], prefix)
    tool = os.path.join(prefix, "bin", "tessaloquin-audio-capture")
    example = os.path.join(prefix, DOCS, "examples", "level_meter.py")
    if not f.check(os.access(tool, os.X_OK), "no tool is installed"):
        return
    check_probe(f, tool, server.env)
    for group, case in (("plain", run_plain), ("stopped at once", run_stopped_early),
                        ("terminal", run_in_terminal)):
        f.group = f"example, {group}"
        case(f, example, tool, server.env, os.path.join(root, group.replace(" ", "-") + ".mov"))


if __name__ == "__main__":
    run_suite("embedding", (embedding,), arguments=2)
