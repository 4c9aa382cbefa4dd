"""What the end-to-end suites share: a private PulseAudio server with two test tones, a run of
the tool whose records are read as they come, and checks of the event stream and the movie.
"""

import array
import contextlib
import ctypes
import json
import math
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import traceback

SYSTEM_TONE = (440, 0.3)  # frequency, amplitude: a sine of RMS amplitude / sqrt(2)
MICROPHONE_TONE = (1000, 0.2)
SYSTEM_RMS = SYSTEM_TONE[1] / math.sqrt(2)
MICROPHONE_RMS = MICROPHONE_TONE[1] / math.sqrt(2)
MIXED_RMS = math.sqrt(SYSTEM_RMS**2 + MICROPHONE_RMS**2)  # two tones of different pitch
MICROPHONE_NAME = "USB Desk Microphone"
SAMPLES_PER_SECOND = 96000  # 48 kHz, two channels
WAV_HEADER = 94  # bytes of a per-source WAV before its samples, ending with their size
EVENT_TIMEOUT = 20
# The last video frame may run past the audio by the 1 ms it claims; the audio's own end is
# known to an AAC frame (21 ms).
END_SLACK = 0.03
# Sound captured between the start of capture and the first tick's clock: 0.03-0.06 s here, 0.1 s
# seen on a slow CI machine under AddressSanitizer.
START_BACKLOG = 0.25


class CaseEnded(Exception):
    """Ends a case that cannot go on, whose failure is recorded."""


class Failures:
    def __init__(self):
        self.messages = []
        self.group = ""

    def check(self, condition, message):
        if not condition:
            self.messages.append(f"[{self.group}] {message}")
        return condition


class SoundServer:
    """A PulseAudio daemon on a private socket, gone when the suite ends."""

    needs = ("pulseaudio", "pactl")

    def __init__(self, root):
        self.root = root
        self.socket = os.path.join(root, "native")
        self.env = dict(os.environ, HOME=root, PULSE_RUNTIME_PATH=os.path.join(root, "runtime"),
                        PULSE_STATE_PATH=os.path.join(root, "state"),
                        PULSE_SERVER="unix:" + self.socket)
        for inherited in ("PULSE_SINK", "PULSE_SOURCE"):
            self.env.pop(inherited, None)
        self.process = None
        self.tones = []

    def start(self):
        config = os.path.join(self.root, "server.pa")
        sink = "load-module module-null-sink format=float32le rate=48000 channels=2 sink_name="
        with open(config, "w") as out:
            # The native protocol last: clients connect only once the devices exist.
            out.write(
                f"{sink}speakers sink_properties=device.description=Speakers\n"
                f"{sink}microphone_feed sink_properties=device.description=Feed\n"
                "load-module module-remap-source source_name=usb_microphone "
                "master=microphone_feed.monitor source_properties=device.description=\""
                + MICROPHONE_NAME.replace(" ", "\\ ") + "\"\n"
                "set-default-sink speakers\nset-default-source usb_microphone\n"
                f"load-module module-native-protocol-unix auth-anonymous=1 socket={self.socket}\n")
        self.process = subprocess.Popen(
            ["pulseaudio", "-n", "-F", config, "--daemonize=no", "--exit-idle-time=-1",
             "--disallow-exit", "--log-target=stderr"],
            env=self.env, stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.root, "server.log"), "w"))
        if not wait_until(self.accepts, 15, interval=0.01):
            raise RuntimeError("the private PulseAudio server did not come up")
        self.accepting = time.monotonic()
        if f"Description: {MICROPHONE_NAME}" not in pactl(self, "list", "sources"):
            raise RuntimeError("the private PulseAudio server has no microphone")

    def accepts(self):
        with socket.socket(socket.AF_UNIX) as client:
            return client.connect_ex(self.socket) == 0

    def lost_when_unread(self, seconds):
        """What a record stream loses of `seconds` its reader does not read: the server holds 10 s
        and drops what comes after."""
        return max(0, seconds - 10)

    def keep_stream_mutes(self):
        """Keeps each application's stream mutes for its later streams, as desktops do."""
        pactl(self, "load-module", "module-stream-restore", "restore_device=false")

    def play_tones(self):
        play_tone(self, SYSTEM_TONE, "speakers")
        play_tone(self, MICROPHONE_TONE, "microphone_feed")
        self.wait_for_players(2)

    def wait_for_players(self, count):
        """Waits for `count` players and their start-up, which a recording would meter."""
        if not wait_until(lambda: len(pactl(self, "list", "short", "sink-inputs").splitlines())
                          >= count, 15):
            raise RuntimeError("the test tones did not start")
        time.sleep(2.0)

    def stop(self):
        for process in self.tones + [self.process]:
            if process and process.poll() is None:
                process.kill()
                process.wait()


