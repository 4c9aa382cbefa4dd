#!/usr/bin/env python3
"""A dry run of scripts/macos-smoke on Linux, against fakes of the Mac's tools.

The script runs only on a Mac, so here it meets small fakes: the tool, movie-check, afplay,
osascript, cmake and ctest, and a sleep ten times faster. The fakes behave as a working Mac
would, except where a run plants a fault; the runs check that the script passes a working Mac,
names each planted fault in a FAIL line, and leaves no player and no changed input volume
behind, however it ends.
"""
import contextlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SMOKE = os.path.join(REPO, "scripts", "macos-smoke")
PYTHON = sys.executable

# The tool: answers the probe and the listing, records until SIGINT (SIGTERM with
# --stop-on-sigterm), then writes five seconds' worth of records, the movie and the WAVs. The
# system audio is the tone while a fake afplay plays, else silence.
FAKE_TOOL = r'''
import os, select, signal, struct, sys, time
state = os.environ["FAKE_STATE"]
args = sys.argv[1:]
unread = []  # set once a record waited 0.5 s (a tenth, as sleep) for a reader that never came
def value(name):
    return args[args.index(name) + 1] if name in args else None
def emit(line):
    if sys.stdout is None:  # closed by the parent; a tool without the guard writes into its movie
        if os.environ.get("FAKE_DESCRIPTORS") == "unguarded":
            with open(value("--output"), "a") as taken:
                taken.write(line + "\n")
        return
    if os.environ.get("FAKE_DRAIN") != "unbounded" and (
            unread or not select.select([], [sys.stdout], [], 0.5)[1]):
        unread.append(line)
        return
    print(line, flush=True)
def error(stage, code):
    emit('{"event":"error","code":"capture_failed","stage":"%s","errorName":"NSError",'
         '"domain":"TessaloquinAudioCapture","errorCode":%d}' % (stage, code))
    sys.exit(1)
with open(os.path.join(state, "tool.pids"), "a") as pids:
    pids.write("%d\n" % os.getpid())
if "--probe" in args:
    emit('{"event":"probe","granted":true}'); sys.exit(0)
if "--list-microphones" in args:
    emit('{"event":"microphones","devices":[{"name":"Fake Mic","id":"fake","default":true}]}')
    sys.exit(0)
movie = value("--output")
if movie == "/dev/stdout":
    error("start", 11)
if value("--system-pcm") == movie:
    error("start", 13)
if not os.path.isdir(os.path.dirname(movie)):
    if os.environ.get("FAKE_FOLDER") != "unchecked":
        error("start", 4)
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    emit('{"event":"ready"}')  # a tool that says nothing of the folder, and final at the stop
    signal.sigwait({signal.SIGINT})
    emit('{"event":"final","systemSamples":0,"systemRms":0,"microphoneSamples":0,'
         '"microphoneRms":0}')
    sys.exit(0)
microphone = value("--microphone") != "off"
try:
    os.close(os.open(movie + ".lock", os.O_CREAT | os.O_EXCL))
except FileExistsError:
    error("start", 5)
if os.environ.get("FAKE_WRITER") == "keeps-earlier" and os.path.exists(movie):
    error("start", -11823)  # AVFoundation's writer, given a path that is taken
with open(movie, "wb") as started:
    started.write(b"mdat")
stop = []
signal.signal(signal.SIGINT, lambda *_: stop.append(1))
if "--stop-on-sigterm" in args:
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))

def tone_playing():
    try:
        pid = int(open(os.path.join(state, "afplay.playing")).read())
        return open("/proc/%d/stat" % pid).read().split(")")[1].split()[0] != "Z"
    except (OSError, ValueError):
        return False

def wav(path, seconds, amplitude):
    frames = int(seconds * 48000)
    fmt = struct.pack("<HHIIHHH", 3, 2, 48000, 384000, 8, 32, 0)
    data = struct.pack("<ff", amplitude, amplitude) * (frames // 2) + \
           struct.pack("<ff", -amplitude, -amplitude) * (frames - frames // 2)
    body = b"WAVE" + b"JUNK" + struct.pack("<I", 28) + bytes(28) + b"fmt " + \
           struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    with open(path, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", len(body)) + body)

emit('{"event":"ready"%s}' % (',"microphone":"Fake Mic"' if microphone else ""))
# A source's own file on a RAM disk fills it; a tool that watches only the movie's disk is silent.
if "/Volumes/" in (value("--system-pcm") or "") and os.environ.get("FAKE_DISK_WATCH") != "movie":
    emit('{"event":"warning","code":"disk_low","secondsLeft":170,"path":"%s"}'
         % value("--system-pcm"))
refused = os.environ.get("FAKE_FLUSH") == "refused" and movie.endswith("flushed.mov")
if refused:
    emit('{"event":"warning","code":"recording_failed","errorName":"NSError",'
         '"domain":"TessaloquinAudioCapture","errorCode":15}')
tone = False
gone = False
deadline = time.monotonic() + 20
parent = os.getppid()
while not stop and time.monotonic() < deadline:
    time.sleep(0.02)
    if os.getppid() != parent and os.environ.get("FAKE_PARENT_WATCH") != "none":
        break
    tone = tone or tone_playing()
    if not os.path.exists(movie) and not gone and os.environ.get("FAKE_MOVIE_WATCH") != "none":
        gone = True
        emit('{"event":"warning","code":"movie_gone"}')
os.unlink(movie + ".lock")
if not os.path.exists(movie):
    error("stop", 10)
if refused:
    error("stop", 15)
muted = open(os.path.join(state, "input-volume")).read().strip() == "0"
system_rms = 0.25 if tone else 0.0
# A tool that tells of a muted output where the capture does not hear the mute.
if open(os.path.join(state, "output-muted")).read().strip() == "true" and \
        os.environ.get("FAKE_OUTPUT_MUTE") == "told":
    emit('{"event":"warning","code":"output_muted","output":"Speakers"}')
microphone_rms = (0.0 if muted else 0.01) if microphone else 0.0
if microphone and muted:
    emit('{"event":"warning","code":"microphone_silent"}')
for _ in range(5):
    emit('{"event":"level","systemSamples":96000,"systemRms":%s,"microphoneSamples":%d,'
         '"microphoneRms":%s}' % (system_rms, 96000 if microphone else 0, microphone_rms))
with open(movie, "ab") as finished:
    finished.write(b"moov")
if value("--system-pcm"):
    wav(value("--system-pcm"), float(os.environ.get("FAKE_SYSTEM_SECONDS", "5")), system_rms)
if microphone and value("--microphone-pcm"):
    wav(value("--microphone-pcm"), 5, microphone_rms)
emit('{"event":"final","systemSamples":4800,"systemRms":%s,"microphoneSamples":0,'
     '"microphoneRms":0}' % system_rms)
'''

