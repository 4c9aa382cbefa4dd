#!/usr/bin/env python3
"""End-to-end checks of the recorder when the sound server changes under it: the default
output switched, the microphone's input unloaded and back, the server killed; each case on a
server of its own.

Usage: server_e2e.py PATH-TO-tessaloquin-audio-capture
"""

import os
import signal
import subprocess
import threading
import time

from e2e_support import (MICROPHONE_NAME, MICROPHONE_RMS, MICROPHONE_TONE, MIXED_RMS,
                         SAMPLES_PER_SECOND, SYSTEM_RMS, SYSTEM_TONE, add_output, check_final,
                         check_stop_error, decoded_audio, interrupt, left, longest_silence,
                         metered, movie_audio_seconds, near, off_windows, pactl, play_tone,
                         probe_streams, recording, rms, run_suite, stereo, wait_until,
                         window_levels)

# What a switch of output may cost the system audio.
MAX_GAP = 0.1
# How soon the parent hears of a fault while recording.
MAX_WARNING_DELAY = 1.0
# How long a running source may hand over nothing before it is told lost.
STALL_LIMIT = 3.0
# Past the time a write may take before it is told as stalled (5 s), and within what the server
# holds (10 s).
FROZEN_LONGER = 7.5
# Kept out of the level checks besides the first and last windows: the start and the stop, whose
# holes under load are not what these cases are about.
EDGE = 0.5
INNER = slice(int(EDGE * 10), -int(EDGE * 10))  # the windows out of EDGE


def levels_between(run, start, end=float("inf")):
    """The level records that arrived between the monotonic times `start` and `end`."""
    return [level for at, level in run.events if level.get("event") == "level" and start < at < end]


def players_and_outputs(server):
    """The output index of each playing stream, and the index of each output by its name."""
    sinks = dict(reversed(line.split()[:2])
                 for line in pactl(server, "list", "short", "sinks").splitlines())
    return ([line.split()[1] for line in
             pactl(server, "list", "short", "sink-inputs").splitlines()], sinks)


def switch_output(f, server, name):
    """Makes `name` the default output; the player follows it, as the server moves it."""
    pactl(server, "set-default-sink", name)
    players, sinks = players_and_outputs(server)
    f.check(players == [sinks[name]], f"the player stayed off {name}: {players}")
    return time.monotonic()


def output_switched(f, binary, server, root):
    """System audio follows the default output: to other headphones, then to a headset in its
    call profile (16 kHz mono), which the server converts to the recording's format."""
    add_output(server, "headphones", "Headphones")
    add_output(server, "headset", "Headset", rate=16000, channels=1)
    play_tone(server, SYSTEM_TONE)  # follows the default output, as applications do
    server.wait_for_players(1)
    path = os.path.join(root, "switched.mov")
    run = recording(f, binary, server, path, ["--microphone", "off"])
    time.sleep(3)
    switch_output(f, server, "headphones")
    time.sleep(3)
    to_headset = switch_output(f, server, "headset")
    time.sleep(3)
    check_final(f, run, interrupt(run), "switched")
    counted = [level["systemSamples"] for level in levels_between(run, to_headset + 1.5)]
    # As in every suite, within the jitter of the reads against the level ticks.
    f.check(len(counted) >= 1 and all(near(count, SAMPLES_PER_SECOND, 0.1) for count in counted),
            f"sample values a second from the headset: {counted}")
    samples = decoded_audio(path)
    edge = int(EDGE * SAMPLES_PER_SECOND)
    gap = longest_silence(samples[edge:-edge])
    f.check(gap <= MAX_GAP, f"system audio missing for {gap * 1000:.0f} ms after a switch")
    levels = window_levels(samples)[INNER]
    f.check(len(levels) >= 75, f"only {len(levels)} windows")
    bad = off_windows(levels, SYSTEM_RMS)
    # Each switch's gap, up to MAX_GAP, may fall across two neighbouring windows; nothing else.
    off = {index for index, _ in bad}
    run_starts = [index for index in off if index - 1 not in off]
    f.check(len(run_starts) <= 2 and not any({index + 1, index + 2} <= off for index in off),
            f"{len(bad)} of {len(levels)} windows off {SYSTEM_RMS:.4f}: {bad[:8]}")


