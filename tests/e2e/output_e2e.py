#!/usr/bin/env python3
"""End-to-end checks of the output file: who may write it, where, and what a crash leaves.

Usage: output_e2e.py PATH-TO-tessaloquin-audio-capture

Against the private sound server of e2e_support: two recorders on one file, a FIFO without a
reader, a relative path from a deleted working folder, a server that stops answering while the
start opens the sources, movies killed 1 s and 6 s after "ready", and a movie that must end with
its audio.
"""

import os
import shutil
import signal
import socket
import struct
import sys
import tempfile
import threading
import time

from e2e_support import (MIXED_RMS, SAMPLES_PER_SECOND, Failures, Run, SoundServer,
                         check_movie, decoded_audio, near, probe_streams, record, report,
                         require_tools, window_levels)

# A kill loses the fragment being written (0.1 s) and what the encoders still hold; measured
# 0.04-0.15 s, with room for a busy machine and a sanitizer build.
KILL_LOSS = 1.0
# The last video frame may run past the audio by one frame interval at most.
END_SLACK = 0.1


class StallingProxy:
    """A socket in front of the sound server that relays everything until a client asks for a
    record stream, then holds that connection open and silent: a server that accepted and never
    answers. A byte relay cannot pass descriptors, so clients must not use shared memory."""

    CONTROL_CHANNEL = 0xFFFFFFFF
    CREATE_RECORD_STREAM = 5

    def __init__(self, server_socket, path):
        self.server_socket = server_socket
        self.path = path
        self.listener = socket.socket(socket.AF_UNIX)
        self.listener.bind(path)
        self.listener.listen(8)
        self.held = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            client, _ = self.listener.accept()
            upstream = socket.socket(socket.AF_UNIX)
            upstream.connect(self.server_socket)
            self.held += [client, upstream]
            threading.Thread(target=self._requests, args=(client, upstream), daemon=True).start()
            threading.Thread(target=self._replies, args=(upstream, client), daemon=True).start()

    @staticmethod
    def _read(connection, size):
        data = b""
        while len(data) < size:
            chunk = connection.recv(size - len(data))
            if not chunk:
                raise OSError("closed")
            data += chunk
        return data

    def _requests(self, client, upstream):
        try:
            while True:
                descriptor = self._read(client, 20)
                length, channel = struct.unpack(">II", descriptor[:8])
                payload = self._read(client, length)
                if (channel == self.CONTROL_CHANNEL and payload[:1] == b"L"
                        and struct.unpack(">I", payload[1:5])[0] == self.CREATE_RECORD_STREAM):
                    return
                upstream.sendall(descriptor + payload)
        except OSError:
            pass

    @staticmethod
    def _replies(upstream, client):
        try:
            while data := upstream.recv(65536):
                client.sendall(data)
        except OSError:
            pass


def start_error(f, run, status, domain, code):
    errors = run.of_kind("error")
    f.check(status == 1 and "ready" not in run.kinds() and len(errors) == 1
            and errors[0].get("stage") == "start" and errors[0].get("errorName") == "GError"
            and errors[0].get("domain") == domain and errors[0].get("errorCode") == code,
            f"expected start error {domain} {code}: status {status}, events {run.events}")
    f.check(not run.stderr, f"stderr: {run.stderr!r}")


def two_recorders(f, binary, env, root):
    f.group = "two recorders on one file"
    path = os.path.join(root, "shared.mov")
    first = Run(binary, ["--output", path], env)
    ready = first.wait_for("ready")
    if not f.check(ready is not None, f"the first recorder is not ready: {first.kinds()}"):
        first.finish()
        return
    time.sleep(1.5)
    size = os.path.getsize(path)
    second = Run(binary, ["--output", path], env)
    start_error(f, second, second.finish(), "TessaloquinAudioCapture", 5)
    f.check(os.path.getsize(path) >= size,
            f"the first recorder's file shrank from {size} to {os.path.getsize(path)} bytes")
    time.sleep(1.0)
    first.process.send_signal(signal.SIGINT)
    span = time.monotonic() - ready
    status = first.finish()
    f.check(status == 0 and first.kinds()[-1:] == ["final"],
            f"the first recorder: status {status}, events {first.kinds()}")
    check_movie(f, path, span, MIXED_RMS)

    f.group = "two recorders on /dev/null"
    runs = [Run(binary, ["--output", os.devnull, "--microphone", "off"], env) for _ in range(2)]
    f.check(all(run.wait_for("ready") is not None for run in runs),
            f"not both ready: {[run.kinds() for run in runs]}")
    for run in runs:
        run.process.send_signal(signal.SIGINT)
        status = run.finish()
        f.check(status == 0 and run.kinds()[-1:] == ["final"], f"status {status}, {run.kinds()}")


