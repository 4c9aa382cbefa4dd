#!/usr/bin/env python3
"""End-to-end checks of the recorder as a process among others: early signals, a parent that
closes the pipe, stops reading or goes away, talkative libraries, few file descriptors. Takes
about two minutes, most of it a parent that does not read for 60 s.

Usage: process_e2e.py PATH-TO-tessaloquin-audio-capture
"""

import contextlib
import errno
import fcntl
import json
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

from e2e_support import (SAMPLES_PER_SECOND, SYSTEM_RMS, Run, become_subreaper, check_error,
                         check_final, check_probe, check_movie, interrupt, refuse_system_call,
                         run_suite, sanitized, slow_server, top_level_boxes, wait_or_kill,
                         wait_reaped, wait_until)

# As in sandboxes that predate it; 434 on every architecture since Linux 5.3.
REFUSE_PIDFD_OPEN = refuse_system_call(434, errno.ENOSYS)


def check_recording(f, run, seconds, label):
    """The run reports ready and is still recording `seconds` later."""
    if f.check(run.wait_for("ready") is not None, f"{label}: no ready: {run.kinds()}"):
        time.sleep(seconds)
        f.check(run.process.poll() is None and "final" not in run.kinds(),
                f"{label}: ended: {run.kinds()}")


def sigint_state(status):
    """What the tool, whose /proc status is open as `status`, does with SIGINT: None while it keeps
    the default action, "held" from its first step (blocked or ignored), "caught" once armed."""
    masks = dict(line.split(b":\t") for line in os.pread(status, 4096, 0).splitlines()
                 if line.startswith(b"Sig"))
    bit = 1 << (signal.SIGINT - 1)
    if int(masks[b"SigCgt"], 16) & bit:
        return "caught"
    return "held" if (int(masks[b"SigBlk"], 16) | int(masks[b"SigIgn"], 16)) & bit else None


def early_sigint(f, binary, server, root):
    """A SIGINT in the first moment the tool owns it, before the stop is armed, or while the
    server is slow to answer, is kept: the run reports ready and stops right after, without a
    second SIGINT."""
    def check_stopped_at_ready(run, label):
        status = run.finish(timeout=10)
        check_final(f, run, status, label)
        f.check(run.kinds()[:1] == ["ready"], f"{label}: records {run.kinds()}")

    # That moment lasts about 0.1 ms, and the poll misses it about half the time.
    landed = attempts = 0
    while landed < 3 and attempts < 15:
        run = Run(binary, ["--output", os.path.join(root, f"early{attempts}.mov")], server.env)
        attempts += 1
        status = os.open(f"/proc/{run.process.pid}/status", os.O_RDONLY)
        deadline = time.monotonic() + 2
        with contextlib.suppress(ProcessLookupError):  # the tool ended: no SIGINT then
            while (state := sigint_state(status)) is None and time.monotonic() < deadline:
                pass
        os.close(status)
        run.process.send_signal(signal.SIGINT)
        landed += state == "held"
        check_stopped_at_ready(run, f"SIGINT with the tool's SIGINT {state}")
    f.check(landed > 0, f"none of {attempts} SIGINTs came before the stop was armed")
    run = Run(binary, ["--output", os.path.join(root, "slow-start.mov")],
              slow_server(server, root, 1.5))
    time.sleep(0.5)
    run.process.send_signal(signal.SIGINT)
    check_stopped_at_ready(run, "SIGINT while the server is slow")


def immediate_sigints(f, binary, server, root):
    """Fifty runs, five at a time: a SIGINT sent as soon as ready is read is never lost."""
    def sigint_at_ready(index):
        run = Run(binary, ["--output", os.path.join(root, f"instant{index}.mov"), "--microphone",
                           "off"], server.env)
        if run.wait_for("ready") is not None:
            run.process.send_signal(signal.SIGINT)
        return run.finish(timeout=10), run.kinds()

    with ThreadPoolExecutor(max_workers=5) as pool:
        outcomes = list(pool.map(sigint_at_ready, range(50)))
    bad = [(status, kinds) for status, kinds in outcomes
           if status != 0 or kinds.count("final") != 1 or kinds[-1] != "final"]
    f.check(not bad, f"{len(bad)} of 50 runs stopped at ready went wrong: {bad[:3]}")


