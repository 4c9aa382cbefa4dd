#!/usr/bin/env python3
"""End-to-end checks of the recorder against a private PulseAudio server.

Usage: run_e2e.py PATH-TO-tessaloquin-audio-capture

Starts its own sound server (two null outputs, one of them feeding a remapped input that looks
like a USB microphone), plays a known tone into each, runs the tool and checks its event stream
and the movie it writes. Needs pulseaudio, pactl, gst-launch-1.0, ffmpeg and ffprobe.
"""

import os
import shutil
import signal
import sys
import tempfile
import time

from e2e_support import (MIXED_RMS, SAMPLES_PER_SECOND, SYSTEM_RMS, Failures,
                         Run, SoundServer, check_event_stream, check_movie, decoded_audio, near,
                         probe_streams, record, report, require_tools, window_levels)


def check_quiet(f, run):
    f.check(run.stderr == "", f"standard error is not empty: {run.stderr!r}")


def check_final_counts(f, run, sources):
    """For a recording stopped half-way between two levels, which leaves half a second for
    "final" to count: a whole second is one level's, nothing is samples lost."""
    for final in run.of_kind("final"):
        for source in sources:
            f.check(0 < final[f"{source}Samples"], f"final {source}Samples {final}")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    binary = os.path.abspath(sys.argv[1])
    require_tools()
    root = tempfile.mkdtemp(prefix="tessaloquin-e2e-")
    server = SoundServer(root)
    f = Failures()
    try:
        server.start()
        server.play_tones()
        env = server.env

        f.group = "probe"
        run = Run(binary, ["--probe"], env)
        status = run.finish()
        f.check(status == 0 and run.of_kind("probe") == [{"event": "probe", "granted": True}],
                f"granted probe: status {status}, events {run.kinds()}")
        check_quiet(f, run)
        dead = dict(env, PULSE_SERVER="unix:" + os.path.join(root, "no-server"))
        run = Run(binary, ["--probe"], dead)
        status = run.finish()
        errors = run.of_kind("error")
        f.check(status == 1 and len(errors) == 1 and errors[0]["stage"] == "probe"
                and errors[0]["errorName"] == "GError"
                and errors[0]["domain"] == "TessaloquinAudioCapture.Linux"
                and errors[0]["errorCode"] == 1,
                f"probe without a server: status {status}, events {run.of_kind('error')}")
        check_quiet(f, run)

        f.group = "system and microphone"
        path = os.path.join(root, "both.mov")
        run, status, span = record(binary, env, path, 6.5)
        check_event_stream(f, run, status, expect_microphone=True)
        check_final_counts(f, run, ("system", "microphone"))
        f.check("warning" not in run.kinds(), "warning without a microphone name")
        check_movie(f, path, span, MIXED_RMS)

        f.group = "microphone off"
        path = os.path.join(root, "system.mov")
        run, status, span = record(binary, env, path, 4.5, ["--microphone", "off"])
        check_event_stream(f, run, status, expect_microphone=False)
        check_final_counts(f, run, ("system",))
        check_movie(f, path, span, SYSTEM_RMS)

        f.group = "microphone by name"
        path = os.path.join(root, "fallback.mov")
        run, status, span = record(binary, env, path, 3.5, ["--microphone-name", "Studio Condenser"])
        check_event_stream(f, run, status, expect_microphone=True)
        check_final_counts(f, run, ("system", "microphone"))
        f.check(run.of_kind("warning") == [{"event": "warning", "code": "microphone_fallback"}],
                f"fallback warnings {run.of_kind('warning')}")
        f.check(run.kinds().index("warning") < run.kinds().index("ready"),
                "the fallback warning came after ready")

        f.group = "missing folder"
        started = time.monotonic()
        run = Run(binary, ["--output", os.path.join(root, "missing", "x.mov")], env)
        status = run.finish()
        errors = run.of_kind("error")
        f.check(status == 1 and len(errors) == 1 and errors[0]["stage"] == "start"
                and errors[0]["errorName"] == "GError"
                and errors[0]["domain"] == "gst-resource-error-quark",
                f"status {status}, events {run.kinds()}, errors {errors}")
        f.check("ready" not in run.kinds(), "ready before a failed start")
        check_quiet(f, run)
        f.check(time.monotonic() - started < 10, "the failed start took too long")

        f.group = "killed"
        path = os.path.join(root, "killed.mov")
        run = Run(binary, ["--output", path], env)
        ready = run.wait_for("ready")
        f.check(ready is not None, "no ready")
        time.sleep(6)
        run.process.send_signal(signal.SIGKILL)
        span = time.monotonic() - (ready or time.monotonic())
        run.finish()
        check_quiet(f, run)
        info = probe_streams(path)
        if f.check(info is not None, "ffprobe cannot read the file of a killed recording"):
            kept = len(decoded_audio(path)) / SAMPLES_PER_SECOND
            f.check(kept >= span - 2.5, f"{kept:.2f} s of audio kept of {span:.2f} s recorded")
            levels = window_levels(decoded_audio(path))
            bad = [(index, round(level, 4)) for index, level in levels
                   if not near(level, MIXED_RMS, 0.05)]
            f.check(not bad, f"killed recording has {len(bad)} windows off: {bad[:8]}")

        f.group = "server gone"
        path = os.path.join(root, "orphan.mov")
        run = Run(binary, ["--output", path], env)
        f.check(run.wait_for("ready") is not None, "no ready")
        time.sleep(2)
        server.stop()
        time.sleep(1)
        run.process.send_signal(signal.SIGINT)
        status = run.finish()
        errors = run.of_kind("error")
        f.check(status == 1 and len(errors) == 1 and errors[0]["stage"] == "stop",
                f"status {status}, events {run.kinds()}")
        check_quiet(f, run)
    finally:
        server.stop()
        shutil.rmtree(root, ignore_errors=True)

    report(f, "e2e")


if __name__ == "__main__":
    main()