def fifo_without_reader(f, binary, env, root):
    f.group = "FIFO without a reader"
    path = os.path.join(root, "fifo")
    os.mkfifo(path)
    started = time.monotonic()
    run = Run(binary, ["--output", path], env)
    status = run.finish(timeout=15)
    f.check(status is not None, "the start hung on the FIFO")
    f.check(time.monotonic() - started < 12, "the failed start took too long")
    start_error(f, run, status, "gst-resource-error-quark", 6)


def deleted_working_folder(f, binary, env, root):
    f.group = "deleted working folder"
    folder = os.path.join(root, "gone")
    name = f"tessaloquin-e2e-{os.getpid()}.mov"
    # The shell enters the folder, removes it and becomes the tool.
    shell = ["-c", 'cd "$1" && rmdir "$1" && shift && exec "$@"', "sh", folder, binary]
    try:
        os.mkdir(folder)
        run = Run("/bin/sh", shell + ["--output", name], env)
        start_error(f, run, run.finish(), "TessaloquinAudioCapture", 6)
        f.check(not os.path.exists("/" + name), "the movie was written to /")
    finally:
        if os.path.exists("/" + name):
            os.remove("/" + name)

    os.mkdir(folder)
    path = os.path.join(root, "absolute.mov")
    run = Run("/bin/sh", shell + ["--output", path], env)
    ready = run.wait_for("ready")
    f.check(ready is not None, f"an absolute path from a deleted folder: {run.kinds()}")
    time.sleep(1.5)
    run.process.send_signal(signal.SIGINT)
    status = run.finish()
    f.check(status == 0 and probe_streams(path) is not None,
            f"an absolute path from a deleted folder: status {status}, events {run.kinds()}")


def stalled_server(f, binary, env, server, root):
    f.group = "server silent while the sources open"
    proxy = StallingProxy(server.socket, os.path.join(root, "stalling"))
    config = os.path.join(root, "client.conf")
    with open(config, "w") as out:
        out.write("enable-shm = no\nenable-memfd = no\nautospawn = no\n")
    env = dict(env, PULSE_SERVER="unix:" + proxy.path, PULSE_CLIENTCONFIG=config)
    started = time.monotonic()
    run = Run(binary, ["--output", os.path.join(root, "stalled.mov"), "--microphone", "off"], env)
    status = run.finish(timeout=20)
    f.check(status is not None and time.monotonic() - started < 14,
            "the start outlived its 10-s deadline")
    start_error(f, run, status, "TessaloquinAudioCapture.Linux", 4)


def killed(f, binary, env, root):
    for seconds in (1, 6):
        f.group = f"killed {seconds} s after ready"
        path = os.path.join(root, f"killed-{seconds}.mov")
        run = Run(binary, ["--output", path], env)
        ready = run.wait_for("ready")
        if not f.check(ready is not None, "no ready"):
            run.finish()
            continue
        time.sleep(seconds - (time.monotonic() - ready))
        run.process.send_signal(signal.SIGKILL)
        span = time.monotonic() - ready
        run.finish()
        if not f.check(probe_streams(path) is not None, "ffprobe cannot read the movie"):
            continue
        samples = decoded_audio(path)
        kept = len(samples) / SAMPLES_PER_SECOND
        f.check(kept >= span - KILL_LOSS, f"{kept:.2f} s of audio kept of {span:.2f} s")
        if seconds == 1:
            continue  # mostly the onset, where one source may still be starting
        bad = [(index, round(level, 4)) for index, level in window_levels(samples)
               if not near(level, MIXED_RMS, 0.05)]
        f.check(not bad, f"{len(bad)} windows off: {bad[:8]}")


def ends_with_its_audio(f, binary, env, root):
    f.group = "movie ends with its audio"
    for seconds in (0.3, 2.4):
        path = os.path.join(root, f"short-{seconds}.mov")
        run, status, _ = record(binary, env, path, seconds)
        info = probe_streams(path)
        if not f.check(status == 0 and info is not None, f"status {status}, {run.kinds()}"):
            continue
        audio = [s for s in info["streams"] if s["codec_type"] == "audio"][0]
        audio_end = float(audio.get("start_time", 0)) + float(audio.get("duration", 0))
        movie = float(info["format"].get("duration", 0))
        f.check(abs(movie - audio_end) <= END_SLACK,
                f"the movie lasts {movie:.3f} s, its audio ends at {audio_end:.3f} s")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    binary = os.path.abspath(sys.argv[1])
    require_tools()
    root = tempfile.mkdtemp(prefix="tessaloquin-output-e2e-")
    server = SoundServer(root)
    f = Failures()
    try:
        server.start()
        server.play_tones()
        for case in (two_recorders, fifo_without_reader, deleted_working_folder, killed,
                     ends_with_its_audio):
            case(f, binary, server.env, root)
        stalled_server(f, binary, server.env, server, root)
    finally:
        server.stop()
        shutil.rmtree(root, ignore_errors=True)
    report(f, "output e2e")


if __name__ == "__main__":
    main()
