#!/usr/bin/env python3
"""End-to-end checks of the output file: who may write it, where, and what a kill or a
silent server leaves.

Usage: output_e2e.py PATH-TO-tessaloquin-audio-capture
"""

import contextlib
import ctypes
import errno
import fcntl
import json
import math
import os
import platform
import re
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time

from e2e_support import (END_SLACK, MIXED_RMS, SAMPLES_PER_SECOND, SYSTEM_RMS, WAV_HEADER, Run,
                         boxes, check_error, check_final, check_movie, check_stop_error,
                         decoded_audio, in_own_mount_namespace, interrupt, near, off_windows,
                         probe_streams, record, recording, refuse_system_call, relayed_env,
                         run_suite, sanitized, stereo, streams, top_level_boxes, window_levels)

# A kill loses the fragment being written (up to 0.2 s) and what the encoders still hold;
# measured 0.1-0.3 s, with room for a busy machine and a sanitizer build.
KILL_LOSS = 1.0
VIDEO_FRAMES_PER_SECOND = 10
# Writes that stall this long, with the pipe's buffer cut to a page, fill every buffer before
# the muxer's: measured, a 0.3-s hole with a one-second queue before the muxer, and 1.4 s with
# neither that queue nor the muxer's slack.
OUTPUT_STALL = 2.5
# A write that has not returned for this long is told to the parent; the longer stall is told.
WRITE_STALL_LIMIT = 5
TOLD_OUTPUT_STALL = 8
# What a stop may take to drain before it gives up with an error.
DRAIN_DEADLINE = 10


CONTROL_CHANNEL = 0xFFFFFFFF
CREATE_RECORD_STREAM = 5