def microphone_unloaded(f, binary, server, root):
    """The microphone's input unplugged and back, recorded as the default input (which records
    silence rather than a monitor meanwhile, in its own stream too) and, at the same time, by its
    name (lost meanwhile, and restored when an input of that name is back)."""
    server.play_tones()
    path = os.path.join(root, "unplugged.mov")
    pcm = [os.path.join(root, f"unplugged-{source}.f32") for source in ("system", "microphone")]
    run = recording(f, binary, server, path, ["--system-pcm", pcm[0], "--microphone-pcm", pcm[1]])
    named = recording(f, binary, server, os.path.join(root, "named-unplugged.mov"),
                      ["--microphone-name", MICROPHONE_NAME])
    time.sleep(3)
    remap = [line.split()[0] for line in pactl(server, "list", "short", "modules").splitlines()
             if "module-remap-source" in line]
    pactl(server, "unload-module", remap[0])
    unloaded = time.monotonic() - run.ready
    time.sleep(3)
    # The server would keep a mute for the tool's later streams.
    f.check(not tool_streams(server, muted=True), "the tool's stream muted on the server")
    unplugged = run.of_kind("level")[-1:]
    # The input comes back under its name; the server moves the stream back onto it.
    pactl(server, "load-module", "module-remap-source", "source_name=usb_microphone",
          "master=microphone_feed.monitor")
    returned = time.monotonic() - run.ready
    time.sleep(3)
    check_final(f, run, interrupt(run), "unplugged")
    check_final(f, named, interrupt(named), "named, unplugged")
    # Muted by the tool or lost with its input, the microphone is reported gone and back. The
    # input's feed here plays on meanwhile, into an output nobody records, which is told too; an
    # input unplugged takes its sound with it.
    for label, each in (("default", run), ("named", named)):
        warnings = [(round(at - run.ready, 2), event) for at, event in each.events
                    if event.get("event") == "warning"
                    and not event["code"].startswith("audio_elsewhere")]
        f.check([event["code"] for _, event in warnings] == ["source_lost", "source_restored"]
                and all(event["source"] == "microphone" for _, event in warnings)
                and all(-0.2 < warning[0] - moment < 1
                        for warning, moment in zip(warnings, (unloaded, returned))),
                f"{label} input unplugged at {unloaded:.2f} s, back at {returned:.2f} s: "
                f"{warnings}")
    gone = levels_between(named, run.ready + unloaded + 1, run.ready + returned)
    f.check(gone and all(level["microphoneSamples"] == 0 and near(level["systemSamples"],
                                                                  SAMPLES_PER_SECOND, 0.1)
                         for level in gone), f"named input gone: {gone}")
    f.check(unplugged and unplugged[0]["microphoneRms"] < 0.01, f"input gone: {unplugged}")
    back = run.of_kind("level")[-1:]
    f.check(back and near(back[0]["microphoneRms"], MICROPHONE_RMS, 0.05), f"input back: {back}")
    levels = window_levels(decoded_audio(path))[INNER]
    f.check(len(levels) >= 75, f"only {len(levels)} windows")
    # Mixed, system audio alone, mixed again. A window at either hand-over may hold a moment of
    # both; elsewhere, system audio recorded twice would read 2 * SYSTEM_RMS, far above the mix.
    steady = [(index, level) for index, level in levels
              if all(abs(index / 10 - moment) > EDGE for moment in (unloaded, returned))]
    doubled = [(index, round(level, 4)) for index, level in steady if level > MIXED_RMS * 1.15]
    f.check(not doubled, f"windows above the mix ({MIXED_RMS:.4f}): {doubled[:8]}")
    alone = [round(level, 4) for index, level in levels
             if unloaded + EDGE < index / 10 < returned - EDGE]
    f.check(len(alone) >= 15 and all(near(level, SYSTEM_RMS, 0.05) for level in alone),
            f"not system audio alone while the input was gone: {alone}")
    again = [round(level, 4) for index, level in levels if index / 10 > returned + EDGE]
    f.check(len(again) >= 10 and all(near(level, MIXED_RMS, 0.05) for level in again),
            f"not mixed again once the input came back: {again}")
    # The microphone's own stream: silence while its input is gone, in time with the others.
    system, microphone = stereo(pcm[0]), stereo(pcm[1])
    length = len(microphone) / 2 / 48000
    f.check(abs(len(system) / 2 / 48000 - length) <= 0.05 and
            abs(length - movie_audio_seconds(path)) <= 0.1,
            f"stream lengths {len(system) / 2 / 48000:.3f} and {length:.3f} s, movie "
            f"{movie_audio_seconds(path):.3f} s")
    # pactl returns a moment after the server acted (30 ms late on a busy machine): each
    # hand-over is left out by 0.3 s.
    for what, start, end, expected in (("before", EDGE, unloaded - 0.3, MICROPHONE_RMS),
                                       ("while", unloaded + 0.3, returned - 0.3, 0.0),
                                       ("after", returned + EDGE, length - EDGE, MICROPHONE_RMS)):
        level = rms(left(microphone, start, end - start))
        f.check(level < 1e-4 if expected == 0 else near(level, expected, 0.03),
                f"the microphone's stream {what} its input was gone: {level:.5f}")


