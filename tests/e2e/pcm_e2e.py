#!/usr/bin/env python3
"""End-to-end checks of the per-source audio streams (--system-pcm, --microphone-pcm): each
source apart and aligned with the movie, and FIFOs whose reader comes late, stalls or leaves.
A kill's WAVs are output_e2e's to check, a microphone lost while recording server_e2e's.

Usage: pcm_e2e.py PATH-TO-tessaloquin-audio-capture
"""

import array
import cmath
import math
import os
import time

from e2e_support import (MICROPHONE_RMS, MICROPHONE_TONE, MIXED_RMS, SAMPLES_PER_SECOND,
                         SYSTEM_RMS, SYSTEM_TONE, check_final, check_movie, interrupt, left,
                         movie_audio_seconds, near, probe_streams, recording, rms, run_suite,
                         stereo, wait_until)

RATE = 48000
FRAME = 8  # bytes: two 32-bit floats
WAV_HEADER = 94
# The tool keeps 5 s for a reader that does not read, and the pipe holds a sixth of a second.
QUEUE_SECONDS = 5.0
STALL = 8.0


def tone_rms(values, frequency):
    """The RMS of the sine at `frequency` in `values` (Hann-windowed projection)."""
    total = 0j
    weights = 0.0
    count = len(values)
    step = cmath.exp(-2j * math.pi * frequency / RATE)
    turn = 1 + 0j
    for index, value in enumerate(values):
        weight = 0.5 - 0.5 * math.cos(2 * math.pi * index / (count - 1))
        total += weight * value * turn
        turn *= step
        weights += weight
    return 2 * abs(total) / weights / math.sqrt(2)


def movie_audio_seconds(path):
    info = probe_streams(path)
    audio = [s for s in info["streams"] if s["codec_type"] == "audio"] if info else []
    return float(audio[0]["duration"]) if audio else 0.0


def check_own_tone(f, label, samples, own, other):
    """`own` (frequency, rms) at its level within 1 %, `other` at least 60 dB below it, over a
    second of the steady middle."""
    middle = left(samples, 1.5, 1.0)
    level = tone_rms(middle, own[0])
    leak = tone_rms(middle, other)
    f.check(near(level, own[1], 0.01), f"{label}: tone {level:.5f}, expected {own[1]:.5f}")
    f.check(near(rms(middle), own[1], 0.01), f"{label}: RMS {rms(middle):.5f} for {own[1]:.5f}")
    f.check(leak < own[1] * 1e-3, f"{label}: the other tone at {20 * math.log10(leak / own[1] + 1e-12):.1f} dB")


def sources_apart_and_aligned(f, binary, server, root):
    """A raw stream and a WAV, each with its own tone, as long as each other and the movie."""
    movie = os.path.join(root, "apart.mov")
    system = os.path.join(root, "system.f32")
    microphone = os.path.join(root, "microphone.wav")
    run = recording(f, binary, server, movie,
                    ["--system-pcm", system, "--microphone-pcm", microphone])
    if not run:
        return
    time.sleep(4)
    span = time.monotonic() - run.ready
    check_final(f, run, interrupt(run), "apart")
    check_movie(f, movie, span, MIXED_RMS)
    system_samples = stereo(system)
    microphone_samples = stereo(microphone, WAV_HEADER)
    check_own_tone(f, "system", system_samples, (SYSTEM_TONE[0], SYSTEM_RMS), MICROPHONE_TONE[0])
    check_own_tone(f, "microphone", microphone_samples, (MICROPHONE_TONE[0], MICROPHONE_RMS),
                   SYSTEM_TONE[0])
    lengths = [len(system_samples) / 2 / RATE, len(microphone_samples) / 2 / RATE]
    audio = movie_audio_seconds(movie)
    f.check(abs(lengths[0] - lengths[1]) <= 0.05, f"stream lengths {lengths}")
    f.check(all(abs(length - audio) <= 0.1 for length in lengths),
            f"stream lengths {lengths}, movie's audio {audio:.3f} s")
    info = probe_streams(microphone)
    f.check(info and abs(float(info["format"]["duration"]) - lengths[1]) < 0.001,
            f"the WAV's header does not match its data: {info and info['format']}")


def stalled_fifo_reader(f, binary, server, root):
    """A FIFO without a reader does not hold up ready; its reader then stops for longer than the
    tool keeps, gets one pcm_overrun, and finds the stream where the time says it is."""
    fifo = os.path.join(root, "system.fifo")
    os.mkfifo(fifo)
    movie = os.path.join(root, "stalled.mov")
    run = recording(f, binary, server, movie, ["--system-pcm", fifo, "--microphone", "off"])
    if not run:
        return
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
    f.check(len(levels_during) >= STALL - 1 and all(
        near(level["systemSamples"], SAMPLES_PER_SECOND, 0.1)
        and near(level["systemRms"], SYSTEM_RMS, 0.03) for level in levels_during),
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
    span = time.monotonic() - run.ready
    check_final(f, run, interrupt(run), "stalled reader")
    os.close(reader)
    overruns = [w for w in run.of_kind("warning") if w.get("code") == "pcm_overrun"]
    f.check(len(overruns) == 1 and overruns[0].get("source") == "system"
            and STALL - QUEUE_SECONDS - 1.0 < overruns[0].get("droppedSeconds", 0)
            < STALL - QUEUE_SECONDS + 0.5, f"overrun warnings {overruns}")
    check_movie(f, movie, span, SYSTEM_RMS)


def fifo_reader_leaves_and_returns(f, binary, server, root):
    fifo = os.path.join(root, "microphone.fifo")
    os.mkfifo(fifo)
    run = recording(f, binary, server, os.path.join(root, "left.mov"),
                    ["--microphone-pcm", fifo])
    if not run:
        return
    reader = os.open(fifo, os.O_RDONLY)
    first = os.read(reader, 65536)
    os.close(reader)
    f.check(wait_until(lambda: any(w.get("code") == "pcm_reader_gone"
                                   for w in run.of_kind("warning")), 5),
            f"no pcm_reader_gone: {run.events}")
    # A new reader: the stream goes on, from a whole frame, where the time says it is.
    reader = os.open(fifo, os.O_RDONLY)
    time.sleep(1)
    data = b""
    while len(data) < RATE * FRAME:
        data += os.read(reader, RATE * FRAME - len(data))
    os.close(reader)
    samples = array.array("f")
    samples.frombytes(data[len(data) // 2 // FRAME * FRAME:])
    level = rms(samples[0::2])
    f.check(first and near(level, MICROPHONE_RMS, 0.05), f"the new reader's level {level:.4f}")
    check_final(f, run, interrupt(run), "reader gone")
    gone = [w for w in run.of_kind("warning") if w.get("code") == "pcm_reader_gone"]
    f.check(len(gone) == 2 and all(w.get("source") == "microphone" for w in gone),
            f"reader-gone warnings {gone}")


if __name__ == "__main__":
    run_suite("pcm e2e", (sources_apart_and_aligned, stalled_fifo_reader,
                          fifo_reader_leaves_and_returns))
