#!/usr/bin/env python3
"""The recordings and the faults whose handling rests on the sound server's behaviour, against
PipeWire's pulse server, the default of current desktops, instead of PulseAudio.

Usage: pipewire_e2e.py PATH-TO-tessaloquin-audio-capture
"""

import json
import os
import subprocess
import time

import output_e2e
import parent_options_e2e
import pcm_e2e
import run_e2e
import server_e2e
from e2e_support import (MICROPHONE_RMS, SYSTEM_RMS, PipeWireServer, check_final, interrupt,
                         metered, recording, run_suite)


def end_stream(server, name):
    """Ends the tool's record stream `name` on the server, as a policy or a mixer can."""
    dump = subprocess.run(["pw-dump"], env=server.env, capture_output=True, text=True,
                          check=True).stdout
    # A graph that changes while it is read comes as more than one document: later ones update
    # an object, or remove it with its info null.
    decoder, props, at = json.JSONDecoder(), {}, 0
    while dump[at:].strip():
        objects, at = decoder.raw_decode(dump, len(dump) - len(dump[at:].lstrip()))
        for node in objects:
            if node.get("info") is None:
                props.pop(node["id"], None)
            elif "props" in node["info"]:
                props[node["id"]] = node["info"]["props"]
    for node, its in props.items():
        if (its.get("application.name") == "tessaloquin-audio-capture"
                and its.get("media.name") == name):
            subprocess.run(["pw-cli", "destroy", str(node)], env=server.env,
                           capture_output=True, check=True)


def streams_ended(f, binary, server, root):
    """The server ends each of the tool's streams in turn: each records again where it belongs,
    the microphone on the default input rather than on the output WirePlumber saw the tool's
    system stream go to, which it keeps for the tool's streams that name no source."""
    run = recording(f, binary, server, os.path.join(root, "ended.mov"))
    for source, stream in (("system", "system-source"), ("microphone", "microphone-source")):
        end_stream(server, stream)
        f.check(run.wait_for("warning", 3, after=time.monotonic(), code="source_restored",
                             source=source), f"{source} not restored: {run.events}")
    ended = time.monotonic()
    run.wait_for("level", after=ended + 1.2, count=2)
    check_final(f, run, interrupt(run), "ended")
    levels = server_e2e.levels_between(run, ended + 1.2)
    f.check(len(levels) >= 2 and all(metered(level, "system", SYSTEM_RMS) and
                                     metered(level, "microphone", MICROPHONE_RMS)
                                     for level in levels), f"after the streams ended: {levels}")


if __name__ == "__main__":
    run_suite("pipewire e2e", (run_e2e.recordings, parent_options_e2e.microphones,
                               pcm_e2e.sources_apart_and_aligned, output_e2e.tool_stopped,
                               server_e2e.mute_and_volume_kept_for_the_tool,
                               server_e2e.sound_elsewhere, server_e2e.output_muted,
                               streams_ended,
                               # Last: the tone players, frozen with the server, fall silent later.
                               server_e2e.server_frozen),
              server_type=PipeWireServer)