def closed_pipe(f, binary, server, root):
    """A reader that closes the pipe costs the records, not the recording."""
    path = os.path.join(root, "closed.mov")
    process = subprocess.Popen([binary, "--output", path, "--microphone", "off"], env=server.env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    f.check(b"ready" in process.stdout.readline(), "no ready")
    ready = time.monotonic()
    process.stdout.close()
    time.sleep(2.5)  # two level records meet the closed pipe
    f.check(process.poll() is None, f"the tool ended with the pipe: status {process.poll()}")
    interrupted = time.monotonic()
    process.send_signal(signal.SIGINT)
    status = wait_or_kill(process, 20)
    f.check(status == 0, f"exit status {status} after the pipe was closed")
    f.check(process.stderr.read() == b"", "something on stderr")
    check_movie(f, path, interrupted - ready, SYSTEM_RMS)


def parent_exits(f, binary, server, root):
    """A parent that ends while the tool starts or records, or with pidfd_open refused: the tool
    stops as on SIGINT."""
    for when in ("starting", "recording"):
        check_parent_exit(f, binary, server, root, when)
    try:
        subprocess.run(["true"], preexec_fn=REFUSE_PIDFD_OPEN, check=True)
    except (OSError, subprocess.SubprocessError) as error:
        print(f"SKIP pidfd_open refused: this machine forbids seccomp filters ({error})")
        return
    check_parent_exit(f, binary, server, root, "refused", REFUSE_PIDFD_OPEN)


def check_parent_exit(f, binary, server, root, when, preexec_fn=None):
    """The tool's parent ends while it starts ("starting") or else 2 s after ready."""
    become_subreaper()
    path = os.path.join(root, f"orphan-{when}.mov")
    records = os.path.join(root, f"orphan-{when}.jsonl")
    intermediate = subprocess.Popen(
        [sys.executable, "-c",
         "import subprocess, sys\n"
         "tool = subprocess.Popen(sys.argv[1:-1], stdout=open(sys.argv[-1], 'w'))\n"
         "print(tool.pid, flush=True)\n"
         "sys.stdin.read()\n",
         binary, "--output", path, "--microphone", "off", records],
        env=server.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
        preexec_fn=preexec_fn)
    pid = int(intermediate.stdout.readline())
    if when == "starting":
        time.sleep(0.2)  # past the tool's first steps, short of ready
    else:
        wait_until(lambda: "ready" in open(records).read(), 20, 0.05)
        time.sleep(2)
        f.check("final" not in open(records).read(), f"stopped before its parent ended ({when})")
    intermediate.stdin.close()  # the intermediate parent ends here
    intermediate.wait()
    status = wait_reaped(pid, 20)
    if status is None:
        os.kill(pid, signal.SIGKILL)
        wait_reaped(pid, 5)
    with open(records) as lines:
        kinds = [json.loads(line).get("event") for line in lines]
    f.check(status == 0 and kinds[:1] == ["ready"] and kinds[-1:] == ["final"],
            f"parent gone while {when}: status {status}, records {kinds}")
    # Closed with the index of its fragments, as a stop on SIGINT closes it.
    f.check(top_level_boxes(path)[-1:] == ["mfra"], f"parent gone while {when}: no whole movie")


def pid_namespace_init(f, binary, server, root):
    """Process 1 of a PID namespace has no parent to watch: it records until SIGINT."""
    unshare = ["unshare", "--pid", "--fork"] + (["--map-root-user"] if os.getuid() else [])
    if subprocess.run(unshare + ["true"], capture_output=True).returncode != 0:
        print("SKIP pid namespace init: this machine forbids new PID namespaces")
        return
    # unshare ignores SIGINT while it waits for its child, so the group's signal reaches the tool.
    run = Run(unshare[0], unshare[1:] + [binary, "--output", os.path.join(root, "init.mov"),
                                         "--microphone", "off"],
              server.env, start_new_session=True)
    check_recording(f, run, 1.5, "process 1 of a PID namespace")
    os.killpg(run.process.pid, signal.SIGINT)
    check_final(f, run, run.finish(), "process 1 of a PID namespace")


def worker_thread_parent(f, binary, server, root):
    """Spawned, with SIGINT blocked, from a parent's worker thread that then ends, as from a
    parent's thread that blocks it: recording goes on, and SIGINT still stops it."""
    runs = []
    worker = threading.Thread(target=lambda: runs.append(Run(
        binary, ["--output", os.path.join(root, "thread.mov"), "--microphone", "off"],
        server.env,
        preexec_fn=lambda: signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT}))))
    worker.start()
    worker.join()
    run = runs[0]
    check_recording(f, run, 2, "worker-thread parent")
    check_final(f, run, interrupt(run), "worker-thread parent, SIGINT blocked at spawn")


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


