#!/usr/bin/env python3
"""A parent for tessaloquin-audio-capture: records and shows a live level meter.

Usage: level_meter.py --output PATH [--microphone off] [--microphone-name NAME] [--tool PATH]

Press Enter or Ctrl-C to stop; the movie is complete when the tool says "final". A second
Enter or Ctrl-C leaves at once; the tool is still interrupted and finishes on its own.
Python 3 standard library only; copy what you need.
"""

import argparse
import json
import math
import os
import queue
import signal
import subprocess
import sys
import threading
import time

MEANINGS = {0: "the movie is complete", 1: "a stage failed", 2: "no output path was given"}
# What each warning means to the user. A warning never ends the recording by itself; codes not
# listed here come from a later version of the tool and are ignored.
WARNINGS = {
    "microphone_fallback": lambda e: "the named microphone was not found; recording the default "
                                     "input",
    "source_lost": lambda e: f"{e['source']} audio is lost ({e['errorName']} {e['domain']} "
                             f"{e['errorCode']}); it records nothing until it is back",
    "source_restored": lambda e: f"{e['source']} audio is back after {e['gapSeconds']:.1f} s",
    "audio_dropped": lambda e: f"{e['droppedSeconds']:.1f} s of {e['source']} audio were "
                               "dropped while the tool stood still: the recording has a gap",
    "audio_elsewhere": lambda e: f"sound plays on {e['output']}, which is not recorded: make it "
                                 "the default output, or set the application to play there",
    "audio_elsewhere_ended": lambda e: "no sound plays unrecorded any more",
    "output_muted": lambda e: f"{e['output']} is muted or nearly: system audio records silence "
                              "until it is turned up",
    "output_audible": lambda e: "the output is audible again",
    "recording_failed": lambda e: f"the movie can no longer be written ({e['errorName']} "
                                  f"{e['domain']} {e['errorCode']}); stop and record elsewhere",
    "recording_stalled": lambda e: "the movie is not being saved: its folder does not answer",
    "recording_resumed": lambda e: f"the movie is saved again after {e['gapSeconds']:.1f} s",
    "microphone_silent": lambda e: "the microphone has been silent for 5 s: is it muted?",
    "microphone_audible": lambda e: "the microphone is audible again",
    "movie_gone": lambda e: "the movie is no longer at its path (deleted or moved): stop, and "
                            "record anew or put it back",
    "movie_returned": lambda e: "the movie is at its path again",
    "disk_low": lambda e: f"the disk {'holding ' + e['path'] + ' ' if 'path' in e else ''}is full "
                          f"in about {e['secondsLeft']} s at this rate; free space or stop",
}
FLOOR_DB = -60.0
BAR_WIDTH = 20

# Runs beside the tool and outlives this process: when this process is gone without saying
# "done", however it ended, its end of the pipe closes and the tool is interrupted until it
# exits. Interrupts are repeated because the tool loses one sent in its first milliseconds.
GUARD = """
import os, signal, sys, time
if sys.stdin.read() != "done":
    for _ in range(60):
        try:
            os.kill(int(sys.argv[1]), signal.SIGINT)
        except ProcessLookupError:
            break
        time.sleep(1)
"""


def dbfs(rms):
    """A linear RMS (full scale 1.0) in dB below full scale, kept within FLOOR_DB..0."""
    return max(FLOOR_DB, min(0.0, 20 * math.log10(rms))) if rms > 0 else FLOOR_DB


def bar(rms):
    db = dbfs(rms)
    filled = round(BAR_WIDTH * (db - FLOOR_DB) / -FLOOR_DB)
    return f"[{'#' * filled}{'.' * (BAR_WIDTH - filled)}] {db:6.1f} dB"


class Display:
    """Redraws one line in a terminal; writes plain lines anywhere else."""

    def __init__(self):
        self.live = sys.stdout.isatty()
        self.redrawing = False
        self.started = None  # when "ready" came

    def say(self, text):
        if self.redrawing:
            sys.stdout.write("\n")
            self.redrawing = False
        print(text, flush=True)

    def levels(self, event):
        minutes, seconds = divmod(round(time.monotonic() - self.started), 60)
        text = (f"{minutes:02}:{seconds:02}  system {bar(event['systemRms'])}"
                f"  microphone {bar(event['microphoneRms'])}")
        if self.live:
            sys.stdout.write("\r" + text + "\x1b[K")  # back to column 0, clear the rest
            sys.stdout.flush()
            self.redrawing = True
        else:
            self.say(text)


