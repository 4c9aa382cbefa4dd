"""What the placeholder video track's H.264 encoder costs: start (a pipeline that loads it and
encodes one frame), peak RSS, and the CPU of one minute of 16x16 frames at 1 fps, against the
same pipeline without an encoder."""

import statistics
import time

from quality import installed, timed
from subjects import VIDEO_ENCODER

ENCODERS = (("none", "identity"), ("x264enc", VIDEO_ENCODER), ("openh264enc", "openh264enc"))
RUNS = 7


def pipeline(encoder, frames):
    return (f"gst-launch-1.0 -q videotestsrc num-buffers={frames} pattern=black ! "
            "video/x-raw,format=I420,width=16,height=16,framerate=1/1 ! "
            f"{encoder} ! fakesink").split()


def wall_and_peak(command):
    started = time.monotonic()
    _, peak = timed(command)
    return (time.monotonic() - started) * 1000, peak


def print_video():
    print("\nVideo encoders, 16x16 at 1 fps (median of "
          f"{RUNS} runs)\n\n| encoder | one frame: wall, ms | peak RSS, MB | 60 frames: CPU-s |")
    print("|---|---|---|---|")
    for name, encoder in ENCODERS:
        if name != "none" and not installed(name):
            print(f"| {name} | not installed | | |")
            continue
        starts, peaks = zip(*(wall_and_peak(pipeline(encoder, 1)) for _ in range(RUNS)))
        minute = statistics.median(timed(pipeline(encoder, 60))[0] for _ in range(RUNS))
        print(f"| {name} | {statistics.median(starts):.0f} | {statistics.median(peaks):.1f} | "
              f"{minute:.3f} |", flush=True)
