#!/usr/bin/env python3
"""End-to-end checks of the per-source audio streams (--system-pcm, --microphone-pcm): each
source apart and aligned with the movie, and FIFOs whose reader comes late, stalls or leaves.
A kill's WAVs are output_e2e's to check, a microphone lost while recording server_e2e's.

Usage: pcm_e2e.py PATH-TO-tessaloquin-audio-capture
"""

import cmath
import math
import os
import struct
import threading
import time

from e2e_support import (MICROPHONE_RMS, MICROPHONE_TONE, MIXED_RMS, SYSTEM_TONE,
                         WAV_HEADER, check_final, check_movie, floats, interrupt, left, metered,
                         movie_audio_seconds, near, pactl, probe_streams, record, recording, rms,
                         run_suite, stereo)

RATE = 48000
FRAME = 8  # bytes: two 32-bit floats
# The tool keeps 15 s for a reader that does not read, and the pipe holds a sixth of a second.
QUEUE_SECONDS = 15.0
STALL = 18.0


def tone_rms(values, frequency):
    """The RMS of the sine at `frequency` in `values` (Hann-windowed projection)."""
    last = len(values) - 1
    weights = [0.5 - 0.5 * math.cos(2 * math.pi * index / last) for index in range(last + 1)]
    total = sum(weight * value * cmath.exp(-2j * math.pi * frequency * index / RATE)
                for index, (weight, value) in enumerate(zip(weights, values)))
    return 2 * abs(total) / sum(weights) / math.sqrt(2)


def check_own_tone(f, label, samples, own, other):
    """The `own` tone at its level within 1 %, the `other` at least 60 dB below it, over a
    second of the steady middle."""
    middle = left(samples, 1.5, 1.0)
    expected = own[1] / math.sqrt(2)
    level, leak = tone_rms(middle, own[0]), tone_rms(middle, other[0])
    f.check(near(level, expected, 0.01), f"{label}: tone {level:.5f}, expected {expected:.5f}")
    f.check(near(rms(middle), expected, 0.01), f"{label}: RMS {rms(middle):.5f} of {expected:.5f}")
    f.check(leak < expected * 1e-3,
            f"{label}: the other tone at {20 * math.log10(leak / expected + 1e-12):.1f} dB")


def sources_apart_and_aligned(f, binary, server, root):
    """A raw stream and a WAV, each with its own tone, as long as each other and the movie."""
    movie = os.path.join(root, "apart.mov")
    system = os.path.join(root, "system.f32")
    microphone = os.path.join(root, "microphone.wav")
    run, status, span = record(binary, server.env, movie, 4,
                               ["--system-pcm", system, "--microphone-pcm", microphone])
    check_final(f, run, status, "apart")
    check_movie(f, movie, span, MIXED_RMS)
    system_samples, microphone_samples = stereo(system), stereo(microphone, WAV_HEADER)
    check_own_tone(f, "system", system_samples, SYSTEM_TONE, MICROPHONE_TONE)
    check_own_tone(f, "microphone", microphone_samples, MICROPHONE_TONE, SYSTEM_TONE)
    lengths = [len(samples) / 2 / RATE for samples in (system_samples, microphone_samples)]
    audio = movie_audio_seconds(movie)
    f.check(abs(lengths[0] - lengths[1]) <= 0.05, f"stream lengths {lengths}")
    f.check(all(abs(length - audio) <= 0.1 for length in lengths),
            f"stream lengths {lengths}, movie's audio {audio:.3f} s")
    info = probe_streams(microphone)
    f.check(info and abs(float(info["format"]["duration"]) - lengths[1]) < 0.001,
            f"the WAV's header does not match its data: {info and info['format']}")


