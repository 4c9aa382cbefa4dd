"""What the benchmark runs side by side: the tool, ffmpeg, gst-launch-1.0 with the tool's own
pipeline, parec (the capture floor) and nothing at all (the sound server's idle share). Each
subject records the private server's two tones for the same wall time and gives its figures."""

import os
import signal
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))

from e2e_support import (MIXED_RMS, SAMPLES_PER_SECOND, decoded_audio, near,  # noqa: E402
                         window_levels)
from runs import Measured  # noqa: E402

SYSTEM_SOURCE = "speakers.monitor"
MICROPHONE_SOURCE = "usb_microphone"

# The tool's pipeline settings (platform/linux/CapturePipeline.cpp), for gst-launch-1.0 with
# stock elements only: it reads the server with pulsesrc (the buffer the tool's source had when
# it was one) rather than the tool's own source, and it cannot hand stored frames to the muxer
# as the tool does, so it encodes its black video instead.
SOURCE_BUFFER_US = 200000
SOURCE_LATENCY_US = 50000
MIXER_LATENCY_NS = 500000000
MIX_BUFFER_NS = 50000000  # the tool starts so, then grows its buffers to 100 ms
MUXER_SLACK_NS = 2000000000
AUDIO_ENCODER = "audio/x-raw,format=S16LE,channels=2 ! voaacenc bitrate=128000"
VIDEO_ENCODER = "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=1"


def gst_pipeline(path, encoder=AUDIO_ENCODER, video_encoder=VIDEO_ENCODER):
    def source(device):
        return (f"pulsesrc device={device} buffer-time={SOURCE_BUFFER_US} "
                f"latency-time={SOURCE_LATENCY_US} ! audioconvert ! audioresample ! "
                "audio/x-raw,format=F32LE,rate=48000,channels=2,layout=interleaved ! mix. ")
    return ("gst-launch-1.0 -q -e "
            f"audiomixer name=mix latency={MIXER_LATENCY_NS} start-time-selection=first "
            f"output-buffer-duration={MIX_BUFFER_NS} ! audioconvert ! {encoder} ! "
            f"qtmux name=mux fragment-duration=200 fragment-mode=dash-or-mss "
            f"latency={MUXER_SLACK_NS} ! "
            f"filesink location={path} "
            + source(SYSTEM_SOURCE) + source(MICROPHONE_SOURCE) +
            "videotestsrc is-live=true pattern=black ! "
            "video/x-raw,format=I420,width=16,height=16,framerate=10/1 ! "
            f"{video_encoder} ! h264parse ! mux.").split()


def ffmpeg_command(path):
    pulse = ["-f", "pulse", "-sample_rate", "48000", "-channels", "2", "-i"]
    return (["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"]
            + pulse + [SYSTEM_SOURCE] + pulse + [MICROPHONE_SOURCE]
            + ["-re", "-f", "lavfi", "-i", "color=c=black:s=16x16:r=1",
               "-filter_complex", "[0:a][1:a]amix=inputs=2:normalize=0[a]",
               "-map", "[a]", "-map", "2:v", "-c:a", "aac", "-b:a", "128k",
               "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency",
               "-f", "mov", path])


def parec_commands():
    return [["parec", "-d", device, "--format=float32le", "--rate=48000", "--channels=2",
             f"--latency-msec={SOURCE_LATENCY_US // 1000}", "/dev/null"]
            for device in (SYSTEM_SOURCE, MICROPHONE_SOURCE)]


def bad_windows(path):
    levels = window_levels(decoded_audio(path))
    return sum(1 for _, level in levels if not near(level, MIXED_RMS, 0.05)) if levels else None


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, max(0, round(fraction * len(ordered) + 0.5) - 1))]


def run_tool(binary, path, server, seconds):
    run = Measured([[binary, "--output", path]], server.env, server.process.pid)
    ready = run.wait_for("ready")
    time.sleep(max(0.0, run.started + seconds - time.monotonic()))
    run.interrupt()
    final = run.wait_for("final", timeout=30)
    figures = run.finish()
    levels = [arrival for arrival, _ in run.records("level")]
    periods = [b - a for a, b in zip(levels, levels[1:])]
    figures.update(
        ready_ms=(ready - run.started) * 1000 if ready else None,
        final_ms=(final - run.interrupted) * 1000 if final else None,
        jitter_ms=percentile([abs(p - 1) * 1000 for p in periods], 0.99) if periods else None,
        drift_ms=((levels[-1] - levels[0]) / (len(levels) - 1) - 1) * 1000
        if len(levels) > 2 else None,
        bad_windows=bad_windows(path),
        longer_s=(len(decoded_audio(path)) - sum(
            record["systemSamples"] for kind in ("level", "final")
            for _, record in run.records(kind))) / SAMPLES_PER_SECOND)
    return figures


def run_killed_tool(binary, path, server, seconds):
    """Seconds of the recording lost when the tool is killed."""
    run = Measured([[binary, "--output", path]], server.env, server.process.pid)
    ready = run.wait_for("ready")
    time.sleep(max(0.0, run.started + seconds - time.monotonic()))
    run.interrupt(signal.SIGKILL)
    figures = run.finish()
    kept = len(decoded_audio(path)) / SAMPLES_PER_SECOND
    figures["killed_loss_s"] = run.interrupted - ready - kept if ready else None
    return figures


def run_command(commands, path, server, seconds, reads_file=True):
    run = Measured(commands, server.env, server.process.pid)
    time.sleep(seconds)
    run.interrupt()
    figures = run.finish()
    if reads_file:
        figures["bad_windows"] = bad_windows(path)
    return figures


def run_idle(server, seconds):
    run = Measured([["sleep", str(seconds)]], server.env, server.process.pid)
    return run.finish(timeout=seconds + 10)


def subjects(binary, root, seconds, others=()):
    """Name and runner of every subject, in the order of the first repetition; `others` are
    (label, path) of further builds of the tool to compare."""
    def path(name):
        return os.path.join(root, name + ".mov")

    def tool(label, build):
        return (label, lambda server: run_tool(build, path(label), server, seconds))
    return [tool("tool", binary)] + [tool(label, build) for label, build in others] + [
        ("ffmpeg", lambda server: run_command([ffmpeg_command(path("ffmpeg"))], path("ffmpeg"),
                                              server, seconds)),
        ("gst-launch", lambda server: run_command([gst_pipeline(path("gst"))], path("gst"),
                                                  server, seconds)),
        ("parec", lambda server: run_command(parec_commands(), None, server, seconds, False)),
        ("tool killed", lambda server: run_killed_tool(binary, path("killed"), server, seconds)),
        ("idle", lambda server: run_idle(server, seconds)),
    ]


def median_line(values):
    values = [v for v in values if v is not None]
    if not values:
        return None, "–"
    middle = statistics.median(values)
    return middle, f"{number(middle)} ({number(min(values))}–{number(max(values))})"


def number(value):
    return f"{value:.0f}" if abs(value) >= 100 else f"{value:.3g}"
