#!/usr/bin/env python3
"""End-to-end checks of the recorder when the sound server changes under it: the default
output switched, the microphone's input unloaded and back, the server killed; each case on a
server of its own.

Usage: server_e2e.py PATH-TO-tessaloquin-audio-capture
"""

import os
import time

from e2e_support import (MICROPHONE_RMS, MIXED_RMS, SAMPLES_PER_SECOND, SYSTEM_RMS, SYSTEM_TONE,
                         add_output, check_final, decoded_audio, interrupt, longest_silence, near,
                         off_windows, pactl, play_tone, probe_streams, recording, run_suite,
                         window_levels)

# What a switch of output may cost the system audio.
MAX_GAP = 0.1
# How soon the parent hears of a fault while recording.
MAX_WARNING_DELAY = 1.0
# Kept out of the level checks besides the first and last windows: the start and the stop, whose
# holes under load are not what these cases are about.
EDGE = 0.5
INNER = slice(int(EDGE * 10), -int(EDGE * 10))  # the windows out of EDGE


def output_switched(f, binary, server, root):
    add_output(server, "headphones", "Headphones")
    play_tone(server, SYSTEM_TONE)  # follows the default output, as applications do
    server.wait_for_players(1)
    path = os.path.join(root, "switched.mov")
    run = recording(f, binary, server, path, ["--microphone", "off"])
    if not run:
        return
    time.sleep(3)
    pactl(server, "set-default-sink", "headphones")
    sinks = dict(reversed(line.split()[:2])
                 for line in pactl(server, "list", "short", "sinks").splitlines())
    players = [line.split()[1] for line in
               pactl(server, "list", "short", "sink-inputs").splitlines()]
    f.check(players == [sinks["headphones"]], f"the player stayed on the old output: {players}")
    time.sleep(3)
    check_final(f, run, interrupt(run), "switched")
    samples = decoded_audio(path)
    edge = int(EDGE * SAMPLES_PER_SECOND)
    gap = longest_silence(samples[edge:-edge])
    f.check(gap <= MAX_GAP, f"system audio missing for {gap * 1000:.0f} ms after the switch")
    levels = window_levels(samples)[INNER]
    f.check(len(levels) >= 45, f"only {len(levels)} windows")
    bad = off_windows(levels, SYSTEM_RMS)
    # The switch's gap, up to MAX_GAP, may fall across two neighbouring windows; nothing else.
    f.check(len(bad) <= 1 or (len(bad) == 2 and bad[1][0] == bad[0][0] + 1),
            f"{len(bad)} of {len(levels)} windows off {SYSTEM_RMS:.4f}: {bad[:8]}")


def microphone_unloaded(f, binary, server, root):
    server.play_tones()
    path = os.path.join(root, "unplugged.mov")
    run = recording(f, binary, server, path)
    if not run:
        return
    time.sleep(3)
    remap = [line.split()[0] for line in pactl(server, "list", "short", "modules").splitlines()
             if "module-remap-source" in line]
    pactl(server, "unload-module", remap[0])
    unloaded = time.monotonic() - run.ready
    time.sleep(3)
    unplugged = run.of_kind("level")[-1:]
    # The input comes back under its name; the server moves the stream back onto it.
    pactl(server, "load-module", "module-remap-source", "source_name=usb_microphone",
          "master=microphone_feed.monitor")
    returned = time.monotonic() - run.ready
    time.sleep(3)
    check_final(f, run, interrupt(run), "unplugged")
    f.check(unplugged and unplugged[0]["microphoneRms"] < 0.01, f"input gone: {unplugged}")
    back = run.of_kind("level")[-1:]
    f.check(back and near(back[0]["microphoneRms"], MICROPHONE_RMS, 0.05), f"input back: {back}")
    levels = window_levels(decoded_audio(path))[INNER]
    f.check(len(levels) >= 75, f"only {len(levels)} windows")
    # Mixed, system audio alone, mixed again. A window at either hand-over may hold a moment of
    # both; elsewhere, system audio recorded twice would read 2 * SYSTEM_RMS, far above the mix.
    steady = [(index, level) for index, level in levels
              if all(abs(index / 10 - moment) > EDGE for moment in (unloaded, returned))]
    doubled = [(index, round(level, 4)) for index, level in steady if level > MIXED_RMS * 1.15]
    f.check(not doubled, f"windows above the mix ({MIXED_RMS:.4f}): {doubled[:8]}")
    alone = [round(level, 4) for index, level in levels
             if unloaded + EDGE < index / 10 < returned - EDGE]
    f.check(len(alone) >= 15 and all(near(level, SYSTEM_RMS, 0.05) for level in alone),
            f"not system audio alone while the input was gone: {alone}")
    again = [round(level, 4) for index, level in levels if index / 10 > returned + EDGE]
    f.check(len(again) >= 10 and all(near(level, MIXED_RMS, 0.05) for level in again),
            f"not mixed again once the input came back: {again}")


def server_killed(f, binary, server, root):
    server.play_tones()
    path = os.path.join(root, "orphan.mov")
    run = recording(f, binary, server, path)
    if not run:
        return
    time.sleep(2.5)
    stopping = time.monotonic()
    server.stop()
    killed = time.monotonic() - run.ready
    # The parent hears at once that both sources are gone.
    for source in ("system", "microphone"):
        lost = run.wait_for_warning("source_lost", 2, source=source)
        f.check(lost is not None and lost - stopping <= MAX_WARNING_DELAY,
                f"source_lost for {source}: {lost and lost - stopping} s; {run.events[-4:]}")
    time.sleep(max(0.0, stopping + 1 - time.monotonic()))
    # A failure while recording is only told once the parent stops the recording.
    f.check(run.process.poll() is None and "error" not in run.kinds(), f"before SIGINT: {run.kinds()}")
    interrupted = time.monotonic()
    status = interrupt(run)
    took = time.monotonic() - interrupted
    errors = run.of_kind("error")
    f.check(status == 1 and len(errors) == 1 and errors[0]["stage"] == "stop"
            and errors[0]["domain"] == "gst-resource-error-quark" and run.kinds()[-1] == "error",
            f"status {status}, events {run.kinds()}")
    f.check(run.stderr == "", f"standard error is not empty: {run.stderr!r}")
    f.check(took < 16, f"stage stop failed {took:.1f} s after SIGINT")
    metered = sum(level["systemSamples"] for level in run.of_kind("level")) / SAMPLES_PER_SECOND
    if not f.check(probe_streams(path) is not None, "ffprobe cannot read the movie"):
        return
    samples = decoded_audio(path)
    kept = len(samples) / SAMPLES_PER_SECOND
    f.check(kept >= metered and kept >= killed - 0.6,
            f"{kept:.2f} s kept; {metered:.2f} s metered, killed {killed:.2f} s in")
    bad = off_windows(window_levels(samples)[INNER], MIXED_RMS)
    f.check(len(bad) <= 1, f"{len(bad)} windows off the mix: {bad[:8]}")


if __name__ == "__main__":
    run_suite("server e2e", (output_switched, microphone_unloaded, server_killed), tones=False,
              fresh_server=True)
