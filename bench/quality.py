"""Quality and cost of each AAC encoder Debian packages for GStreamer: the SNR of
decode(encode(mix)) against the float mix, on two tones, on speech with the microphone tone, and
on a loud mix above full scale, with the clipped and wrapped samples of its 16-bit input where
the encoder takes one; and the CPU time and peak RSS of encoding."""

import array
import math
import os
import shutil
import subprocess
import time

from runs import peak_rss_mb

RATE = 48000
SECONDS = 10
SPEECH = ("The quick brown fox jumps over the lazy dog. Recording system audio and a microphone "
          "into one movie, the tool reports its levels once a second. Seven, eight, nine, ten.")
CASES = (  # name, system source, microphone tone (frequency, amplitude)
    ("two tones", (440, 0.3), (1000, 0.2)),
    ("speech and tone", "speech", (1000, 0.2)),
    ("loud tones (peak 1.4)", (440, 0.7), (1000, 0.7)),
)
# Encoder and its settings, the caps it must be given, whether its input is 16-bit.
ENCODERS = (
    ("avenc_aac", "", False),
    ("avenc_aac aac-coder=fast", "", False),
    ("voaacenc", "audio/x-raw,format=S16LE,channels=2 ! ", True),
    ("fdkaacenc", "audio/x-raw,format=S16LE,channels=2 ! ", True),
)


def installed(element):
    return subprocess.run(["gst-inspect-1.0", element.split()[0]],
                          capture_output=True).returncode == 0


def tone(frequency, amplitude):
    values = array.array("f", bytes(4 * 2 * RATE * SECONDS))
    for frame in range(RATE * SECONDS):
        value = amplitude * math.sin(2 * math.pi * frequency * frame / RATE)
        values[2 * frame] = values[2 * frame + 1] = value
    return values


def speech(root):
    wav = os.path.join(root, "speech.wav")
    subprocess.run(["espeak-ng", "-w", wav, SPEECH], check=True, capture_output=True)
    raw = subprocess.run(
        ["gst-launch-1.0", "-q", "filesrc", f"location={wav}", "!", "wavparse", "!",
         "audioconvert", "!", "audioresample", "!",
         f"audio/x-raw,format=F32LE,rate={RATE},channels=2", "!", "fdsink"],
        check=True, capture_output=True).stdout
    values = array.array("f", bytes(4 * 2 * RATE * SECONDS))
    spoken = array.array("f", raw[: min(len(raw), len(values) * 4) // 4 * 4])
    values[: len(spoken)] = spoken
    return values


def mix(root, system, microphone):
    first = speech(root) if system == "speech" else tone(*system)
    return array.array("f", (a + b for a, b in zip(first, tone(*microphone))))


def timed(command):
    """Runs `command`; returns its CPU seconds and peak RSS in MB."""
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0.0
    while True:
        peak = max(peak, peak_rss_mb(process.pid) or 0.0)
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid:
            break
        time.sleep(0.002)
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise RuntimeError(f"{command[:8]} failed")
    return usage.ru_utime + usage.ru_stime, peak


def raw_input(path):
    return ["filesrc", f"location={path}", "!", "rawaudioparse", "format=pcm",
            "pcm-format=f32le", f"sample-rate={RATE}", "num-channels=2", "!", "audioconvert", "!"]


def encode(reference, encoder, caps, bitrate, output):
    command = (["gst-launch-1.0", "-q"] + raw_input(reference) + caps.split()
               + encoder.split() + [f"bitrate={bitrate}", "!", "aacparse", "!", "mp4mux", "!", "filesink",
                  f"location={output}"])
    return timed(command)


def decode(path):
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "f32le", "-ac", "2", "-ar",
                          str(RATE), "-"], capture_output=True, check=True).stdout
    return array.array("f", raw[: len(raw) // 4 * 4])


def best_lag(reference, decoded):
    """The delay in frames of `decoded` behind `reference`, by least squared error."""
    start, width = RATE // 2, 1024
    target = reference[2 * start: 2 * (start + width): 2]
    best = (math.inf, 0)
    for lag in range(-2048, 4096):
        part = decoded[2 * (start + lag): 2 * (start + lag + width): 2]
        if len(part) < width:
            continue
        error = sum((a - b) ** 2 for a, b in zip(part, target))
        best = min(best, (error, lag))
    return best[1]


def snr(reference, decoded):
    lag = best_lag(reference, decoded)
    margin = RATE // 10 * 2
    signal = noise = 0.0
    for index in range(margin, len(reference) - margin):
        if 0 <= index + 2 * lag < len(decoded):
            value = reference[index]
            signal += value * value
            noise += (decoded[index + 2 * lag] - value) ** 2
    return 10 * math.log10(signal / noise) if noise else math.inf


def sixteen_bit_faults(root, reference_path, reference):
    """Samples saturated at full scale, and samples whose sign flipped (wrapped), after the
    float mix is converted to the 16-bit input of an encoder."""
    output = os.path.join(root, "s16.raw")
    subprocess.run(["gst-launch-1.0", "-q"] + raw_input(reference_path)
                   + ["audio/x-raw,format=S16LE,channels=2", "!", "filesink",
                      f"location={output}"], check=True, capture_output=True)
    values = array.array("h")
    with open(output, "rb") as data:
        values.frombytes(data.read())
    saturated = sum(1 for v in values if v in (32767, -32768))
    wrapped = sum(1 for v, r in zip(values, reference) if abs(r) > 0.5 and (v < 0) != (r < 0))
    return saturated, wrapped


def print_quality(root, bitrates):
    work = os.path.join(root, "quality")
    os.makedirs(work, exist_ok=True)
    encoders = [e for e in ENCODERS if installed(e[0])]
    missing = [e[0] for e in ENCODERS if e not in encoders]
    print(f"\nAAC encoders on {SECONDS} s of audio (SNR of decode(encode(mix)) against the float "
          "mix, dB; encoding's CPU-s and peak RSS in gst-launch-1.0)"
          + (f"; not installed: {', '.join(missing)}" if missing else "") + "\n")
    print("| mix | encoder | bitrate | SNR, dB | CPU-s | peak RSS, MB | 16-bit input: "
          "saturated / wrapped samples |")
    print("|---|---|---|---|---|---|---|")
    for name, system, microphone in CASES:
        reference = mix(work, system, microphone)
        reference_path = os.path.join(work, "mix.f32")
        with open(reference_path, "wb") as out:
            reference.tofile(out)
        faults = sixteen_bit_faults(work, reference_path, reference)
        for encoder, caps, sixteen_bit in encoders:
            for bitrate in bitrates:
                output = os.path.join(work, "encoded.m4a")
                cpu, rss = encode(reference_path, encoder, caps, bitrate, output)
                ratio = snr(reference, decode(output))
                clipped = f"{faults[0]} / {faults[1]}" if sixteen_bit else "– (float input)"
                print(f"| {name} | {encoder} | {bitrate // 1000} kb/s | {ratio:.1f} | {cpu:.2f} | "
                      f"{rss:.0f} | {clipped} |", flush=True)
    shutil.rmtree(work, ignore_errors=True)
