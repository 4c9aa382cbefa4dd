"""One measured run of a recorder: its CPU time and context switches from wait4(), its peak
memory and the sound server's CPU time from /proc, and the arrival time of every line it
prints."""

import json
import os
import signal
import subprocess
import threading
import time

TICKS = os.sysconf("SC_CLK_TCK")


def process_cpu(pid):
    """User plus system CPU seconds of a live process, from /proc."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def peak_rss_mb(pid):
    """The high-water mark of a live process's resident memory since its exec, or None once it
    has exited. (wait4's maxrss would also count the Python parent, copied by the fork.)"""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return None


class Measured:
    """Starts `commands` (one or more processes recording side by side) and reads the first
    one's standard output as JSON lines, with their arrival times."""

    def __init__(self, commands, env, server_pid):
        self.server_pid = server_pid
        self.server_before = process_cpu(server_pid)
        self.started = time.monotonic()
        self.processes = [subprocess.Popen(command, env=env, stdout=subprocess.PIPE,
                                           stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                                           text=True) for command in commands]
        self.lines = []
        self.condition = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.interrupted = None
        self.peaks = [0.0] * len(self.processes)

    def _sample_peaks(self):
        for index, process in enumerate(self.processes):
            self.peaks[index] = max(self.peaks[index], peak_rss_mb(process.pid) or 0.0)

    def _read(self):
        for line in self.processes[0].stdout:
            with self.condition:
                try:
                    self.lines.append((time.monotonic(), json.loads(line)))
                except json.JSONDecodeError:
                    pass
                self.condition.notify_all()
        with self.condition:
            self.condition.notify_all()

    def wait_for(self, kind, timeout=20):
        """Arrival time of the first record of `kind`, or None."""
        deadline = time.monotonic() + timeout
        with self.condition:
            while True:
                for arrival, record in self.lines:
                    if record.get("event") == kind:
                        return arrival
                remaining = deadline - time.monotonic()
                if remaining <= 0 or not self.reader.is_alive():
                    return None
                self.condition.wait(remaining)

    def interrupt(self, sig=signal.SIGINT):
        self._sample_peaks()
        self.interrupted = time.monotonic()
        for process in self.processes:
            process.send_signal(sig)

    def finish(self, timeout=30):
        """Waits for every process; returns the figures of the run."""
        deadline = time.monotonic() + timeout
        cpu = switches = 0.0
        exited = 0.0
        statuses = []
        for process in self.processes:
            while True:
                self._sample_peaks()  # a high-water mark: the last reading before exit is the peak
                pid, status, usage = os.wait4(process.pid, os.WNOHANG)
                if pid:
                    break
                if time.monotonic() > deadline:
                    process.kill()
                time.sleep(0.005)
            exited = max(exited, time.monotonic())
            process.returncode = os.waitstatus_to_exitcode(status)
            statuses.append(process.returncode)
            cpu += usage.ru_utime + usage.ru_stime
            switches += usage.ru_nvcsw + usage.ru_nivcsw
        self.reader.join(5)
        wall = (self.interrupted or exited) - self.started
        return {
            "statuses": statuses,
            "cpu": cpu,
            "server": process_cpu(self.server_pid) - self.server_before,
            "wall": wall,
            "rss_mb": sum(self.peaks),
            "switches_per_s": switches / max(exited - self.started, 1e-9),
            "interrupt_to_exit_ms": (exited - self.interrupted) * 1000 if self.interrupted else None,
        }

    def records(self, kind):
        return [(arrival, record) for arrival, record in self.lines
                if record.get("event") == kind]