class PipeWireServer(SoundServer):
    """The same devices on a private PipeWire: its daemon, its session manager (which needs a
    message bus) and its pulse server, as current desktops run them."""

    needs = ("pipewire", "wireplumber", "pw-metadata", "pw-dump", "pw-cli", "dbus-daemon",
             "pactl")

    def __init__(self, root):
        super().__init__(root)
        runtime = os.path.join(root, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        bus = os.path.join(root, "bus")
        self.env.update(XDG_RUNTIME_DIR=runtime, PIPEWIRE_RUNTIME_DIR=runtime,
                        XDG_CONFIG_HOME=os.path.join(root, "config"),
                        XDG_STATE_HOME=os.path.join(root, "state"),
                        DBUS_SESSION_BUS_ADDRESS="unix:path=" + bus)
        self.bus = bus
        self.daemons = []

    def spawn(self, name, command):
        log = open(os.path.join(self.root, name + ".log"), "w")
        self.daemons.append(subprocess.Popen(command, env=self.env, stdout=log, stderr=log))

    def start(self):
        self.spawn("bus", ["dbus-daemon", "--session", "--nofork", "--address=" +
                           self.env["DBUS_SESSION_BUS_ADDRESS"]])
        wait_until(lambda: os.path.exists(self.bus), 5, interval=0.01)
        self.spawn("pipewire", ["pipewire"])
        self.spawn("wireplumber", ["wireplumber"])
        # The pulse server configured here: the pipewire-pulse package, which would, replaces
        # PulseAudio.
        config = os.path.join(self.root, "pulse.conf")
        with open(config, "w") as out:
            out.write(
                "context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert\n"
                "  support.* = support/libspa-support }\n"
                "context.modules = [ { name = libpipewire-module-protocol-native }\n"
                "  { name = libpipewire-module-client-node } { name = libpipewire-module-adapter }\n"
                "  { name = libpipewire-module-metadata } { name = libpipewire-module-protocol-pulse }"
                " ]\n"
                f'pulse.properties = {{ server.address = [ "unix:{self.socket}" ] }}\n')
        self.spawn("pulse", ["pipewire", "-c", config])
        self.process = self.daemons[-1]
        if not wait_until(self.accepts, 15, interval=0.01):
            raise RuntimeError("the private PipeWire server did not come up")
        sink = ["load-module", "module-null-sink", "format=float32le", "rate=48000", "channels=2"]
        pactl(self, *sink, "sink_name=speakers", "sink_properties=device.description=Speakers")
        pactl(self, *sink, "sink_name=microphone_feed", "sink_properties=device.description=Feed")
        pactl(self, "load-module", "module-remap-source", "source_name=usb_microphone",
              "master=microphone_feed.monitor",
              f"source_properties='device.description=\"{MICROPHONE_NAME}\"'")
        # The session manager makes a default of a device once it has seen it.
        if not wait_until(self.try_defaults, 10, interval=0.1):
            raise RuntimeError("the private PipeWire server has no microphone")
        # One quantum for the whole graph: the microphone here is a loopback, whose tone breaks
        # for a moment each time a stream that connects changes the quantum.
        subprocess.run(["pw-metadata", "-n", "settings", "0", "clock.force-quantum", "1024"],
                       env=self.env, capture_output=True, check=True)
        self.accepting = time.monotonic()

    def try_defaults(self):
        try:
            pactl(self, "set-default-sink", "speakers")
            pactl(self, "set-default-source", "usb_microphone")
        except subprocess.CalledProcessError:
            return False
        return f"Description: {MICROPHONE_NAME}" in pactl(self, "list", "sources")

    def keep_stream_mutes(self):
        """WirePlumber keeps them already."""

    def lost_when_unread(self, seconds):
        """PipeWire holds as much, and drops all it held once that is full."""
        return seconds if seconds > 10 else 0

    def stop(self):
        for process in self.tones + self.daemons[::-1]:
            if process.poll() is None:
                process.kill()
                process.wait()


class Run:
    """One run of the tool; events are read as they come, with their arrival times."""

    def __init__(self, binary, arguments, env, **spawn):
        self.started = time.monotonic()
        self.process = subprocess.Popen([binary] + arguments, env=env, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True, **spawn)
        self.events = []
        self.bad_lines = []
        self.condition = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            with self.condition:
                try:
                    self.events.append((time.monotonic(), json.loads(line)))
                except json.JSONDecodeError:
                    self.bad_lines.append(line)
                self.condition.notify_all()
        with self.condition:
            self.condition.notify_all()

    def arrivals(self, kind, after=0.0, **keys):
        """The arrival times of the events of `kind` (with these `keys`) after monotonic `after`."""
        return [at for at, event in self.events if at > after and event.get("event") == kind
                and all(event.get(key) == value for key, value in keys.items())]

    def wait_for(self, kind, timeout=EVENT_TIMEOUT, after=0.0, count=1, **keys):
        """Like arrivals(), the `count`-th arrival, or None when it did not come in `timeout` s."""
        with self.condition:
            self.condition.wait_for(lambda: len(self.arrivals(kind, after, **keys)) >= count
                                    or not self.reader.is_alive(), timeout)
            found = self.arrivals(kind, after, **keys)
            return found[count - 1] if len(found) >= count else None

    def finish(self, timeout=EVENT_TIMEOUT):
        status = wait_or_kill(self.process, timeout)
        self.lasted = time.monotonic() - self.started
        self.reader.join(5)
        self.stderr = self.process.stderr.read()
        return status

    def kinds(self):
        return [event.get("event") for _, event in self.events]

    def of_kind(self, kind):
        return [event for _, event in self.events if event.get("event") == kind]


def wait_or_kill(process, timeout):
    """The exit status of `process`, or None when it had to be killed after `timeout` s."""
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


def wait_until(condition, timeout, interval=0.2):
    """Whether `condition()` came true within `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(interval)
    return True


def near(value, expected, tolerance):
    return abs(value - expected) <= tolerance * expected


def probe_streams(path):
    result = subprocess.run(
        ["ffprobe", "-v", "error", "-print_format", "json", "-show_format", "-show_streams", path],
        capture_output=True, text=True)
    return json.loads(result.stdout) if result.returncode == 0 else None


def decoded_audio(path):
    raw = subprocess.run(
        ["ffmpeg", "-v", "error", "-i", path, "-map", "0:a:0", "-f", "f32le", "-ac", "2", "-ar",
         "48000", "-"], capture_output=True).stdout
    return floats(raw)


def window_levels(samples):
    """RMS of every whole 100-ms window but the first and the last, the start's and stop's."""
    width = SAMPLES_PER_SECOND // 10
    return [(index, rms(samples[index * width:(index + 1) * width]))
            for index in range(1, len(samples) // width - 1)]


def interrupt(run, timeout=EVENT_TIMEOUT, signal_number=signal.SIGINT):
    """Sends SIGINT (or `signal_number`) and waits up to `timeout` s for the run to end; returns
    its status."""
    run.process.send_signal(signal_number)
    return run.finish(timeout)


def recording(f, binary, server, path, extra=()):
    """A run that has reported ready (at `run.ready`); ends the case, when it did not."""
    run = Run(binary, ["--output", path] + list(extra), server.env)
    run.ready = run.wait_for("ready")
    if not f.check(run.ready is not None, f"no ready: {run.kinds()}"):
        run.finish()
        raise CaseEnded
    return run


def record(binary, env, output, seconds, extra=()):
    """Records for `seconds` after "ready"; returns the run, its status and the span."""
    run = Run(binary, ["--output", output] + list(extra), env)
    ready = run.wait_for("ready")
    if ready is None:
        return run, run.finish(), 0.0
    time.sleep(seconds)
    span = time.monotonic() - ready
    return run, interrupt(run), span


def metered(level, source, rms, neighbours=(), backlog=0.0):
    """Whether a level record has a second of `source` at `rms`, or, for 0, nothing of it. On a
    slow machine a source's read may cross a tick: what one second lacks, the next carries, so a
    second a little off passes when it and one of its `neighbours` make two. Up to `backlog`
    seconds more may come first: the sound captured before the level clock started."""
    second = SAMPLES_PER_SECOND if rms else 0

    def without_backlog(samples, expected):
        return samples - min(max(samples - expected, 0), backlog * second)

    samples = without_backlog(level[f"{source}Samples"], second)
    made_up = any(near(without_backlog(other[f"{source}Samples"] + level[f"{source}Samples"],
                                       2 * second), 2 * second, 0.05)
                  for other in neighbours)
    return ((near(samples, second, 0.1) or made_up and near(samples, second, 0.25))
            and near(level[f"{source}Rms"], rms, 0.03))


def check_event_stream(f, run, status, expect_microphone):
    check_final(f, run, status, "recording")
    f.check(run.kinds()[:1] == ["ready"], f"first events {run.kinds()[:2]}")
    arrivals = run.arrivals("level")
    gaps = [b - a for a, b in zip(arrivals, arrivals[1:])]
    f.check(len(arrivals) >= 3 and all(0.7 < gap < 1.3 for gap in gaps),
            f"{len(arrivals)} level events, apart by {gaps}")
    microphone = MICROPHONE_RMS if expect_microphone else 0
    levels = run.of_kind("level")
    for index, level in enumerate(levels):
        neighbours = levels[max(index - 1, 0):index] + levels[index + 1:index + 2]
        # The start's backlog comes with the first level, or with the second after a late read.
        backlog = START_BACKLOG if index < 2 else 0.0
        f.check(metered(level, "system", SYSTEM_RMS, neighbours, backlog)
                and metered(level, "microphone", microphone, neighbours, backlog),
                f"level {level}, tones {SYSTEM_RMS:.4f} and {microphone:.4f}")
    # Since the last level: some, and a second at most, or the start's backlog if no level came;
    # nothing of a microphone that is off.
    for final in run.of_kind("final"):
        f.check(0 < final["systemSamples"] <= 1.5 * SAMPLES_PER_SECOND
                and (0 < final["microphoneSamples"] <= 1.5 * SAMPLES_PER_SECOND
                     if expect_microphone else final["microphoneSamples"] == 0), f"final {final}")


def streams(info, kind):
    return [stream for stream in info["streams"] if stream["codec_type"] == kind] if info else []


def check_movie(f, path, span, expected_rms):
    """A movie of one AAC and one H.264 stream, whose audio lasts `span` s, ends it and is at
    `expected_rms` in every window (None: not read); returns what ffprobe read, or None."""
    info = probe_streams(path)
    if not f.check(info is not None, f"ffprobe cannot read {path}"):
        return None
    audio, video = streams(info, "audio"), streams(info, "video")
    f.check("mov" in info["format"]["format_name"], f"format {info['format']['format_name']}")
    f.check(len(audio) == 1 and audio[0]["codec_name"] == "aac"
            and audio[0]["sample_rate"] == "48000" and audio[0]["channels"] == 2,
            f"audio streams {audio}")
    f.check(len(video) == 1 and video[0]["codec_name"] == "h264", f"video streams {video}")
    sound = audio[0] if audio else {}
    audio_duration = float(sound.get("duration", 0))
    audio_end = float(sound.get("start_time", 0)) + audio_duration
    duration = float(info["format"].get("duration", 0))
    f.check(abs(audio_duration - span) < 1.0, f"audio lasts {audio_duration:.2f} s of {span:.2f} s")
    f.check(abs(duration - audio_end) <= END_SLACK,
            f"the movie lasts {duration:.3f} s, its audio ends at {audio_end:.3f} s")
    if expected_rms is not None:
        levels = window_levels(decoded_audio(path))
        f.check(len(levels) >= span * 10 - 10, f"only {len(levels)} windows for {span:.1f} s")
        bad = off_windows(levels, expected_rms)
        f.check(not bad, f"{len(bad)} of {len(levels)} windows off {expected_rms:.4f}: {bad[:8]}")
    return info


def off_windows(levels, expected_rms):
    """The windows of `levels` more than 5 % off `expected_rms`."""
    return [(index, round(level, 4)) for index, level in levels
            if not near(level, expected_rms, 0.05)]


def check_error(f, run, status, stage, domain, code, within=None):
    """Status 1 and one record, a GError at `stage` (within `within` s); nothing on stderr."""
    errors = run.of_kind("error")
    f.check(status == 1 and run.kinds() == ["error"] and errors[0].get("stage") == stage
            and errors[0].get("errorName") == "GError" and errors[0].get("domain") == domain
            and errors[0].get("errorCode") == code,
            f"expected {stage} error {domain} {code}: status {status}, events {run.events}")
    f.check(not run.stderr, f"stderr: {run.stderr!r}")
    f.check(within is None or run.lasted < within, f"the {stage} took {run.lasted:.1f} s")


def check_stop_error(f, run, status, **expected):
    """Status 1, no final, nothing on stderr, and last an error of the stop with `expected`."""
    last = run.events[-1][1] if run.events else {}
    f.check(status == 1 and "final" not in run.kinds() and last.get("event") == "error"
            and all(last.get(key) == value for key, value in dict(expected, stage="stop").items()),
            f"status {status} (None: still running), records {run.kinds()[-3:]}, last {last}")
    f.check(run.stderr == "", f"stderr {run.stderr[:300]!r}")


def check_final(f, run, status, label):
    """Status 0, one final record and last, only records on stdout, nothing on stderr."""
    f.check(status == 0 and run.kinds().count("final") == 1 and run.kinds()[-1:] == ["final"],
            f"{label}: status {status}, events {run.kinds()}")
    f.check(not run.bad_lines, f"{label}: lines that are not records: {run.bad_lines[:2]}")
    f.check(run.stderr == "", f"{label}: stderr {run.stderr[:300]!r}")


def check_probe(f, binary, env):
    """A probe against a working server: granted, and nothing else on stdout or stderr."""
    run = Run(binary, ["--probe"], env)
    status = run.finish()
    events = [event for _, event in run.events]
    f.check(status == 0 and events == [{"event": "probe", "granted": True}] and not run.bad_lines,
            f"probe: status {status}, events {events}, other lines {run.bad_lines[:2]}")
    f.check(run.stderr == "", f"the probe wrote on stderr: {run.stderr[:300]!r}")


def become_subreaper():
    """Orphaned descendants come to this process, which can then wait for them."""
    ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER


def wait_reaped(pid, timeout):
    """The status of a child (adopted or not) once it has ended, or None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.05)
    return None


