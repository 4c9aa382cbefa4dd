#!/usr/bin/env python3
"""The recordings and the faults whose handling rests on the sound server's behaviour, against
PipeWire's pulse server, the default of current desktops, instead of PulseAudio.

Usage: pipewire_e2e.py PATH-TO-tessaloquin-audio-capture
"""

import output_e2e
import parent_options_e2e
import pcm_e2e
import run_e2e
import server_e2e
from e2e_support import PipeWireServer, run_suite

if __name__ == "__main__":
    run_suite("pipewire e2e", (run_e2e.recordings, parent_options_e2e.microphones,
                               pcm_e2e.sources_apart_and_aligned, output_e2e.tool_stopped,
                               server_e2e.mute_kept_for_the_tool,
                               # Last: the tone players, frozen with the server, fall silent later.
                               server_e2e.server_frozen),
              server_type=PipeWireServer)