class Recorder:
    """The tool, its guard, and the one SIGINT that stops it."""

    def __init__(self, command):
        # Its own session, hence its own process group: Ctrl-C in the terminal reaches this
        # process only, which decides when the tool gets its one SIGINT.
        self.tool = subprocess.Popen(command, stdout=subprocess.PIPE, text=True,
                                     start_new_session=True)
        self.guard = subprocess.Popen([sys.executable, "-c", GUARD, str(self.tool.pid)],
                                      stdin=subprocess.PIPE, text=True, start_new_session=True)
        self.listening = False
        self.stop_asked = False
        self.interrupted = False

    # A SIGINT in the tool's first few milliseconds, before its main, ends it with no record and
    # no movie. So a stop asked before "ready" goes out when "ready" comes.
    def on_ready(self):
        self.listening = True
        self._interrupt_if_due()

    def ask_stop(self):
        self.stop_asked = True
        self._interrupt_if_due()

    def _interrupt_if_due(self):
        if self.listening and self.stop_asked and not self.interrupted:
            self.interrupted = True
            self.tool.send_signal(signal.SIGINT)

    def finish(self):
        """Waits for the tool's exit and dismisses the guard; returns the exit status."""
        status = self.tool.wait()
        self.guard.communicate("done")
        return status


def describe(status):
    if status < 0:
        return f"ended by signal {signal.Signals(-status).name}"
    return f"exit status {status}: {MEANINGS.get(status, 'unknown')}"


def show(event, display, output):
    name = event["event"]
    if name == "ready":
        display.started = time.monotonic()
        display.say(f"Recording into {output}. Press Enter or Ctrl-C to stop.")
    elif name == "level":
        display.levels(event)
    elif name == "final":
        display.say("Stopped.")
    elif name == "warning" and event.get("code") in WARNINGS:
        display.say(f"Warning: {event['code']}: {WARNINGS[event['code']](event)}.")
    elif name == "error":
        where = f" in stage {event['stage']}" if "stage" in event else ""
        detail = (f": {event['errorName']} {event['domain']} {event['errorCode']}"
                  if "domain" in event else "")
        display.say(f"Error {event['code']}{where}{detail}")


def forward(lines, inbox, kind):
    """Puts each line into the inbox, then None. Runs on its own thread, which leaves Ctrl-C to
    the main thread so that it interrupts the main thread's wait."""
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    for line in lines:
        inbox.put((kind, line))
    inbox.put((kind, None))


def main():
    parser = argparse.ArgumentParser(description="Record with a live level meter.")
    parser.add_argument("--output", required=True)
    parser.add_argument("--microphone")
    parser.add_argument("--microphone-name")
    parser.add_argument("--tool", default="tessaloquin-audio-capture")
    args = parser.parse_args()
    command = [args.tool, "--output", args.output]
    if args.microphone is not None:
        command += ["--microphone", args.microphone]
    if args.microphone_name is not None:
        command += ["--microphone-name", args.microphone_name]

    # Everything the main thread reacts to, one at a time: the tool's lines, Enter presses and
    # Ctrl-C. SimpleQueue.put may be called from a signal handler.
    inbox = queue.SimpleQueue()
    signal.signal(signal.SIGINT, lambda *_: inbox.put(("stop", "")))
    try:
        recorder = Recorder(command)
    except OSError as error:
        sys.exit(f"Cannot start {args.tool}: {error.strerror}. Give its path with --tool.")
    for lines, kind in ((recorder.tool.stdout, "tool"), (sys.stdin, "stop")):
        threading.Thread(target=forward, args=(lines, inbox, kind), daemon=True).start()

    display = Display()
    while True:
        kind, line = inbox.get()
        if kind == "stop" and line is not None:
            if recorder.stop_asked:
                display.say("Leaving without waiting; the tool is interrupted and ends alone.")
                sys.exit(130)
            recorder.ask_stop()
            display.say("Stopping...")
        elif kind == "tool" and line is None:
            break
        elif kind == "tool":
            event = json.loads(line)
            show(event, display, args.output)
            if event["event"] == "ready":
                recorder.on_ready()

    status = recorder.finish()
    if status == 0:
        size = os.path.getsize(args.output)
        display.say(f"Done: {args.output}, {size} bytes; {describe(status)}")
    else:
        display.say(f"Failed: {describe(status)}")
    sys.exit(status if status >= 0 else 128 - status)


if __name__ == "__main__":
    main()