def stalled_fifo_reader(f, binary, server, root):
    """A FIFO without a reader does not hold up ready; its reader then stops for longer than the
    tool keeps, gets one pcm_overrun, and finds the stream where the time says it is. Then it
    leaves, which is told, and a new reader takes the stream on from a whole frame."""
    fifo = os.path.join(root, "microphone.fifo")
    os.mkfifo(fifo)
    movie = os.path.join(root, "stalled.mov")
    run = recording(f, binary, server, movie, ["--microphone-pcm", fifo])
    time.sleep(1)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    received = 0

    def read_until_caught_up():
        """Reads until nothing has come for 30 ms: what the tool had then, since a backlog comes
        as fast as the reader takes it and live audio every 50 ms. Returns the stream's time at
        the last read, and the time since ready then."""
        nonlocal received
        last_read = time.monotonic()
        while time.monotonic() - last_read < 0.03:
            try:
                chunk = os.read(reader, 1 << 20)
            except BlockingIOError:
                time.sleep(0.002)
                continue
            received += len(chunk)
            last_read = time.monotonic()
        return received / FRAME / RATE, last_read - run.ready

    # The reader keeps up for two seconds, then takes nothing for longer than the tool keeps.
    deadline = time.monotonic() + 2
    while time.monotonic() < deadline:
        position, since_ready = read_until_caught_up()
        time.sleep(0.02)
    before = position - since_ready
    levels_before = len(run.of_kind("level"))
    time.sleep(STALL)
    levels_during = run.of_kind("level")[levels_before:]
    f.check(len(levels_during) >= STALL - 1
            and all(metered(level, "microphone", MICROPHONE_RMS) for level in levels_during),
            f"levels while the reader stalled: {levels_during}")
    # Caught up, then reading as it comes: what was dropped is still time.
    read_until_caught_up()
    time.sleep(0.5)
    position, since_ready = read_until_caught_up()
    f.check(abs(position - since_ready - before) <= 0.1,
            f"the stream is at {position:.3f} s, {since_ready:.3f} s after ready, "
            f"{before:.3f} s ahead before the stall")
    # Frame 0 is the first sample, which comes before ready by the platform's start: 50 ms
    # measured on a quiet machine, up to 0.3 s on a busy one.
    f.check(abs(position - since_ready) <= 0.35,
            f"the stream is at {position:.3f} s, {since_ready:.3f} s after ready")
    # The reader leaves; a new one takes the stream on from a whole frame.
    os.close(reader)
    f.check(run.wait_for("warning", 5, code="pcm_reader_gone") is not None,
            f"no pcm_reader_gone: {run.events}")
    with open(fifo, "rb") as reader:
        time.sleep(1)
        data = reader.read(RATE * FRAME)
    level = rms(floats(data[len(data) // 2 // FRAME * FRAME:])[0::2])
    f.check(near(level, MICROPHONE_RMS, 0.05), f"the new reader's level {level:.4f}")
    # Told at the tool's next write, which a stop right away may not come to.
    run.wait_for("warning", 5, count=2, code="pcm_reader_gone")
    span = time.monotonic() - run.ready
    check_final(f, run, interrupt(run), "stalled reader")
    overruns = [w for w in run.of_kind("warning") if w.get("code") == "pcm_overrun"]
    f.check(len(overruns) == 1 and overruns[0].get("source") == "microphone"
            and STALL - QUEUE_SECONDS - 1.0 < overruns[0].get("droppedSeconds", 0)
            < STALL - QUEUE_SECONDS + 0.5, f"overrun warnings {overruns}")
    gone = [w for w in run.of_kind("warning") if w.get("code") == "pcm_reader_gone"]
    f.check(len(gone) == 2 and all(w.get("source") == "microphone" for w in gone),
            f"reader-gone warnings {gone}")
    check_movie(f, movie, span, MIXED_RMS)


def faulty_microphone(f, binary, server, root):
    """An input that gives values that are no number now and then, as a faulty driver or filter
    may: its stream holds silence there, never such a value, which would spoil a reader's
    analysis of the whole window around it; the meter reads the rest."""
    feed = os.path.join(root, "faulty-feed")
    pactl(server, "load-module", "module-pipe-source", "source_name=faulty", f"file={feed}",
          "format=float32le", "rate=48000", "channels=2")
    faulty = [float("nan"), float("inf")] + [0.1 * math.sin(2 * math.pi * 300 * index / RATE)
                                            for index in range(478)]
    block = struct.pack(f"<{2 * len(faulty)}f", *[value for value in faulty for _ in range(2)])
    feeding = threading.Event()

    def feed_blocks():
        with open(feed, "wb") as out:
            while not feeding.wait(0.01):  # 10 ms a block, about as the server takes them
                out.write(block)
                out.flush()

    threading.Thread(target=feed_blocks, daemon=True).start()
    pactl(server, "set-default-source", "faulty")
    try:
        pcm = os.path.join(root, "faulty.f32")
        run, status, _ = record(binary, server.env, os.path.join(root, "faulty.mov"), 3,
                                ["--microphone-pcm", pcm])
    finally:
        feeding.set()
        pactl(server, "set-default-source", "usb_microphone")
    check_final(f, run, status, "faulty microphone")
    samples = stereo(pcm)
    f.check(samples and all(math.isfinite(value) for value in samples),
            f"{sum(not math.isfinite(value) for value in samples)} values that are no number")
    level = run.of_kind("level")[-1]["microphoneRms"] if run.of_kind("level") else 0
    f.check(near(level, 0.1 / math.sqrt(2), 0.05), f"microphone metered at {level}")


if __name__ == "__main__":
    run_suite("pcm e2e", (sources_apart_and_aligned, stalled_fifo_reader, faulty_microphone))