def slow_server(server, root, delay):
    """The environment of a client whose sound server answers only `delay` s after it connects:
    a relay in front of `server`, which stays undisturbed for the other clients."""
    relay = os.path.join(root, f"slow-{time.monotonic_ns()}")
    listener = socket.socket(socket.AF_UNIX)
    listener.bind(relay)
    listener.listen(8)

    def pump(source, sink):
        with contextlib.suppress(OSError):
            while data := source.recv(65536):
                sink.sendall(data)
            sink.shutdown(socket.SHUT_WR)

    def serve():
        while True:
            client, _ = listener.accept()
            time.sleep(delay)
            upstream = socket.socket(socket.AF_UNIX)
            upstream.connect(server.socket)
            for ends in ((client, upstream), (upstream, client)):
                threading.Thread(target=pump, args=ends, daemon=True).start()

    threading.Thread(target=serve, daemon=True).start()
    return relayed_env(server, relay)


def relayed_env(server, relay):
    """The environment of a client of `server` through a byte relay listening at `relay`, which
    cannot pass descriptors: the client is told not to use shared memory."""
    config = relay + ".conf"
    with open(config, "w") as out:
        out.write("enable-shm = no\nenable-memfd = no\nautospawn = no\n")
    return dict(server.env, PULSE_SERVER="unix:" + relay, PULSE_CLIENTCONFIG=config)