def stalling_proxy(server_socket, path):
    """Listens at `path` in front of the sound server and relays everything until a client asks
    for a record stream, then holds that connection open and silent: a server that accepted and
    never answers. A byte relay cannot pass descriptors: clients must not use shared memory."""
    listener = socket.socket(socket.AF_UNIX)
    listener.bind(path)
    listener.listen(8)
    held = []

    def requests(client, upstream):
        with contextlib.suppress(OSError, struct.error):  # struct.error: the client left
            while descriptor := client.recv(20, socket.MSG_WAITALL):
                length, channel = struct.unpack(">II", descriptor[:8])
                payload = client.recv(length, socket.MSG_WAITALL)
                if (channel == CONTROL_CHANNEL and payload[:1] == b"L"
                        and struct.unpack(">I", payload[1:5])[0] == CREATE_RECORD_STREAM):
                    return
                upstream.sendall(descriptor + payload)

    def replies(upstream, client):
        with contextlib.suppress(OSError):
            while data := upstream.recv(65536):
                client.sendall(data)

    def accept():
        while True:
            client, _ = listener.accept()
            upstream = socket.socket(socket.AF_UNIX)
            upstream.connect(server_socket)
            held.extend((client, upstream))
            threading.Thread(target=requests, args=(client, upstream), daemon=True).start()
            threading.Thread(target=replies, args=(upstream, client), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()


def two_recorders(f, binary, server, root):
    path = os.path.join(root, "shared.mov")
    first = recording(f, binary, server, path)
    time.sleep(1.5)
    size = os.path.getsize(path)
    second = Run(binary, ["--output", path], server.env)
    check_error(f, second, second.finish(), "start", "TessaloquinAudioCapture", 5)
    f.check(os.path.getsize(path) >= size, f"the first recorder's file shrank from {size} bytes")
    time.sleep(1.0)
    span = time.monotonic() - first.ready
    check_final(f, first, interrupt(first), "the first recorder")
    check_movie(f, path, span, MIXED_RMS)

    f.group = "two recorders on /dev/null"
    runs = [Run(binary, ["--output", os.devnull, "--microphone", "off"], server.env)
            for _ in range(2)]
    f.check(all(run.wait_for("ready") is not None for run in runs), "not both ready")
    for run in runs:
        check_final(f, run, interrupt(run), "on /dev/null")


def file_system_without_locks(f, binary, server, root):
    """flock failing with ENOLCK, as on NFS without its lock service: the movie is recorded,
    since the lock only keeps a second recorder out."""
    flock = {"x86_64": 73, "aarch64": 32}.get(platform.machine())
    if flock is None:
        print(f"SKIP file system without locks: flock's number on {platform.machine()}")
        return
    path = os.path.join(root, "unlocked.mov")
    run = Run(binary, ["--output", path], server.env,
              preexec_fn=refuse_system_call(flock, errno.ENOLCK))
    ready = run.wait_for("ready")
    if not f.check(ready is not None, f"no ready: {run.events}"):
        run.finish()
        return
    time.sleep(1.5)
    span = time.monotonic() - ready
    check_final(f, run, interrupt(run), "without locks")
    check_movie(f, path, span, MIXED_RMS)


def fifo_without_reader(f, binary, server, root):
    path = os.path.join(root, "fifo")
    os.mkfifo(path)
    run = Run(binary, ["--output", path], server.env)
    check_error(f, run, run.finish(timeout=15), "start", "gst-resource-error-quark", 6, within=12)


def stalled_output(f, binary, server, root):
    """A reader that stops for a moment, and for longer: the movie loses nothing either way, and
    the parent hears of the longer stop only, and of its end."""
    for stall in (OUTPUT_STALL, TOLD_OUTPUT_STALL):
        f.group = f"output stalled for {stall} s"
        fifo = os.path.join(root, f"stalling-output-{stall}")
        os.mkfifo(fifo)
        reading = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        os.set_blocking(reading, True)
        fcntl.fcntl(reading, fcntl.F_SETPIPE_SZ, 4096)
        copy = os.path.join(root, f"stalled-{stall}.mov")

        def drain():  # reads everything, but stops for `stall` seconds 1 s in
            with os.fdopen(reading, "rb", buffering=0) as source, open(copy, "wb") as target:
                while not (chunk := source.read(4096)):  # the tool has not opened its end yet
                    time.sleep(0.01)
                stall_at = time.monotonic() + 1
                while chunk:
                    target.write(chunk)
                    if time.monotonic() > stall_at:
                        time.sleep(stall)
                        stall_at = math.inf
                    chunk = source.read(4096)

        reader = threading.Thread(target=drain, daemon=True)
        reader.start()
        run, status, span = record(binary, server.env, fifo, stall + 3.5)
        reader.join(10)
        check_final(f, run, status, "through a stalling pipe")
        check_audio_kept(f, copy, span, 0.3)
        told = run.of_kind("warning")
        if stall < WRITE_STALL_LIMIT:
            f.check(not told, f"warnings {told}")
        else:
            f.check([warning["code"] for warning in told] == ["recording_stalled",
                                                              "recording_resumed"]
                    and near(told[-1]["gapSeconds"], stall, 1.5 / stall), f"warnings {told}")


def reader_that_never_reads(f, binary, server, root):
    fifo = os.path.join(root, "unread-output")
    os.mkfifo(fifo)
    reading = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)  # opened, never read
    fcntl.fcntl(reading, fcntl.F_SETPIPE_SZ, 4096)
    run = recording(f, binary, server, fifo, ["--microphone", "off"])
    # The pipe is full at once, and the movie's writer waits on it for good.
    stalled = run.wait_for("warning", WRITE_STALL_LIMIT + 4, code="recording_stalled")
    f.check(stalled is not None and stalled - run.ready < WRITE_STALL_LIMIT + 2.5,
            f"no recording_stalled {WRITE_STALL_LIMIT + 2.5} s after ready: {run.kinds()}")
    status = interrupt(run, DRAIN_DEADLINE + 3)
    os.close(reading)
    check_stop_error(f, run, status, domain="TessaloquinAudioCapture.Linux", errorCode=5)


