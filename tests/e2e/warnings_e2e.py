#!/usr/bin/env python3
"""End-to-end checks of the warnings a parent hears while recording: a muted microphone and a
disk that fills under the movie, or under each source's own file.

Usage: warnings_e2e.py PATH-TO-tessaloquin-audio-capture

The suite runs in a mount namespace of its own, where the filling disk is a small tmpfs; where
no namespace can be had, the disk case is skipped with a message.
"""

import contextlib
import os
import subprocess
import threading
import time

from e2e_support import (MICROPHONE_RMS, SYSTEM_RMS, Run, check_final, check_stop_error,
                         in_own_mount_namespace, interrupt, metered, movie_audio_seconds, pactl,
                         recording, run_suite)

# Five seconds of digital silence, and the time a mute takes to reach the recording.
SILENT_WITHIN = 6.5
# A buffer's length: how much sooner than 5 s a silent stretch can look, as a buffer counts whole.
BUFFER = 0.1
AUDIBLE_WITHIN = 2.0
# A source that hands over nothing is given up on after 3 s.
STALL_LIMIT = 3.0
START_WITHIN = STALL_LIMIT + 1.5
FAILED_WITHIN = 1.0
# The movie grows by about 17.5 kB a second: this much space fills 6-8 s into the recording,
# after the disk watch has had two readings to take the rate from.
SPACE_LEFT = 120 * 1024


def told(f, run, code, since, earliest, latest):
    """The first warning `code` after `since` came between `earliest` and `latest`."""
    came = run.wait_for("warning", latest - time.monotonic() + 2, after=since, code=code)
    print(f"{code} {came and round(came - since, 2)} s in")
    f.check(came is not None and earliest <= came <= latest,
            f"{code} {came and round(came - since, 2)} s in, expected "
            f"{round(earliest - since, 2)}-{round(latest - since, 2)} s")


def microphone_muted(f, binary, server, root):
    """A microphone that stops delivering is told silent as a muted one is; a mute is told after
    5 s and not before, also when its input paused and left a level second short; sound again is
    told at once."""
    run = recording(f, binary, server, os.path.join(root, "muted.mov"))
    run.wait_for("level", count=2)
    stopped = time.monotonic()
    pactl(server, "suspend-source", "usb_microphone", "1")
    # Counted in whole level seconds: up to one more.
    told(f, run, "microphone_silent", stopped, stopped + 5 - BUFFER, stopped + SILENT_WITHIN + 1)
    resumed = time.monotonic()
    pactl(server, "suspend-source", "usb_microphone", "0")
    told(f, run, "microphone_audible", resumed, resumed, resumed + AUDIBLE_WITHIN)
    muted = time.monotonic()
    pactl(server, "set-source-mute", "usb_microphone", "1")
    # Nothing comes for about 2 s, and then from late in a level second on.
    pactl(server, "suspend-source", "usb_microphone", "1")
    run.wait_for("level", after=muted + 1)
    time.sleep(0.8)
    pactl(server, "suspend-source", "usb_microphone", "0")
    resumed = time.monotonic()
    told(f, run, "microphone_silent", muted, muted + 5 - BUFFER, resumed + SILENT_WITHIN)
    unmuted = time.monotonic()
    pactl(server, "set-source-mute", "usb_microphone", "0")
    told(f, run, "microphone_audible", unmuted, unmuted, unmuted + AUDIBLE_WITHIN)
    check_final(f, run, interrupt(run), "muted")
    # Once each, and never for the system audio, which played on.
    f.check([warning["code"] for warning in run.of_kind("warning")]
            == ["microphone_silent", "microphone_audible"] * 2, f"warnings {run.of_kind('warning')}")


def microphone_unheard_at_the_start(f, binary, server, root):
    """A microphone that hands over nothing from the start does not hold up the start: the
    recording starts with the system audio within seconds, and the microphone is recorded once
    it delivers. A suspended input is told silent, as one suspended later is; one that hangs
    (its device stopped under it) is told lost, and fails the stop unless it comes back."""
    ways = (("suspend-source", "usb_microphone", "microphone_silent", "microphone_audible"),
            ("suspend-sink", "microphone_feed", "source_lost", "source_restored"))
    for command, device, gone, back in ways:
        path = os.path.join(root, f"unheard-{gone}.mov")
        pactl(server, command, device, "1")
        try:
            run = Run(binary, ["--output", path], server.env)
            ready = run.wait_for("ready", 12)
            f.check(ready is not None and ready - run.started < START_WITHIN,
                    f"ready {ready and round(ready - run.started, 2)} s after the spawn: "
                    f"{run.events}")
            if ready is None:
                run.finish()
                continue
            if gone == "source_lost":
                told(f, run, gone, run.started, run.started + STALL_LIMIT,
                     run.started + START_WITHIN)
            else:
                told(f, run, gone, ready, ready + 5 - BUFFER, ready + SILENT_WITHIN + 1)
            unheard = run.of_kind("level")
        finally:
            pactl(server, command, device, "0")
        resumed = time.monotonic()
        told(f, run, back, resumed, resumed, resumed + AUDIBLE_WITHIN)
        run.wait_for("level", after=resumed + AUDIBLE_WITHIN, count=2)
        stopped = time.monotonic()
        check_final(f, run, interrupt(run), gone)
        heard = run.of_kind("level")[len(unheard):]
        f.check(all(metered(level, "system", SYSTEM_RMS) and metered(level, "microphone", 0)
                    for level in unheard[1:]), f"{gone}: levels before {back}: {unheard}")
        f.check(all(metered(level, "microphone", MICROPHONE_RMS) for level in heard[-2:]),
                f"{gone}: levels after {back}: {heard}")
        length = movie_audio_seconds(path)
        f.check(length > stopped - ready,
                f"{gone}: {length:.2f} s of audio in the movie, {stopped - ready:.1f} s recorded")