def default_input_changed(f, binary, server, root):
    """A microphone named on the command line stays on its input when another becomes the
    default; one recorded as the default input follows it. Both record at once."""
    server.play_tones()
    add_output(server, "headset_feed", "HeadsetFeed")  # nothing plays there: a silent input
    pactl(server, "load-module", "module-remap-source", "source_name=headset",
          "master=headset_feed.monitor", "source_properties=device.description=Headset")
    named = recording(f, binary, server, os.path.join(root, "named.mov"),
                      ["--microphone-name", MICROPHONE_NAME])
    following = recording(f, binary, server, os.path.join(root, "following.mov"))
    time.sleep(1.5)
    pactl(server, "set-default-source", "headset")
    changed = time.monotonic()
    time.sleep(2.5)
    for run, label in ((named, "named"), (following, "default")):
        check_final(f, run, interrupt(run), label)
    kept = [level["microphoneRms"] for level in levels_between(named, changed + 0.5)]
    followed = [level["microphoneRms"] for level in levels_between(following, changed + 0.5)]
    f.check(kept and all(near(rms, MICROPHONE_RMS, 0.05) for rms in kept),
            f"the named microphone left its input: {kept}")
    f.check(followed and all(rms < 0.01 for rms in followed),
            f"the default microphone did not follow the default input: {followed}")


def windows_between(levels, start, end):
    """The levels of the 100-ms windows that lie wholly between `start` and `end` seconds."""
    return [round(level, 4) for index, level in levels if start <= index / 10 and (index + 1) / 10 <= end]


def check_losses(f, run, killed_at):
    """Both sources told lost within 1 s of the kill, each once."""
    lost = [(at, event) for at, event in run.events if event.get("code") == "source_lost"]
    f.check(sorted(event["source"] for _, event in lost) == ["microphone", "system"]
            and all(at - killed_at < MAX_WARNING_DELAY and event.get("domain") == "gst-resource-error-quark"
                    for at, event in lost),
            f"source_lost {[(round(at - killed_at, 2), event) for at, event in lost]}")


def first_audio(server, source, into):
    """Records in `into[source]` when the server first hands over audio of `source` to a
    reader of its own: a new null output renders its first 2 s at once, before anyone reads,
    and its next block only then."""
    reader = subprocess.Popen(["parec", "--raw", "--latency-msec=10", "-d", source],
                              env=server.env, stdout=subprocess.PIPE)
    reader.stdout.read(64)
    into[source] = time.monotonic()
    reader.kill()
    reader.wait()


