#!/usr/bin/env python3
"""Benchmark of the recorder against ffmpeg, gst-launch-1.0 and parec on the same work.

Usage: bench.py PATH-TO-tessaloquin-audio-capture [--repetitions N] [--seconds S] [--busy N]
                [--nice N] [--also LABEL=PATH]... [--skip-recording] [--skip-quality] [--bitrate BITS]...

Starts a private PulseAudio server with a 440 Hz system tone and a 1 kHz microphone tone, then,
N times in turn (each repetition starting one subject later), records S seconds with each
subject and prints medians (min–max) and the ratio to ffmpeg. --busy N keeps N busy loops
running beside the recordings, and --nice N runs every recorder at that niceness while the
sound server and the busy loops keep theirs (nice 19 beside busy loops starves it); --also adds another build of the tool, e.g. an older one, as
a column of its own. Then reports each AAC encoder's quality (bench/quality.py) and what the
video encoder costs (bench/video.py).
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile

from subjects import median_line, subjects
from quality import print_quality
from video import print_video

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from e2e_support import SoundServer, require_tools  # noqa: E402


def per_minute(run, idle, with_server):
    extra = run["server"] - idle["server"] * run["wall"] / idle["wall"]
    return ((run["cpu"] + extra) if with_server else run["cpu"]) / run["wall"] * 60


def rows(results, columns):
    idle = results["idle"]

    def column(name, figure):
        if figure == "cpu_min":
            return [per_minute(run, base, False) for run, base in zip(results[name], idle)]
        if figure == "cpu_server_min":
            return [per_minute(run, base, True) for run, base in zip(results[name], idle)]
        if figure == "server_min":
            return [per_minute(run, base, True) - per_minute(run, base, False)
                    for run, base in zip(results[name], idle)]
        return [run.get(figure) for run in results[name]]

    figures = [
        ("CPU-s per recorded minute, process", "cpu_min"),
        ("  with the sound server's extra", "cpu_server_min"),
        ("  the sound server's extra alone", "server_min"),
        ("peak RSS, MB (parec: both processes)", "rss_mb"),
        ("context switches per second", "switches_per_s"),
        ("exec → ready, ms", "ready_ms"),
        ("SIGINT → final, ms", "final_ms"),
        ("SIGINT → exit, ms", "interrupt_to_exit_ms"),
        ("level period, p99 of its distance from 1 s, ms", "jitter_ms"),
        ("level period drift, ms per s", "drift_ms"),
        ("100-ms windows of the mix off by > 5 %", "bad_windows"),
        ("movie's audio less the system audio metered, s", "longer_s"),
    ]
    table = []
    for title, figure in figures:
        medians, cells = zip(*(median_line(column(name, figure)) for name in columns))
        ffmpeg = medians[columns.index("ffmpeg")]
        ratios = tuple(f"{mine / ffmpeg:.2f}" if mine and ffmpeg else "–"
                       for mine in medians[:columns.index("ffmpeg")])
        table.append((title,) + cells + ratios)
    _, killed = median_line(r.get("killed_loss_s") for r in results["tool killed"])
    table.append(("seconds lost to SIGKILL", killed)
                 + ("–",) * (len(columns) - 1 + columns.index("ffmpeg")))
    return table


def print_table(table, columns, repetitions, seconds, busy, niceness):
    print(f"\n{repetitions} repetitions of {seconds} s, {busy} busy loops beside, at nice "
          f"{niceness}; "
          "median (min–max)\n")
    tools = columns[:columns.index("ffmpeg")]
    print("| | " + " | ".join(columns + [f"{name} / ffmpeg" for name in tools]) + " |")
    print("|---" * (len(columns) + len(tools) + 1) + "|")
    for row in table:
        print("| " + " | ".join(row) + " |")


def record_all(runners, server, repetitions):
    results = {name: [] for name, _ in runners}
    for repetition in range(repetitions):
        shift = repetition % len(runners)
        for name, runner in runners[shift:] + runners[:shift]:
            figures = runner(server)
            print(f"  {repetition + 1}/{repetitions} {name}: " + ", ".join(
                f"{key} {value:.3g}" if isinstance(value, float) else f"{key} {value}"
                for key, value in figures.items()), flush=True)
            results[name].append(figures)
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("binary")
    parser.add_argument("--repetitions", type=int, default=3)
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--busy", type=int, default=0)
    parser.add_argument("--nice", type=int, default=0)
    parser.add_argument("--skip-recording", action="store_true")
    parser.add_argument("--skip-quality", action="store_true")
    parser.add_argument("--also", action="append", default=[])
    parser.add_argument("--bitrate", type=int, action="append")
    arguments = parser.parse_args()
    require_tools()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # still stop the server and tones
    root = tempfile.mkdtemp(prefix="tessaloquin-bench-")
    server = SoundServer(root)
    busy = []
    try:
        if not arguments.skip_recording:
            server.start()
            server.play_tones()
            busy = [subprocess.Popen([sys.executable, "-c", "while True: pass"])
                    for _ in range(arguments.busy)]
            os.nice(arguments.nice)  # inherited by every recorder started from here on
            others = [(label, os.path.abspath(path)) for label, path in
                      (also.split("=", 1) for also in arguments.also)]
            runners = subjects(os.path.abspath(arguments.binary), root, arguments.seconds, others)
            results = record_all(runners, server, arguments.repetitions)
            columns = ["tool"] + [label for label, _ in others] + ["ffmpeg", "gst-launch", "parec"]
            print_table(rows(results, columns), columns, arguments.repetitions, arguments.seconds,
                        arguments.busy, arguments.nice)
        if not arguments.skip_quality:
            print_quality(root, arguments.bitrate or [128000])
            print_video()
    finally:
        for process in busy:
            process.kill()
            process.wait()
        server.stop()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