def free_bytes(path):
    space = os.statvfs(path)
    return space.f_bavail * space.f_frsize


@contextlib.contextmanager
def small_disk(root, size):
    """A tmpfs of `size` under `root`, or None where none can be mounted."""
    disk = os.path.join(root, "disk-" + size)
    os.mkdir(disk)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", disk],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        print(f"SKIP: no tmpfs can be mounted here: {mounted.stderr.strip()}")
        yield None
        return
    try:
        yield disk
    finally:
        subprocess.run(["umount", "-l", disk], capture_output=True)


def disk_filling(f, binary, server, root):
    with small_disk(root, "1m") as disk:
        if disk is None:
            return
        with open(os.path.join(disk, "filler"), "wb") as filler:
            filler.write(b"\0" * (free_bytes(disk) - SPACE_LEFT))
        run = recording(f, binary, server, os.path.join(disk, "filling.mov"))
        full = []  # when the movie took the last free byte

        def watch():
            while not full and run.process.poll() is None:
                if free_bytes(disk) == 0:
                    full.append(time.monotonic())
                time.sleep(0.01)
        watcher = threading.Thread(target=watch, daemon=True)
        watcher.start()
        failed = run.wait_for("warning", 20, code="recording_failed")
        watcher.join(1)
        status = interrupt(run)
        if failed and full:
            print(f"recording_failed {failed - full[0]:.2f} s after the disk was full, "
                  f"{failed - run.ready:.2f} s after ready")
        # One disk_low with the time left, then the failure, which the stop reports again.
        warnings = run.of_kind("warning")
        codes = [warning["code"] for warning in warnings]
        lows = [warning for warning in warnings if warning["code"] == "disk_low"]
        f.check(len(lows) == 1 and 0 <= lows[0].get("secondsLeft", -1) < 30
                and "recording_failed" in codes[codes.index("disk_low"):], f"warnings {warnings}")
        f.check(failed is not None and full and failed - full[0] <= FAILED_WITHIN,
                f"recording_failed {failed and full and round(failed - full[0], 2)} s after "
                "the disk was full")
        failure = next((w for w in warnings if w["code"] == "recording_failed"), {})
        check_stop_error(f, run, status, **{key: failure.get(key)
                                            for key in ("errorName", "domain", "errorCode")})


def disk_filled_by_each_source(f, binary, server, root):
    """Each source's own WAV beside the movie fills the disk forty times as fast as the movie
    alone: the time left is told at their rate, not in hours. On a disk of its own (a small /tmp
    for a transcriber, the movie elsewhere) it fills that one, told with its path."""
    with small_disk(root, "64m") as disk:
        if disk is None:
            return
        # 2 x 384,000 bytes a second fill the 64 MiB in about 87 s; one alone in about 175 s. A
        # file written 0.2 s at a time may show a tenth less growth in the watch's 2 s.
        for label, movie, sources, expected in (
                ("beside the movie", os.path.join(disk, "beside.mov"),
                 ["--system-pcm", os.path.join(disk, "system.wav"),
                  "--microphone-pcm", os.path.join(disk, "microphone.wav")], (50, 100, None)),
                ("on a disk of its own", os.path.join(root, "elsewhere.mov"),
                 ["--microphone", "off", "--system-pcm", os.path.join(disk, "alone.wav")],
                 (140, 200, os.path.join(disk, "alone.wav")))):
            for name in os.listdir(disk):
                os.remove(os.path.join(disk, name))
            run = recording(f, binary, server, movie, sources)
            told = run.wait_for("warning", 8, code="disk_low")
            lows = [warning for warning in run.of_kind("warning") if warning["code"] == "disk_low"]
            low, high, path = expected
            f.check(told and told - run.ready < 6 and len(lows) == 1
                    and low <= lows[0]["secondsLeft"] <= high and lows[0].get("path") == path,
                    f"{label}: disk_low {told and told - run.ready} s after ready: {lows}")
            check_final(f, run, interrupt(run), label)


if __name__ == "__main__":
    in_own_mount_namespace()
    run_suite("warnings e2e", (microphone_muted, microphone_unheard_at_the_start, disk_filling,
                               disk_filled_by_each_source))