def tool_streams(server, muted=False):
    """The indexes of the tool's record streams on the server; with `muted`, the muted ones."""
    listing = subprocess.run(["pactl", "list", "source-outputs"], env=server.env,
                             capture_output=True, text=True).stdout
    return [block.split()[0] for block in listing.split("Source Output #")[1:]
            if 'application.name = "tessaloquin-audio-capture"' in block
            and (not muted or "Mute: yes" in block)]


def record_then_kill_server(f, binary, server, root, name):
    """A recording of both tones whose server is killed 2.5 s after ready."""
    server.play_tones()
    path = os.path.join(root, name)
    run = recording(f, binary, server, path)
    time.sleep(2.5)
    server.stop()
    return run, path, time.monotonic()


def check_movie_around_the_kill(f, run, path, stopped, killed_at, gone_until):
    """The movie's audio lasts as long as the recording, the mix before the server was killed
    and silence from then to `gone_until`; returns its levels."""
    samples = decoded_audio(path)
    recorded = stopped - run.ready
    length = len(samples) / SAMPLES_PER_SECOND
    f.check(abs(length - recorded) < 0.2, f"{length:.2f} s of audio for {recorded:.2f} s recorded")
    levels = window_levels(samples)
    before = windows_between(levels, EDGE, killed_at - run.ready - 0.2)
    gone = windows_between(levels, killed_at - run.ready + 0.2, gone_until - run.ready)
    f.check(len(before) >= 15 and all(near(level, MIXED_RMS, 0.05) for level in before),
            f"before the kill: {before}")
    f.check(len(gone) >= 6 and all(level < 0.001 for level in gone), f"while gone: {gone}")
    return levels


def server_restarted(f, binary, server, root):
    """The server killed and a new one up a second later: the recording goes on through it, in
    time, with silence where there was no server, and stops as usual."""
    run, path, killed_at = record_then_kill_server(f, binary, server, root, "restarted.mov")
    time.sleep(1)
    server.start()
    served = {}
    readers = [threading.Thread(target=first_audio, args=(server, source, served))
               for source in ("speakers.monitor", "usb_microphone")]
    for reader in readers:
        reader.start()
    back = wait_until(lambda: len(tool_streams(server)) == 2, 0.5, interval=0.02)
    f.check(back, f"not recording again 0.5 s after the server accepted: {tool_streams(server)}")
    run.wait_for("warning", 4, count=2, code="source_restored")
    for reader in readers:
        reader.join(5)
    check_losses(f, run, killed_at)
    restored = {event["source"]: (at, event) for at, event in run.events
                if event.get("code") == "source_restored"}
    for source, served_by in (("system", "speakers.monitor"), ("microphone", "usb_microphone")):
        at, event = restored.get(source, (None, None))
        if not f.check(at is not None and served_by in served, f"{source} not restored: {run.events}"):
            continue
        f.check(at - served[served_by] < 0.5 and near(event["gapSeconds"], at - killed_at, 0.1),
                f"{source} restored {at - served[served_by]:.2f} s after the server's first audio "
                f"({served[served_by] - server.accepting:.2f} s after it accepted): {event}")
    server.play_tones()  # waits for them to settle
    tones_back = time.monotonic()
    time.sleep(1.5)
    stopped = time.monotonic()
    check_final(f, run, interrupt(run), "restarted")
    levels = check_movie_around_the_kill(f, run, path, stopped, killed_at, server.accepting)
    after = windows_between(levels, tones_back - run.ready, stopped - run.ready - EDGE)
    f.check(len(after) >= 8 and all(near(level, MIXED_RMS, 0.05) for level in after),
            f"after the restart: {after}")