def refuse_system_call(number, error):
    """A preexec_fn that installs a seccomp filter under which system call `number` fails with
    `error`, as in a sandbox or on a file system that lacks it; children inherit it."""
    def install():
        libc = ctypes.CDLL(None, use_errno=True)
        load, jump_if_equal, give = 0x20, 0x15, 0x06  # BPF_LD|BPF_W|BPF_ABS, BPF_JMP|BPF_JEQ|BPF_K
        program = [(load, 0, 0, 0), (jump_if_equal, 0, 1, number),  # the call's number, at 0
                   (give, 0, 0, 0x00050000 | error), (give, 0, 0, 0x7FFF0000)]
        filters = (ctypes.c_uint64 * len(program))(
            *[code | jt << 16 | jf << 24 | k << 32 for code, jt, jf, k in program])
        fprog = ctypes.create_string_buffer(
            struct.pack("HxxxxxxP", len(program), ctypes.addressof(filters)))
        if (libc.prctl(38, 1, 0, 0, 0) != 0  # PR_SET_NO_NEW_PRIVS
                or libc.prctl(22, 2, fprog, 0, 0) != 0):  # PR_SET_SECCOMP, SECCOMP_MODE_FILTER
            raise OSError(ctypes.get_errno(), "seccomp")
    return install