def deleted_working_folder(f, binary, server, root):
    folder = os.path.join(root, "gone")
    name = f"tessaloquin-e2e-{os.getpid()}.mov"
    # The shell enters the folder, removes it and becomes the tool.
    shell = ["-c", 'cd "$1" && rmdir "$1" && shift && exec "$@"', "sh", folder, binary]
    os.mkdir(folder)
    run = Run("/bin/sh", shell + ["--output", name], server.env)
    check_error(f, run, run.finish(), "start", "TessaloquinAudioCapture", 6)
    if not f.check(not os.path.exists("/" + name), "the movie was written to /"):
        os.remove("/" + name)

    os.mkdir(folder)
    path = os.path.join(root, "absolute.mov")
    run = Run("/bin/sh", shell + ["--output", path], server.env)
    f.check(run.wait_for("ready") is not None, f"absolute path: no ready, {run.kinds()}")
    time.sleep(1.5)
    status = interrupt(run)
    f.check(status == 0 and probe_streams(path) is not None, f"absolute path: status {status}")


def output_is_standard_output(f, binary, server, root):
    """Standard output redirected to the movie's path: refused, and the record is kept whole."""
    path = os.path.join(root, "records-and-movie.mov")
    with open(path, "w") as records:
        status = subprocess.run([binary, "--output", path], stdout=records, env=server.env,
                                timeout=20).returncode
    with open(path, "rb") as written:
        lines = written.read().splitlines()
    f.check(status == 1 and len(lines) == 1 and json.loads(lines[0]).get("errorCode") == 11,
            f"status {status}, {lines[:3]}")


def outputs_sharing_a_file(f, binary, server, root):
    """A per-source stream whose path is the movie's: refused, and an earlier file there kept,
    rather than a movie with the stream's audio written into it."""
    path = os.path.join(root, "shared.mov")
    with open(path, "w") as earlier:
        earlier.write("earlier\n")
    run = Run(binary, ["--output", path, "--system-pcm", path], server.env)
    check_error(f, run, run.finish(), "start", "TessaloquinAudioCapture", 13)
    with open(path) as kept:
        f.check(kept.read() == "earlier\n", "the earlier file was overwritten")


def movie_gone_while_recording(f, binary, server, root):
    """A movie renamed away is told at once, and its return too, and the stop then keeps it; one
    deleted is told at once, rather than at the stop of a recording that was lost long before, and
    the stop fails."""
    path = os.path.join(root, "moved.mov")
    run = recording(f, binary, server, path, ["--microphone", "off"])
    time.sleep(1)
    moved = time.monotonic()
    os.rename(path, path + ".away")
    told = run.wait_for("warning", timeout=10, code="movie_gone")
    f.check(told is not None and told - moved < 3, f"renamed away: told {told and told - moved} s"
            " after")
    back = time.monotonic()
    os.rename(path + ".away", path)
    told = run.wait_for("warning", timeout=10, code="movie_returned")
    f.check(told is not None and told - back < 3, f"renamed back: told {told and told - back} s"
            " after")
    interrupted = time.monotonic()
    check_final(f, run, interrupt(run), "renamed away and back")
    check_movie(f, path, interrupted - run.ready, SYSTEM_RMS)

    path = os.path.join(root, "deleted.mov")
    run = recording(f, binary, server, path, ["--microphone", "off"])
    time.sleep(1)
    deleted = time.monotonic()
    os.remove(path)
    told = run.wait_for("warning", timeout=10, code="movie_gone")
    f.check(told is not None and told - deleted < 3, f"deleted: told {told and told - deleted} s"
            " after")
    check_stop_error(f, run, interrupt(run), domain="TessaloquinAudioCapture", errorCode=10)
    f.check(run.kinds().count("warning") == 1, f"deleted: warnings {run.of_kind('warning')}")


def pages_not_on_storage(path):
    """How many pages of the file the system still holds unwritten (dirty or being written), by
    cachestat(2); None on a kernel without it (before Linux 6.5)."""
    class Range(ctypes.Structure):
        _fields_ = [("offset", ctypes.c_uint64), ("length", ctypes.c_uint64)]

    class Stat(ctypes.Structure):
        _fields_ = [(name, ctypes.c_uint64)
                    for name in ("cache", "dirty", "writeback", "evicted", "recently_evicted")]

    whole, counts = Range(0, 0), Stat()
    descriptor = os.open(path, os.O_RDONLY)
    try:
        if ctypes.CDLL(None, use_errno=True).syscall(451, descriptor, ctypes.byref(whole),
                                                      ctypes.byref(counts), 0) != 0:
            return None
    finally:
        os.close(descriptor)
    return counts.dirty + counts.writeback


