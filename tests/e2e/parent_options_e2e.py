#!/usr/bin/env python3
"""End-to-end checks of what a parent chooses with: the microphones it can offer, the one a
recording took, and the stop on SIGTERM and SIGHUP it may ask for.

Usage: parent_options_e2e.py PATH-TO-tessaloquin-audio-capture
"""

import os
import signal
import time

from e2e_support import (MICROPHONE_NAME, Run, check_final, interrupt, movie_audio_seconds,
                         pactl, recording, run_suite, slow_server, top_level_boxes)

SECOND_MICROPHONE = "Studio Condenser"


def listing(run):
    """The devices of the one "microphones" record a listing printed, or None."""
    return run.events[0][1].get("devices") if run.kinds() == ["microphones"] else None


def microphones(f, binary, server, root):
    pactl(server, "load-module", "module-remap-source", "source_name=studio_condenser",
          "master=microphone_feed.monitor",
          f"source_properties='device.description=\"{SECOND_MICROPHONE}\"'")
    for default, group in (("usb_microphone", "listed"), ("studio_condenser", "default moved")):
        f.group = group
        pactl(server, "set-default-source", default)
        run = Run(binary, ["--list-microphones", "--output", os.path.join(root, "x.mov")],
                  server.env)
        status = run.finish()
        devices = listing(run)
        f.check(status == 0 and not run.stderr and devices is not None,
                f"status {status}, records {run.events}, stderr {run.stderr!r}")
        # The inputs in the server's order, which is the order a name is matched in; monitors,
        # the outputs' sound, are not microphones.
        f.check([(d.get("name"), d.get("id")) for d in devices or []]
                == [(MICROPHONE_NAME, "usb_microphone"), (SECOND_MICROPHONE, "studio_condenser")],
                f"devices {devices}")
        f.check([d.get("id") for d in devices or [] if d.get("default") is True] == [default]
                and all(d.get("default") in (True, False) for d in devices or []),
                f"default {default}: {devices}")
        f.check(not os.path.exists(os.path.join(root, "x.mov")), "a listing made a movie")

    # A part of a name picks that input; no input of the name: the default one, now the second.
    f.group = "ready names the input"
    for name in ("Condenser", "Nothing like it"):
        run = recording(f, binary, server, os.path.join(root, "named.mov"),
                        ["--microphone-name", name])
        check_final(f, run, interrupt(run), name)
        ready = run.of_kind("ready")[0]
        f.check(ready.get("microphone") == SECOND_MICROPHONE, f"{name}: ready {ready}")
    pactl(server, "set-default-source", "usb_microphone")


def stop_signals(f, binary, server, root):
    for signal_number in (signal.SIGTERM, signal.SIGHUP):
        f.group = f"{signal_number.name} with --stop-on-sigterm"
        path = os.path.join(root, f"{signal_number.name}.mov")
        run = recording(f, binary, server, path, ["--microphone", "off", "--stop-on-sigterm"])
        time.sleep(2)
        span = time.monotonic() - run.ready
        check_final(f, run, interrupt(run, signal_number=signal_number), signal_number.name)
        # Complete: all of the audio, closed with the index of its fragments. The sound itself
        # is run_e2e's to check.
        audio = movie_audio_seconds(path)
        f.check(abs(audio - span) < 1.0, f"{audio:.2f} s of audio for {span:.2f} s")
        boxes = top_level_boxes(path)
        f.check(boxes[-1:] == ["mfra"], f"the movie was cut off, not finished: {boxes[-3:]}")

    # A service manager's SIGTERM may come while the tool is still starting: it is kept, and
    # stops the recording once it runs, instead of being lost or ending the process.
    f.group = "SIGTERM during the start"
    run = Run(binary, ["--output", os.path.join(root, "early.mov"), "--stop-on-sigterm"],
              slow_server(server, root, 1.5))
    time.sleep(0.5)
    run.process.send_signal(signal.SIGTERM)
    check_final(f, run, run.finish(), "early SIGTERM")
    f.check(run.kinds()[:1] == ["ready"], f"records {run.kinds()}")

    f.group = "SIGTERM without the option"
    path = os.path.join(root, "default.mov")
    run = recording(f, binary, server, path, ["--microphone", "off"])
    status = interrupt(run, signal_number=signal.SIGTERM)
    f.check(status == -signal.SIGTERM and "final" not in run.kinds(),
            f"status {status}, records {run.kinds()}")


if __name__ == "__main__":
    run_suite("parent options", (microphones, stop_signals))