# movie-check: a finished fake movie reads as five seconds of AAC and H.264, or without its
# video track when FAKE_MOVIE=novideo; an unfinished one does not read.
FAKE_MOVIE_CHECK = r'''
import os, sys
if not open(sys.argv[1], "rb").read().endswith(b"moov"):
    print("unreadable duration: not loaded"); sys.exit(1)
print("duration 5.02")
print("track audio aac 5.02 48000 2")
if os.environ.get("FAKE_MOVIE") != "novideo":
    print("track video avc1 5.02")
'''

# afplay: plays only a 48-kHz 16-bit mono WAV of a quarter-scale square wave (the script's
# tone), for the tone's ten seconds; refuses everything when FAKE_AFPLAY=broken.
FAKE_AFPLAY = r'''
import array, math, os, sys, time, wave
state = os.environ["FAKE_STATE"]
with open(os.path.join(state, "afplay.pids"), "a") as pids:
    pids.write("%d\n" % os.getpid())
if os.environ.get("FAKE_AFPLAY") == "broken":
    sys.exit(1)
with wave.open(sys.argv[1]) as tone:
    shape = (tone.getnchannels(), tone.getframerate(), tone.getsampwidth())
    samples = array.array("h", tone.readframes(tone.getnframes()))
rms = math.sqrt(sum(s * s for s in samples[:48000]) / 48000) / 32768
if shape != (1, 48000, 2) or abs(rms - 0.25) > 1e-3 or len(samples) < 480000:
    sys.exit(1)
with open(os.path.join(state, "afplay.playing"), "w") as playing:
    playing.write(str(os.getpid()))
time.sleep(10)
'''

# osascript: the input volume and the output's mute, each kept in a file.
FAKE_OSASCRIPT = r'''
import os, sys
state = os.environ["FAKE_STATE"]
script = sys.argv[2]
for setting, read, written in (("input-volume", "input volume of (get volume settings)",
                                "set volume input volume "),
                               ("output-muted", "output muted of (get volume settings)",
                                "set volume output muted ")):
    if script == read:
        print(open(os.path.join(state, setting)).read().strip())
        sys.exit(0)
    if script.startswith(written):
        open(os.path.join(state, setting), "w").write(script.split()[-1])
        sys.exit(0)
sys.exit(1)
'''