# Set in a script that runs in a mount namespace of its own (in_own_mount_namespace).
NAMESPACE_MARK = "TESSALOQUIN_E2E_MOUNT_NAMESPACE"


def in_own_mount_namespace():
    """Re-runs this script in a mount namespace of its own (of a user namespace of its own when
    not root), so that a mount needs no cleaning up; goes on here when none can be had."""
    if os.environ.get(NAMESPACE_MARK) or not shutil.which("unshare"):
        return
    flags = ["-m"] if os.geteuid() == 0 else ["-Urm"]
    if subprocess.run(["unshare"] + flags + ["true"], capture_output=True).returncode != 0:
        return
    os.environ[NAMESPACE_MARK] = "1"
    os.execvp("unshare", ["unshare"] + flags + [sys.executable] + sys.argv)


def sanitized(binary):
    """Whether `binary` is an AddressSanitizer build: slower, with shadow memory mapped first."""
    with open(binary, "rb") as executable:
        return b"__asan_init" in executable.read()


def run_suite(name, cases, arguments=1, tones=True, fresh_server=False, server_type=SoundServer):
    """Runs each case(f, first argument, server, root) against a private server of
    `server_type`, a new one per case with `fresh_server`; a case that raises fails. Exits with
    the suite's status."""
    if len(sys.argv) != arguments + 1:
        sys.exit(sys.modules["__main__"].__doc__)
    tool = os.path.abspath(sys.argv[1])
    for needed in server_type.needs + ("gst-launch-1.0", "ffmpeg", "ffprobe"):
        if not shutil.which(needed):
            sys.exit(f"{needed} is required")
    f = Failures()
    root = server = None
    for index, case in enumerate(cases):
        f.group = case.__name__.replace("_", " ")
        try:
            if server is None:
                root = tempfile.mkdtemp(prefix=f"tessaloquin-{name.replace(' ', '-')}-")
                server = server_type(root)
                server.start()
                if tones:
                    server.play_tones()
            case(f, tool, server, root)
        except CaseEnded:
            pass
        except Exception:
            traceback.print_exc(file=sys.stdout)
            f.check(False, "the case raised an exception")
        finally:
            if server is not None and (fresh_server or index == len(cases) - 1):
                server.stop()
                shutil.rmtree(root, ignore_errors=True)
                root = server = None
    for message in f.messages:
        print("FAIL", message)
    print(f"{name}:", "failed" if f.messages else "passed")
    sys.exit(1 if f.messages else 0)