def parent_not_reading(f, binary, server, root):
    """A 4-KiB pipe nobody reads for 60 s: memory stays flat, then every record arrives in
    order and the final one counts what came after the last level."""
    process = subprocess.Popen(
        [binary, "--output", os.path.join(root, "unread.mov"), "--microphone", "off"],
        env=server.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    fcntl.fcntl(process.stdout.fileno(), fcntl.F_SETPIPE_SZ, 4096)
    spawned = time.monotonic()
    time.sleep(10)
    settled = rss_kib(process.pid)
    time.sleep(50)  # the pipe is full after about 25 records
    grown = rss_kib(process.pid) - settled
    process.send_signal(signal.SIGINT)
    interrupted = time.monotonic()
    output, _ = process.communicate(timeout=30)
    # A sanitizer's allocator holds on to freed memory, so the bound is the release build's.
    f.check(grown < 2048 or sanitized(binary),
            f"RSS grew by {grown} KiB while nobody read")
    events = [json.loads(line) for line in output.decode().splitlines()]
    kinds = [event["event"] for event in events]
    levels = kinds.count("level")
    f.check(process.returncode == 0, f"status {process.returncode}")
    f.check(kinds == ["ready"] + ["level"] * levels + ["final"],
            f"records out of order: {kinds[:3]} ... {kinds[-3:]}")
    f.check(55 <= levels <= 61, f"{levels} level records in 60 s")
    final = events[-1]
    f.check(0 < final["systemSamples"] <= 1.2 * SAMPLES_PER_SECOND, f"final {final}")
    counted = sum(event.get("systemSamples", 0) for event in events) / SAMPLES_PER_SECOND
    recorded = interrupted - spawned
    f.check(recorded - 2 < counted <= recorded, f"{counted:.1f} s counted in {recorded:.1f} s")


def quiet_libraries(f, binary, server, root):
    """No home folder and libraries asked to talk: nothing on stderr, only records on stdout."""
    not_a_folder = os.path.join(root, "not-a-folder")
    open(not_a_folder, "w").close()
    talkative = dict(server.env, HOME=os.path.join(not_a_folder, "home"), GST_DEBUG="3",
                     G_MESSAGES_DEBUG="all", PULSE_LOG="4")
    talkative.pop("XDG_CONFIG_HOME", None)
    talkative.pop("XDG_CACHE_HOME", None)
    check_probe(f, binary, talkative)
    run = Run(binary, ["--output", os.path.join(root, "quiet.mov")], talkative)
    check_recording(f, run, 1, "recording without a home")
    check_final(f, run, interrupt(run), "recording without a home")


def few_descriptors(f, binary, server, root):
    """A low RLIMIT_NOFILE (with 5, not even the main queue can be made): a record, no crash."""
    recording = ["--output", os.path.join(root, "scarce.mov")]
    for limit, arguments, stage in ((8, ["--probe"], "probe"), (8, recording, "start"),
                                    (5, ["--probe"], "probe"), (5, recording, "start")):
        f.group = f"few descriptors: {limit} for {stage}"
        run = Run("prlimit", [f"--nofile={limit}", binary] + arguments, server.env)
        check_error(f, run, run.finish(), stage, "TessaloquinAudioCapture.Linux", 11)


def small_address_space(f, binary, server, root):
    """An RLIMIT_AS too small for a recording is refused with a record, where the sound
    libraries would abort or blame the server; one with room records."""
    if sanitized(binary):
        print("SKIP small address space: a sanitizer's shadow memory needs an unlimited one")
        return
    recording = ["--output", os.path.join(root, "limited.mov"), "--microphone", "off"]
    for arguments, stage in ((["--probe"], "probe"), (recording, "start")):
        f.group = f"1 GiB of address space for the {stage}"
        run = Run("prlimit", [f"--as={1 << 30}", binary] + arguments, server.env)
        check_error(f, run, run.finish(), stage, "TessaloquinAudioCapture", 9)
    f.group = "2 GiB of address space"
    run = Run("prlimit", [f"--as={2 << 30}", binary] + recording, server.env)
    check_recording(f, run, 1, "recording in 2 GiB")
    check_final(f, run, interrupt(run), "recording in 2 GiB")


def module_from_another_build(f, binary, server, root):
    """A media module beside the tool that another build left there: refused with a record, where
    its first call would crash."""
    # Its entry hands back an object without the executable's functions behind it.
    entry = 'extern "C" void* tessaloquinMakeMediaServices() { static void* o[4] = {}; return o; }'
    for digest, arguments, stage in ((None, ["--output", os.path.join(root, "stale.mov")], "start"),
                                     ("0" * 64, ["--probe"], "probe")):
        f.group = f"a module from another build, digest {digest}"
        folder = os.path.join(root, f"another-build-{stage}")
        os.mkdir(folder)
        source = os.path.join(folder, "module.cpp")
        with open(source, "w") as out:
            out.write(entry + "\n")
            if digest:
                out.write(f'extern "C" const char tessaloquinMediaInterface[] = "{digest}";\n')
        module = os.path.join(folder, "tessaloquin-audio-capture-media.so")
        subprocess.run(["c++", "-shared", "-fPIC", "-o", module, source], check=True)
        tool = shutil.copy(binary, folder)
        run = Run(tool, arguments, server.env)
        check_error(f, run, run.finish(), stage, "TessaloquinAudioCapture.Linux", 12)


def parent_never_reading(f, binary, server, root):
    """A parent that never reads, or reads only once the tool has exited (it waits for the exit
    first, as a naive subprocess call does): the tool still exits after the stop, 5 s after the
    last record the parent took, with a complete movie, where it used to wait for ever."""
    read_end, write_end = os.pipe()
    fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, 4096)
    os.set_blocking(write_end, False)
    with contextlib.suppress(BlockingIOError):
        while True:
            os.write(write_end, b"\n" * 4096)
    os.set_blocking(write_end, True)
    path = os.path.join(root, "never-read.mov")
    try:
        process = subprocess.Popen([binary, "--output", path, "--microphone", "off"],
                                   env=server.env, stdout=write_end)
        spawned = time.monotonic()
        os.close(write_end)
        time.sleep(3)
        process.send_signal(signal.SIGINT)
        interrupted = time.monotonic()
        status = wait_or_kill(process, 15)
        took = time.monotonic() - interrupted
        f.check(status == 0 and 4.5 < took < 8, f"status {status} {took:.1f} s after SIGINT")
        check_movie(f, path, interrupted - spawned - 0.2, SYSTEM_RMS)
    finally:
        os.close(read_end)


if __name__ == "__main__":
    run_suite("process_e2e", (early_sigint, immediate_sigints, closed_pipe, parent_exits,
                              pid_namespace_init, worker_thread_parent, quiet_libraries,
                              few_descriptors, small_address_space, module_from_another_build,
                              parent_not_reading, parent_never_reading))