# hdiutil and diskutil: a RAM disk, attached and detached as the state's log says, whose volume
# is a folder of the state.
FAKE_HDIUTIL = r'''
import os, sys
log = os.path.join(os.environ["FAKE_STATE"], "ram-disks")
if sys.argv[1:3] == ["attach", "-nomount"]:
    open(log, "a").write("attached\n")
    print("/dev/disk9          \t               \t")
elif sys.argv[1] == "detach":
    open(log, "a").write("detached\n")
else:
    sys.exit(1)
'''
FAKE_DISKUTIL = r'''
import os, sys
volume = os.path.join(os.environ["FAKE_STATE"], "Volumes", "TessaloquinSmoke")
if sys.argv[1] == "erasevolume":
    os.makedirs(volume, exist_ok=True)
elif sys.argv[1] == "info":
    print("   Mount Point:               " + volume)
else:
    sys.exit(1)
'''


def write_fake(folder, name, source):
    path = os.path.join(folder, name)
    os.makedirs(folder, exist_ok=True)
    with open(path, "w") as fake:
        fake.write(source)
    os.chmod(path, 0o755)


class SmokeDryRun(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="macos-smoke-dry-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.state = os.path.join(self.root, "state")
        os.makedirs(self.state)
        for setting, value in (("input-volume", "50"), ("output-muted", "false")):
            with open(os.path.join(self.state, setting), "w") as kept:
                kept.write(value)
        fakes = os.path.join(self.root, "bin")
        build = os.path.join(self.root, "build")
        python = "#!%s\n" % PYTHON
        write_fake(fakes, "fake-tool", python + FAKE_TOOL)
        # The tool's first moments, where a SIGINT ends it, are the wrapper's pause; one that
        # drops such a SIGINT instead, when FAKE_EARLY_SIGINT=lost.
        write_fake(os.path.join(build, "app"), "tessaloquin-audio-capture",
                   '#!/bin/sh\n[ "$FAKE_EARLY_SIGINT" = lost ] && trap "" INT\nsleep 0.2\n'
                   'exec %s "$@"\n' % os.path.join(fakes, "fake-tool"))
        write_fake(os.path.join(build, "tools"), "movie-check", python + FAKE_MOVIE_CHECK)
        write_fake(fakes, "afplay", python + FAKE_AFPLAY)
        write_fake(fakes, "osascript", python + FAKE_OSASCRIPT)
        write_fake(fakes, "hdiutil", python + FAKE_HDIUTIL)
        write_fake(fakes, "diskutil", python + FAKE_DISKUTIL)
        write_fake(fakes, "cmake", "#!/bin/sh\nexit 0\n")
        write_fake(fakes, "ctest", "#!/bin/sh\necho '100% tests passed, 0 tests failed out of 1'\n")
        write_fake(fakes, "sleep", '#!/bin/sh\nexec %s "$(awk "BEGIN { print $1 / 10 }")"\n'
                   % shutil.which("sleep"))
        self.env = dict(os.environ, PATH=fakes + os.pathsep + os.environ["PATH"],
                        MACOS_SMOKE_BUILD=build, MACOS_SMOKE_EARLY_STOP="3",
                        FAKE_STATE=self.state, TMPDIR=self.root)
        self.addCleanup(self.end_fakes)

    def end_fakes(self):
        for name in ("tool.pids", "afplay.pids"):
            for pid in self.pids(name):
                with contextlib.suppress(ProcessLookupError):
                    os.kill(pid, signal.SIGKILL)

    def pids(self, name):
        try:
            with open(os.path.join(self.state, name)) as pids:
                return [int(line) for line in pids]
        except FileNotFoundError:
            return []

    def running_players(self):
        def running(pid):
            try:
                with open("/proc/%d/stat" % pid) as stat:
                    return stat.read().split(")")[1].split()[0] != "Z"
            except OSError:
                return False
        return [pid for pid in self.pids("afplay.pids") if running(pid)]

    def smoke(self, **faults):
        run = subprocess.run([SMOKE], env=dict(self.env, **faults), capture_output=True,
                             text=True, timeout=240)
        return run.returncode, run.stdout.splitlines()

    def lines(self, output, verdict):
        return [line for line in output if line.startswith(verdict)]

    def setting(self, name):
        with open(os.path.join(self.state, name)) as kept:
            return kept.read().strip()

    def assert_left_clean(self):
        self.assertEqual(self.running_players(), [], "afplay left playing")
        self.assertEqual(self.setting("input-volume"), "50", "input volume not restored")
        self.assertEqual(self.setting("output-muted"), "false", "output left muted")
        disks = self.setting("ram-disks").split() if os.path.exists(
            os.path.join(self.state, "ram-disks")) else []
        self.assertEqual(disks.count("attached"), disks.count("detached"), "RAM disk left")

    def test_a_working_mac_passes_every_check(self):
        status, output = self.smoke()
        self.assertEqual(self.lines(output, "FAIL"), [], "\n".join(output))
        self.assertEqual(status, 0)
        passed = "\n".join(self.lines(output, "PASS"))
        for check in ("with-microphone: the tone heard in every level",
                      "without-microphone: the tone heard in every level",
                      "with-microphone: system WAV: 32-bit float, 48 kHz, stereo",
                      "with-microphone: microphone WAV header's size is the file's",
                      "with-microphone: system WAV carries the tone (RMS 0.2500)",
                      "with-microphone: the WAVs are as long as each other",
                      "with-microphone: the WAVs are as long as the movie",
                      "sigterm: a video track", "over-earlier: a video track",
                      "parent exited: the recording stopped itself", "orphan: a video track",
                      "parent never reading: exit status 0 within 15 s of SIGINT",
                      "standard descriptors closed: status 0",
                      "missing folder: refused at the start, status 1",
                      "movie deleted while recording: told within 5 s, the stop fails",
                      "flushed while recording: 8 s, no recording_failed, final last",
                      "output-muted: the tone heard in every level", "output-muted: no output_muted",
                      "small disk: disk_low names the source's own file",
                      "SIGINT within 50 ms of spawn: ended at once, or ready, then final"):
            self.assertIn(check, passed)
        informed = "\n".join(self.lines(output, "INFO"))
        self.assertIn("killed after 3 s: AVFoundation cannot read the movie", informed)
        self.assertIn("stood still for 15 s: the movie lasts 5.02 s", informed)
        self.assertIn("input volume 0: the tool warned microphone_silent", informed)
        self.assertIn("Microphone", "\n".join(output))
        self.assert_left_clean()

    def test_each_planted_fault_has_its_own_fail_line(self):
        status, output = self.smoke(FAKE_MOVIE="novideo", FAKE_AFPLAY="broken",
                                    FAKE_SYSTEM_SECONDS="4.8", FAKE_WRITER="keeps-earlier",
                                    FAKE_PARENT_WATCH="none", FAKE_DESCRIPTORS="unguarded",
                                    FAKE_FOLDER="unchecked", FAKE_EARLY_SIGINT="lost",
                                    FAKE_MOVIE_WATCH="none", FAKE_FLUSH="refused",
                                    FAKE_DRAIN="unbounded", FAKE_OUTPUT_MUTE="told",
                                    FAKE_DISK_WATCH="movie")
        self.assertEqual(status, 1)
        failed = "\n".join(self.lines(output, "FAIL"))
        self.assertIn("with-microphone: no video track: does the H.264 writer refuse the "
                      "2x2-pixel video?", failed)
        self.assertIn("without-microphone: system RMS below 0.001 while a tone played", failed)
        self.assertIn("with-microphone: system WAV RMS 0.0000 while a tone played", failed)
        self.assertIn("with-microphone: the WAVs differ by more than 50 ms", failed)
        self.assertIn("over-earlier: exit status 1", failed)
        self.assertIn("parent exited: still recording after 10 s", failed)
        self.assertIn("standard descriptors closed: exit status 0, or records in", failed)
        self.assertIn("missing folder: exit status 0", failed)
        self.assertIn("SIGINT within 50 ms of spawn: 0.001 s: exit status 137", failed)
        self.assertIn("movie deleted while recording: told within 5 s: no", failed)
        self.assertIn("flushed while recording: exit status 1", failed)
        self.assertIn("parent never reading: exit status 137", failed)
        self.assertIn("output-muted: output_muted told on macOS", failed)
        self.assertIn("small disk: no disk_low for", failed)
        self.assertNotIn("microphone WAV", failed)
        self.assert_left_clean()

    def test_an_interrupted_run_stops_the_tone_and_restores_the_input_volume(self):
        smoke = subprocess.Popen([SMOKE], env=self.env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 120
        # Interrupted while the input volume is at 0 and the tone plays.
        while time.monotonic() < deadline and not (
                self.running_players() and self.setting("input-volume") == "0"):
            time.sleep(0.02)
        smoke.send_signal(signal.SIGTERM)
        self.assertEqual(smoke.wait(timeout=60), 143)
        self.assert_left_clean()


if __name__ == "__main__":
    unittest.main()
