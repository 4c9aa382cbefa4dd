#!/usr/bin/env python3
"""End-to-end checks of the recorder's probe, usage error, recordings and start errors.

Usage: run_e2e.py PATH-TO-tessaloquin-audio-capture

Plays a known tone into the private server's output and microphone (see e2e_support.py), runs
the tool and checks its event stream and the movie.
"""

import os
import subprocess

from e2e_support import (MIXED_RMS, SYSTEM_RMS, Run, check_error, check_event_stream, check_movie,
                         record, run_suite)


def without_server(f, binary, server, root):
    env = dict(server.env, PULSE_SERVER="unix:" + os.path.join(root, "no-server"))
    run = Run(binary, ["--probe"], env)
    check_error(f, run, run.finish(), "probe", "TessaloquinAudioCapture.Linux", 1)
    # A command line without an output is answered before the server is asked.
    usage = subprocess.run([binary, "--output"], env=env, capture_output=True, text=True)
    f.check((usage.returncode, usage.stdout, usage.stderr)
            == (2, '{"event":"error","code":"missing_output"}\n', ""), f"no output: {usage}")


def without_plugin(env, root, plugin):
    """`env` with GStreamer's system plugins but `plugin`, and a registry of its own."""
    found = subprocess.run(["gst-inspect-1.0", "coreelements"], capture_output=True, text=True)
    system = os.path.dirname(next(line.split()[-1] for line in found.stdout.splitlines()
                                  if line.strip().startswith("Filename")))
    plugins = os.path.join(root, "plugins-without-" + plugin)
    os.makedirs(plugins)
    for name in os.listdir(system):
        if name != plugin:
            os.symlink(os.path.join(system, name), os.path.join(plugins, name))
    return dict(env, GST_PLUGIN_SYSTEM_PATH_1_0=plugins,
                GST_REGISTRY_1_0=os.path.join(root, "registry-without-" + plugin))


def recordings(f, binary, server, root):
    # Stopped half-way between two levels, which leaves half a second for "final" to count.
    for group, seconds, extra, microphone, rms, env in (
            ("system and microphone", 6.5, [], True, MIXED_RMS, server.env),
            ("microphone off, the second AAC encoder", 4.5, ["--microphone", "off"], False,
             SYSTEM_RMS, without_plugin(server.env, root, "libgstvoaacenc.so"))):
        f.group = group
        path = os.path.join(root, group.replace(" ", "-") + ".mov")
        run, status, span = record(binary, env, path, seconds, extra)
        check_event_stream(f, run, status, expect_microphone=microphone)
        f.check(not run.of_kind("warning"), f"warnings {run.of_kind('warning')}")
        check_movie(f, path, span, rms)


def missing_folder(f, binary, server, root):
    run = Run(binary, ["--output", os.path.join(root, "missing", "x.mov")], server.env)
    check_error(f, run, run.finish(), "start", "gst-resource-error-quark", 6, within=10)


if __name__ == "__main__":
    run_suite("e2e", (without_server, recordings, missing_folder))