def server_killed(f, binary, server, root):
    """The server killed for good: the recording goes on with silence, and the stop fails."""
    run, path, killed_at = record_then_kill_server(f, binary, server, root, "orphan.mov")
    time.sleep(2.2)  # a level tick wholly after the kill
    check_losses(f, run, killed_at)
    f.check(run.process.poll() is None and "error" not in run.kinds(), f"before SIGINT: {run.kinds()}")
    # The silence that keeps the movie in time is not audio that arrived.
    gone = levels_between(run, killed_at + 1.1)
    f.check(gone and all(level["systemSamples"] == level["microphoneSamples"] == 0 for level in gone),
            f"levels without a server: {gone}")
    interrupted = time.monotonic()
    status = interrupt(run)
    took = time.monotonic() - interrupted
    check_stop_error(f, run, status, domain="gst-resource-error-quark", errorCode=1)
    f.check(len(run.of_kind("error")) == 1, f"events {run.events}")
    f.check(took < 16, f"stage stop failed {took:.1f} s after SIGINT")
    if f.check(probe_streams(path) is not None, "ffprobe cannot read the movie"):
        check_movie_around_the_kill(f, run, path, interrupted, killed_at, interrupted - EDGE)


def warnings_told(run):
    """The run's warnings, each as its keys but "event"."""
    return [{key: value for key, value in event.items() if key != "event"}
            for event in run.of_kind("warning")]


def playing_on(server, sink):
    """Whether a stream plays on the output named `sink`."""
    players, sinks = players_and_outputs(server)
    return sinks.get(sink) in players


def sound_elsewhere(f, binary, server, root):
    """An application set to play on another output than the default (a meeting on a headset
    beside the speakers) is not in the movie: the parent hears so at once, with the output's
    name, and again when it stops. Sound that reaches the recorded output through a virtual one,
    or that feeds a virtual microphone, is not told. Its players end with it, so that a suite
    that goes on with the same server meters its own tones alone."""
    pactl(server, "load-module", "module-remap-sink", "sink_name=virtual", "master=speakers",
          "sink_properties=device.description=Virtual")
    add_output(server, "headset", "Headset")
    players = [play_tone(server, (330, 0.2), "virtual")]
    if not playing_on(server, "microphone_feed"):
        players.append(play_tone(server, MICROPHONE_TONE, "microphone_feed"))
    try:
        wait_until(lambda: playing_on(server, "virtual") and playing_on(server, "microphone_feed"),
                   15, interval=0.05)
        run = recording(f, binary, server, os.path.join(root, "elsewhere.mov"),
                        ["--microphone", "off"])
        time.sleep(2)
        f.check("warning" not in run.kinds(), f"with sound on heard outputs only: {run.events}")
        players.append(play_tone(server, MICROPHONE_TONE, "headset"))
        wait_until(lambda: playing_on(server, "headset"), 5, interval=0.02)
        played = time.monotonic()
        told = run.wait_for("warning", 3, code="audio_elsewhere")
        f.check(told is not None and told - played < MAX_WARNING_DELAY,
                f"told {told and told - played} s after the headset played")
        players[-1].kill()
        players[-1].wait()
        stopped = time.monotonic()
        ended = run.wait_for("warning", 3, code="audio_elsewhere_ended")
        f.check(ended is not None and ended - stopped < MAX_WARNING_DELAY,
                f"the end told {ended and ended - stopped} s after the headset stopped")
        time.sleep(0.5)
        check_final(f, run, interrupt(run), "elsewhere")
        warnings = warnings_told(run)
        f.check(warnings == [{"code": "audio_elsewhere", "output": "Headset"},
                             {"code": "audio_elsewhere_ended"}], f"warnings {warnings}")
    finally:
        for player in players:
            player.kill()
            player.wait()


