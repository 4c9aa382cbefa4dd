#!/usr/bin/env python3
"""What the per-source streams cost: the tool recording with --system-pcm and --microphone-pcm
to regular files against the same tool without them, side by side.

Usage: pcm_bench.py PATH-TO-tessaloquin-audio-capture [--pairs N] [--seconds S]
                    [--before PATH]

Starts a private PulseAudio server with the two test tones and records S seconds N times with
each subject, interleaved (each pair in the other order than the one before), then prints the
medians (min–max) of the tool's CPU per recorded minute, its peak RSS and its context switches,
and each subject's ratio to the tool without the options: the median of the per-pair ratios,
which cancels the load of the moment better than a ratio of medians. --before adds another
build, e.g. one without the feature, to show that the options cost nothing when not given.
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time

from runs import Measured

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from e2e_support import SoundServer, require_tools  # noqa: E402


def record(command, server, seconds):
    run = Measured([command], server.env, server.process.pid)
    if run.wait_for("ready") is None:
        raise RuntimeError(f"no ready from {command}")
    time.sleep(max(0.0, run.started + seconds - time.monotonic()))
    run.interrupt()
    figures = run.finish()
    if figures["statuses"] != [0]:
        raise RuntimeError(f"{command} ended with {figures['statuses']}")
    figures["cpu_per_minute"] = figures["cpu"] / figures["wall"] * 60
    return figures


def spread(values):
    return f"{statistics.median(values):.3g} ({min(values):.3g}–{max(values):.3g})"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("binary")
    parser.add_argument("--pairs", type=int, default=8)
    parser.add_argument("--seconds", type=float, default=15)
    parser.add_argument("--before")
    arguments = parser.parse_args()
    require_tools()
    root = tempfile.mkdtemp(prefix="tessaloquin-pcm-bench-")
    server = SoundServer(root)
    tool = os.path.abspath(arguments.binary)
    movie = os.path.join(root, "movie.mov")
    subjects = {
        "without": [tool, "--output", movie],
        "with": [tool, "--output", movie, "--system-pcm", os.path.join(root, "system.f32"),
                 "--microphone-pcm", os.path.join(root, "microphone.wav")],
    }
    if arguments.before:
        subjects["before"] = [os.path.abspath(arguments.before), "--output", movie]
    results = {name: [] for name in subjects}
    try:
        server.start()
        server.play_tones()
        names = list(subjects)
        for index in range(arguments.pairs):
            order = names if index % 2 == 0 else names[::-1]
            for name in order:
                results[name].append(record(subjects[name], server, arguments.seconds))
            print(f"pair {index + 1}: " + ", ".join(
                f"{name} {results[name][-1]['cpu_per_minute']:.3f}" for name in names),
                file=sys.stderr)
    finally:
        server.stop()
        shutil.rmtree(root, ignore_errors=True)

    print(f"{arguments.pairs} interleaved runs of {arguments.seconds:g} s per subject; "
          "median (min–max)")
    print("| | " + " | ".join(results) + " |")
    print("|---" * (len(results) + 1) + "|")
    for key, label in (("cpu_per_minute", "CPU-s per recorded minute"),
                       ("rss_mb", "peak RSS, MB"), ("switches_per_s", "context switches per s")):
        print(f"| {label} | " + " | ".join(spread([r[key] for r in runs])
                                           for runs in results.values()) + " |")
    base = results["without"]
    print("| CPU against without, median of pair ratios | " + " | ".join(
        f"{statistics.median(r['cpu_per_minute'] / b['cpu_per_minute'] for r, b in zip(runs, base)):.3f}"
        for runs in results.values()) + " |")


if __name__ == "__main__":
    main()