def movie_on_storage_at_final(f, binary, server, root):
    """While recording, the system holds only the movie's last few seconds back from the disk, and
    when "final" comes, none of it or of a source's own file: a machine that stops keeps them up
    to then, and a write that failed has been told.
    On an ext4 disk of its own that leaves the writing to the system's schedule (which holds
    writes back for 30 s): tmpfs keeps all in memory, and ext4 by default begins writing a file
    that was emptied when it is closed."""
    image, disk = os.path.join(root, "disk.img"), os.path.join(root, "disk")
    os.mkdir(disk)
    mounted = subprocess.run(["mkfs.ext4", "-q", image, "16M"], capture_output=True).returncode == 0
    mounted = mounted and subprocess.run(["mount", "-o", "loop,noauto_da_alloc", image, disk],
                                         capture_output=True).returncode == 0
    if not mounted:
        print("movie on storage at final: no disk of its own here, recorded in /var/tmp")
        disk = tempfile.mkdtemp(dir="/var/tmp")
    try:
        path = os.path.join(disk, "kept.mov")
        run = recording(f, binary, server, path, ["--system-pcm", path + ".wav"])
        readings = []  # (seconds after ready, the movie's size, its pages not on the disk)
        while time.monotonic() - run.ready < 16:
            time.sleep(0.25)
            readings.append((time.monotonic() - run.ready, os.path.getsize(path),
                             pages_not_on_storage(path)))
        run.process.send_signal(signal.SIGINT)
        final = run.wait_for("final")
        unwritten = pages_not_on_storage(path) if final else None
        source_unwritten = pages_not_on_storage(path + ".wav") if final else None
        check_final(f, run, run.finish(), "kept")
        os.remove(path + ".wav")  # room for the runs below
        if final and unwritten is None:
            print("movie on storage: not checked, the kernel has no cachestat(2)")
            return
        f.check(not unwritten, f"{unwritten} pages of the movie not yet on the disk at final")
        f.check(not source_unwritten,
                f"{source_unwritten} pages of the system's own file not yet on the disk at final")
        # Flushed every 6 s: what is held back at any time grew in the last 8 s at most.
        held_too_long = [
            (round(at, 1), held, grown) for at, size, held in readings if at >= 9
            for grown in [size - max(earlier for then, earlier, _ in readings if then <= at - 8)]
            if held > grown // 4096 + 2]
        f.check(not held_too_long, "pages held back longer than 8 s (seconds after ready, pages,"
                f" bytes grown in 8 s): {held_too_long[:4]}")
        # A file system that tells of a failed write only when asked to flush it (NFS, sshfs):
        # told within seconds, and the stop fails rather than saying the movie is complete.
        f.group = "a write error told at the flush"
        fsync = {"x86_64": 74, "aarch64": 82}.get(platform.machine())
        if fsync is None:
            print(f"SKIP a write error told at the flush: fsync's number on {platform.machine()}")
            return
        # A source's own file is held to it as well, while recording and at the stop.
        for seconds in (10, 1):
            path = os.path.join(disk, f"unflushed-{seconds}.mov")
            run = Run(binary, ["--output", path, "--system-pcm", path + ".wav"], server.env,
                      preexec_fn=refuse_system_call(fsync, errno.EIO))
            ready = run.wait_for("ready")
            told = {code: run.wait_for("warning", timeout=seconds, code=code)
                    for code in ("recording_failed", "pcm_write_failed")}
            late = {code: at and round(at - ready, 1) for code, at in told.items()}
            f.check(ready and (all(at and at - ready < 8 for at in told.values()) if seconds > 1
                               else not any(told.values())),
                    f"recorded {seconds} s, told {late} s after ready")
            status = interrupt(run)
            failed = [warning for warning in run.of_kind("warning")
                      if warning.get("code") == "pcm_write_failed"]
            f.check(failed == [{"event": "warning", "code": "pcm_write_failed", "source": "system"}],
                    f"recorded {seconds} s: warnings {run.of_kind('warning')}")
            check_stop_error(f, run, status, domain="TessaloquinAudioCapture", errorCode=15)
        # A WAV whose sizes were never rewritten reads as empty: told before final.
        f.group = "a WAV header that cannot be rewritten"
        pwrite = {"x86_64": 18, "aarch64": 68}[platform.machine()]
        path = os.path.join(disk, "unsized.mov")
        run = Run(binary, ["--output", path, "--system-pcm", path + ".wav"], server.env,
                  preexec_fn=refuse_system_call(pwrite, errno.EIO))
        f.check(run.wait_for("ready"), f"no ready: {run.kinds()}")
        time.sleep(1)
        check_final(f, run, interrupt(run), "unsized")
        f.check([warning for warning in run.of_kind("warning") if warning["code"] != "disk_low"]
                == [{"event": "warning", "code": "pcm_write_failed", "source": "system"}],
                f"warnings {run.of_kind('warning')}")
    finally:
        if mounted:
            subprocess.run(["umount", "-l", disk], capture_output=True)
        else:
            shutil.rmtree(disk, ignore_errors=True)


def file_size_limit(f, binary, server, root):
    """Past RLIMIT_FSIZE writes fail like on a full disk: the stop reports it, no SIGXFSZ."""
    run = Run("prlimit", ["--fsize=20000", binary, "--output", os.path.join(root, "limited.mov")],
              server.env)
    if run.wait_for("ready") is not None:
        time.sleep(2)
    check_stop_error(f, run, interrupt(run), domain="gst-resource-error-quark")


def server_silent_while_the_sources_open(f, binary, server, root):
    proxy = os.path.join(root, "stalling")
    stalling_proxy(server.socket, proxy)
    run = Run(binary, ["--output", os.path.join(root, "stalled.mov"), "--microphone", "off"],
              relayed_env(server, proxy))
    check_error(f, run, run.finish(), "start", "TessaloquinAudioCapture.Linux", 4, within=14)


def killed(f, binary, server, root):
    """SIGKILL 1 s and 6 s after ready: the movie keeps all but the last moments, and each
    source's WAV (of the 6-s run) reads as long as the recording went."""
    for seconds, wavs in ((1, ()), (6, ("system", "microphone"))):
        f.group = f"killed {seconds} s after ready"
        path = os.path.join(root, f"killed-{seconds}.mov")
        pcm = {source: os.path.join(root, f"killed-{source}.wav") for source in wavs}
        run = recording(f, binary, server, path,
                        [word for source, wav in pcm.items() for word in (f"--{source}-pcm", wav)])
        time.sleep(seconds - (time.monotonic() - run.ready))
        run.process.send_signal(signal.SIGKILL)
        span = time.monotonic() - run.ready
        run.finish()
        f.check(run.stderr == "", f"standard error is not empty: {run.stderr!r}")
        for source, wav in pcm.items():
            # The samples there, and those the header says are there: a reader may trust either.
            with open(wav, "rb") as written:
                data = written.read()
            there = (len(data) - WAV_HEADER) / 8 / 48000
            said = struct.unpack("<I", data[WAV_HEADER - 4:WAV_HEADER])[0] / 8 / 48000
            f.check(probe_streams(wav) is not None and abs(there - span) <= 1.1
                    and abs(said - span) <= 1.1,
                    f"{source} WAV: {there:.2f} s, {said:.2f} s in its header, of {span:.2f} s")
        # The first second is mostly the onset, where one source may still be starting.
        kept = check_audio_kept(f, path, span, KILL_LOSS, levels_too=seconds > 1)
        if seconds > 1:
            check_video_decodes(f, path, kept)


def check_audio_kept(f, path, span, loss, levels_too=True):
    """The movie's audio lasts `span` s less `loss` at most, at the mix's level in every window;
    returns its length."""
    samples = decoded_audio(path)
    kept = len(samples) / SAMPLES_PER_SECOND
    f.check(kept >= span - loss, f"{kept:.2f} s of audio kept of {span:.2f} s")
    bad = off_windows(window_levels(samples), MIXED_RMS) if levels_too else []
    f.check(not bad, f"{len(bad)} windows off: {bad[:8]}")
    return kept


def check_video_decodes(f, path, seconds):
    """The video decodes to its end with no frame missing: each predicted frame follows its
    predecessor's frame number."""
    decoded = subprocess.run(["ffmpeg", "-v", "debug", "-i", path, "-map", "0:v", "-f", "null",
                              "-"], capture_output=True, text=True).stderr
    counts = re.search(r"(\d+) frames successfully decoded, (\d+) decoding errors", decoded)
    f.check(counts and counts[2] == "0" and "Frame num gap" not in decoded
            and int(counts[1]) >= (seconds - 0.5) * VIDEO_FRAMES_PER_SECOND,
            f"video: {counts and counts[0]} for {seconds:.2f} s, "
            f"{decoded.count('Frame num gap')} frame-number gaps")


def closing_index_entries(path):
    """Entries of the closing index (mfra) per track id: one per fragment of a track without
    sync marks (audio), one per sync sample of a track with them (video)."""
    with open(path, "rb") as movie:
        data = movie.read()
    start = len(data) - struct.unpack(">I", data[-4:])[0]  # mfro: the size of the mfra
    if data[start + 4:start + 8] != b"mfra":
        return {}
    indexes = (struct.unpack(">III", data[at + 12:at + 24])
               for kind, at in boxes(data, start + 8) if kind == "tfra")
    return {track: count for track, _, count in indexes}


def silent_stretches(levels):
    """(first, last) window of every run of windows below a tenth of the mix."""
    stretches = []
    for index, level in levels:
        if level < MIXED_RMS / 10:
            if stretches and stretches[-1][1] == index - 1:
                stretches[-1][1] = index
            else:
                stretches.append([index, index])
    return stretches


def tool_stopped(f, binary, server, root):
    """SIGSTOP while the server holds what comes meanwhile (3 s) and past it, and past what a
    source's stream queues (20 s): the backlog is in the movie and in each source's stream where
    it belongs, what was lost is one silent stretch, the same in both streams, the movie lasts as
    long as the recording, and the missed level records do not come in a burst."""
    for stopped in (3, 20):
        lost = server.lost_when_unread(stopped)
        f.group = f"stopped for {stopped} s"
        path = os.path.join(root, f"stopped-{stopped}.mov")
        pcm = {source: f"{path}.{source}.f32" for source in ("system", "microphone")}
        run = recording(f, binary, server, path,
                        ["--system-pcm", pcm["system"], "--microphone-pcm", pcm["microphone"]])
        # Half-way between two level ticks: a tick written just before the stop would otherwise
        # reach the parent with the one after it.
        time.sleep(1.5)
        run.process.send_signal(signal.SIGSTOP)
        time.sleep(stopped)
        run.process.send_signal(signal.SIGCONT)
        resumed = time.monotonic()
        time.sleep(2)
        span = time.monotonic() - run.ready
        check_final(f, run, interrupt(run), f"stopped for {stopped} s")
        # A tool that stood still has not lost its server, and tells at once what the server
        # dropped meanwhile, once for each source: a sanitizer build, which catches up while the
        # server still drops, may tell a source's drop in parts.
        told = run.arrivals("warning")
        dropped = {}
        for warning in run.of_kind("warning"):
            if warning.get("code") == "audio_dropped":
                source = warning.get("source")
                dropped[source] = dropped.get(source, 0) + warning.get("droppedSeconds", 0)
        f.check(sorted(dropped) == (["microphone", "system"] if lost else [])
                and len(told) == len(run.arrivals("warning", code="audio_dropped"))
                and (len(told) == len(dropped) or sanitized(binary))
                and all(abs(seconds - lost) < 1.5 for seconds in dropped.values())
                and all(at - resumed < 1.5 for at in told),
                f"warnings {run.of_kind('warning')} {[round(at - resumed, 2) for at in told]} s "
                f"after the tool ran again, expected one audio_dropped of about {lost} s a source")
        # The level ticks missed meanwhile come as one, then one a second again: half a second
        # apart at least, less what reading the pipe may add to one arrival.
        arrivals = run.arrivals("level")
        apart = [round(b - a, 3) for a, b in zip(arrivals, arrivals[1:])]
        f.check(apart and min(apart) > 0.4, f"level records apart by {apart} s")
        samples = decoded_audio(path)
        kept = len(samples) / SAMPLES_PER_SECOND
        f.check(span - 0.5 < kept < span + END_SLACK + 0.2,
                f"{kept:.2f} s of audio for {span:.2f} s recorded")
        levels = window_levels(samples)
        gaps = silent_stretches(levels)
        if lost and sanitized(binary):
            # Several times slower, it catches up on the backlog while the server still drops,
            # so where the loss falls is the release build's to show.
            f.check(gaps, "no silent stretch where the server dropped audio")
            continue
        if lost:
            f.check(len(gaps) == 1 and abs((gaps[0][1] + 1 - gaps[0][0]) / 10 - lost) < 1.5,
                    f"silent stretches {gaps}, expected one of about {lost} s")
        # Each source finds its own loss, when the server answers it: within a second of the
        # gap, a window may hold one source.
        near_gap = {index for first, last in gaps[:1] if lost
                    for index in range(first - 10, last + 11)}
        bad = [window for window in off_windows(levels, MIXED_RMS) if window[0] not in near_gap]
        f.check(not bad, f"{len(bad)} windows off: {bad[:8]}")
        # Both sources catch up at once: neither stream may be filled meanwhile, overrun, or
        # take its backlog before its loss while the other takes it after.
        system, microphone = (silent_stretches(window_levels(stereo(pcm[source])))
                              for source in ("system", "microphone"))
        aligned = len(system) == len(microphone) and all(
            abs(a - b) <= 2 for ours, theirs in zip(system, microphone)
            for a, b in zip(ours, theirs))
        f.check(aligned and len(system) == (1 if lost else 0)
                and all(abs((last + 1 - first) / 10 - lost) < 1.5 for first, last in system),
                f"silent stretches of the streams: system {system}, microphone {microphone}, "
                f"expected {'one of about ' + str(lost) + ' s' if lost else 'none'}")


def movie_ends_with_its_audio(f, binary, server, root):
    """Stopped before its first fragment is full; longer movies are held to it by check_movie.
    Over an earlier, longer file, which the movie replaces whole."""
    path = os.path.join(root, "short.mov")
    with open(path, "wb") as earlier:
        earlier.write(b"earlier " * 200000)
    run, status, span = record(binary, server.env, path, 0.3)
    f.check(status == 0, f"status {status}, {run.kinds()}")
    f.check(top_level_boxes(path)[-1:] == ["mfra"], "the earlier file's bytes follow the movie")
    # Not its levels: 0.3 s is mostly the onset, where one source may still be starting.
    video = streams(check_movie(f, path, span, None), "video")
    # The video's sync samples, which a player seeks to and the muxer keeps an entry for in
    # memory for as long as the recording lasts, are its intra frames alone: here the first.
    sync = closing_index_entries(path).get(int(video[0]["id"], 16)) if video else None
    f.check(sync == 1, f"{sync} sync samples in the video's index for 0.3 s")


if __name__ == "__main__":
    in_own_mount_namespace()
    run_suite("output e2e", (two_recorders, file_system_without_locks, fifo_without_reader,
                             stalled_output, reader_that_never_reads, deleted_working_folder,
                             output_is_standard_output, outputs_sharing_a_file,
                             file_size_limit, movie_gone_while_recording, movie_on_storage_at_final,
                             killed, tool_stopped, movie_ends_with_its_audio,
                             server_silent_while_the_sources_open))