def keep_for_the_tool(server, volume, mute):
    """Has the server keep a volume and mute for the tool's streams, as an earlier recording
    left them: those of a stream of the tool's name, set while it runs."""
    reader = subprocess.Popen(["parec", "--property=application.name=tessaloquin-audio-capture",
                               "-d", "usb_microphone"], env=server.env, stdout=subprocess.DEVNULL)
    try:
        wait_until(lambda: tool_streams(server), 5, interval=0.05)
        for index in tool_streams(server):
            pactl(server, "set-source-output-volume", index, volume)
            pactl(server, "set-source-output-mute", index, mute)
        time.sleep(0.5)
    finally:
        reader.kill()
        reader.wait()


def first_audio_whole(samples):
    """The 10-ms windows of the movie's first 0.3 s of sound, after its first window, which
    the sound may begin in."""
    width = SAMPLES_PER_SECOND // 100
    levels = [rms(samples[index * width:(index + 1) * width])
              for index in range(len(samples) // width)]
    first = next((index for index, level in enumerate(levels) if level > 1e-4), len(levels))
    return levels[first + 1:first + 31]


def mute_and_volume_kept_for_the_tool(f, binary, server, root):
    """Servers keep the mute and volume of an application's streams and apply them to its later
    ones, as on every desktop: a mixer's mute or volume on the tool's streams is undone at once,
    and one kept from before leaves no recording silent or quiet, not even its first moments."""
    server.keep_stream_mutes()
    if not server.tones:
        server.play_tones()
    run = recording(f, binary, server, os.path.join(root, "muted.mov"))
    time.sleep(1)
    for index in tool_streams(server):
        pactl(server, "set-source-output-mute", index, "1")
        pactl(server, "set-source-output-volume", index, "10%")
    muted = time.monotonic()
    run.wait_for("level", after=muted + 1.2, count=2)
    check_final(f, run, interrupt(run), "muted")
    keep_for_the_tool(server, "10%", "1")
    path = os.path.join(root, "later.mov")
    later = recording(f, binary, server, path)
    later.wait_for("level", count=3)
    check_final(f, later, interrupt(later), "later")
    for label, each, since in (("muted and turned down by a mixer", run, muted + 1.2),
                               ("the next recording", later, later.ready + 1.2)):
        levels = levels_between(each, since)
        f.check(len(levels) >= 2 and all(metered(level, "system", SYSTEM_RMS) and
                                         metered(level, "microphone", MICROPHONE_RMS)
                                         for level in levels), f"{label}: {levels}")
    start = first_audio_whole(decoded_audio(path))
    f.check(len(start) == 30 and min(start) > 0.05,
            f"the next recording's first sound, 10 ms at a time: {[f'{v:.2g}' for v in start]}")


def output_muted(f, binary, server, root):
    """An output muted, or turned down to 10 %, silences its monitor where the server applies
    the volume itself (every mute on PulseAudio; these null outputs on both servers), and so does
    a mute of the monitor itself: the parent hears so at once, with the name of what is muted,
    from the start too, and again once it is heard. Another output's mute is no one's concern."""
    if not server.tones:
        server.play_tones()
    module = add_output(server, "headphones", "Headphones").strip()
    try:
        pactl(server, "set-sink-mute", "headphones", "1")
        pactl(server, "set-sink-mute", "speakers", "1")
        run = recording(f, binary, server, os.path.join(root, "output-muted.mov"),
                        ["--microphone", "off"])
        told = run.wait_for("warning", MAX_WARNING_DELAY, code="output_muted")
        f.check(told is not None, "a recording that starts muted is not told so")
        changes = []
        for command, target, value, code in (
                ("set-sink-mute", "speakers", "0", "output_audible"),
                ("set-sink-volume", "speakers", "10%", "output_muted"),
                ("set-sink-volume", "speakers", "11%", "output_audible"),
                ("set-source-mute", "speakers.monitor", "1", "output_muted"),
                ("set-source-mute", "speakers.monitor", "0", "output_audible")):
            time.sleep(2.5)
            pactl(server, command, target, value)
            changed = time.monotonic()
            changes.append(changed)
            at = run.wait_for("warning", 3, after=changed, code=code)
            f.check(at is not None and at - changed < MAX_WARNING_DELAY,
                    f"{code} told {at and at - changed} s after {command} {value}")
        time.sleep(1.5)
        check_final(f, run, interrupt(run), "output muted")
        warnings = warnings_told(run)
        audible = {"code": "output_audible"}
        muted = {"code": "output_muted", "output": "Speakers"}
        monitor = {"code": "output_muted", "output": "Monitor of Speakers"}
        f.check(warnings == [muted, audible, muted, audible, monitor, audible],
                f"warnings {warnings}")
        # What was told is so: the recording had none of the tone, or next to none.
        for label, start, end, most in (("muted", run.ready, changes[0], 0.0),
                                        ("at 10 %", changes[1], changes[2], 3e-4),
                                        ("with its monitor muted", changes[3], changes[4], 0.0)):
            levels = levels_between(run, start + 1.2, end)
            f.check(levels and all(level["systemRms"] <= most for level in levels),
                    f"system audio {label}: {[level['systemRms'] for level in levels]}")
    finally:
        pactl(server, "set-sink-mute", "speakers", "0")
        pactl(server, "set-sink-volume", "speakers", "100%")
        pactl(server, "set-source-mute", "speakers.monitor", "0")
        pactl(server, "unload-module", module)


def server_frozen(f, binary, server, root):
    """A server that hangs (stopped, as a deadlock would leave it): both sources are told lost
    within seconds, and restored when it runs again, with a movie as long as the recording; a
    stop while it still hangs fails, with the movie readable."""
    for resumed in (True, False):
        path = os.path.join(root, f"frozen-{resumed}.mov")
        run = recording(f, binary, server, path)
        time.sleep(1.5)
        server.process.send_signal(signal.SIGSTOP)
        frozen_at = time.monotonic()
        try:
            run.wait_for("warning", STALL_LIMIT + MAX_WARNING_DELAY, count=2, code="source_lost")
            lost = [(at - frozen_at, event) for at, event in run.events
                    if event.get("code") == "source_lost"]
            f.check(sorted(event["source"] for _, event in lost) == ["microphone", "system"]
                    and all(at < STALL_LIMIT + MAX_WARNING_DELAY and event.get("errorCode") == 9
                            for at, event in lost), f"source_lost {lost}")
            if resumed:
                # Long enough for a muxer with nothing to write to pass for a write that hangs.
                time.sleep(max(0.0, frozen_at + FROZEN_LONGER - time.monotonic()))
                server.process.send_signal(signal.SIGCONT)
                resumed_at = time.monotonic()
                run.wait_for("warning", MAX_WARNING_DELAY, count=2, code="source_restored")
                restored = [event for event in run.of_kind("warning")
                            if event["code"] == "source_restored"]
                f.check(len(restored) == 2 and all(near(event["gapSeconds"],
                                                        resumed_at - frozen_at, 0.25)
                                                   for event in restored),
                        f"{resumed_at - frozen_at:.2f} s frozen: {restored}")
                time.sleep(1.5)
                stopped = time.monotonic()
                check_final(f, run, interrupt(run), "resumed")
                codes = [event["code"] for event in run.of_kind("warning")]
                f.check("recording_stalled" not in codes, f"warnings {codes}")
                length = movie_audio_seconds(path)
                f.check(abs(length - (stopped - run.ready)) < 0.2,
                        f"{length:.2f} s of audio for {stopped - run.ready:.2f} s recorded")
            else:
                check_stop_error(f, run, interrupt(run), domain="gst-resource-error-quark",
                                 errorCode=9)
                f.check(probe_streams(path) is not None, "ffprobe cannot read it")
        finally:
            server.process.send_signal(signal.SIGCONT)


if __name__ == "__main__":
    run_suite("server e2e", (output_switched, microphone_unloaded, default_input_changed,
                             server_restarted, server_killed, server_frozen,
                             mute_and_volume_kept_for_the_tool, sound_elsewhere, output_muted),
              tones=False,
              fresh_server=True)