def pactl(server, *arguments):
    return subprocess.run(["pactl"] + list(arguments), env=server.env, capture_output=True,
                          text=True, check=True).stdout


def add_output(server, name, description, rate=48000, channels=2):
    """Adds a null output (with its monitor) to the private server; returns its module."""
    return pactl(server, "load-module", "module-null-sink", f"sink_name={name}", "format=float32le",
          f"rate={rate}", f"channels={channels}",
          f"sink_properties=device.description={description}")


def play_tone(server, tone, device=None):
    """Plays `tone` on `device`, or on the default output, which it then follows."""
    frequency, amplitude = tone
    sink = ["pulsesink"] + ([f"device={device}"] if device else [])
    player = subprocess.Popen(
        ["gst-launch-1.0", "-q", "audiotestsrc", "wave=sine", f"freq={frequency}",
         f"volume={amplitude}", "is-live=true", "!",
         "audio/x-raw,format=F32LE,rate=48000,channels=2", "!"] + sink,
        env=server.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    server.tones.append(player)
    return player


def boxes(data, position=0):
    """(kind, position) of each box in `data` from `position` on, to the end of `data`."""
    while position + 8 <= len(data):
        size, kind = struct.unpack(">I4s", data[position:position + 8])
        if size == 1:
            size = struct.unpack(">Q", data[position + 8:position + 16])[0]
        yield kind.decode(errors="replace"), position
        position = len(data) if size < 8 else position + size  # 0: to the end


def top_level_boxes(path):
    """The kinds of the movie's top-level boxes, in order; a stopped movie ends with "mfra"."""
    with open(path, "rb") as movie:
        return [kind for kind, _ in boxes(movie.read())]


def floats(raw, frame=4):
    """The 32-bit float samples in the whole frames of `raw`."""
    samples = array.array("f")
    samples.frombytes(raw[: len(raw) // frame * frame])
    return samples


def stereo(path, skip=0):
    """The float samples of a per-source stream, after `skip` bytes of header."""
    with open(path, "rb") as data:
        return floats(data.read()[skip:], frame=8)


def left(samples, start, seconds):
    """The left channel of `samples` from `start` s on, for `seconds` s."""
    first = int(start * 48000)
    return samples[2 * first:2 * (first + int(seconds * 48000)):2]


def rms(values):
    return math.sqrt(sum(x * x for x in values) / len(values)) if values else 0.0


def movie_audio_seconds(path):
    audio = streams(probe_streams(path), "audio")
    return float(audio[0]["duration"]) if audio else 0.0


def longest_silence(samples):
    """The longest run of near-zero audio, in seconds; a tone crosses zero in microseconds."""
    longest = run = 0
    for value in samples:
        run = run + 1 if abs(value) < 0.02 else 0
        longest = max(longest, run)
    return longest / SAMPLES_PER_SECOND
