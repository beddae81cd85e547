"""Drives the real quorvel program on a private desktop, as a person would.

A virtual X server (Xvfb, no window manager) shows the program's window; a private PulseAudio
server has two null sinks: "accompaniment", the default output the program plays into, and
"singer", whose monitor is the default input. A performance played into "singer" reaches the
program's microphone, and the program never hears its own accompaniment. The program is clicked
and typed at with xdotool at its controls' positions and photographed with ImageMagick's import.

Everything started here is ended by its own process id, and the servers' files live in fresh
folders under /tmp.
"""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import wave


class Unavailable(Exception):
    """The desktop or the sound server cannot be had on this machine (the test is skipped)."""


class Failure(Exception):
    """Something a person would see went wrong."""


def _need(*tools):
    for tool in tools:
        if shutil.which(tool) is None:
            raise Unavailable(f"{tool} is not installed")


def _end(process, grace=5.0):
    """Ends a process we started: SIGTERM, then SIGKILL after the grace time."""
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class Desktop:
    """A virtual X server on a free display, 1024 x 768, no window manager."""

    def __init__(self):
        _need("Xvfb", "xdotool", "import", "xwininfo")
        read, write = os.pipe()
        self.log = tempfile.NamedTemporaryFile(prefix="quorvel-xvfb.", suffix=".log", delete=False)
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write,), stdout=self.log, stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL)
        os.close(write)
        number = b""
        deadline = time.monotonic() + 10
        with os.fdopen(read, "rb") as pipe:
            os.set_blocking(pipe.fileno(), False)
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = pipe.read()
                if chunk:
                    number += chunk
                elif self.process.poll() is not None:
                    break
                else:
                    time.sleep(0.05)
        if not number.strip().isdigit():
            self.close()
            raise Unavailable("Xvfb did not start: " + self._log_tail())
        self.display = ":" + number.decode().strip()

    def _log_tail(self):
        try:
            with open(self.log.name, encoding="utf-8", errors="replace") as log:
                return " ".join(log.read().splitlines()[-3:])
        except OSError:
            return ""

    def env(self):
        return {"DISPLAY": self.display}

    def run(self, *args, check=True):
        result = subprocess.run(args, env={**os.environ, **self.env()}, capture_output=True,
                                text=True, timeout=30)
        if check and result.returncode != 0:
            raise Failure(f"{' '.join(args)}: {result.stderr.strip()}")
        return result.stdout

    def windows(self):
        """The mapped top-level windows: a list of (title, x, y, width, height)."""
        found = []
        for line in self.run("xwininfo", "-root", "-children").splitlines():
            match = re.match(r'\s+0x[0-9a-f]+ (".*"|\(has no name\)): \(.*\)\s+'
                             r'(\d+)x(\d+)\+(-?\d+)\+(-?\d+)', line)
            if not match:
                continue
            window_id = line.split()[0]
            state = self.run("xwininfo", "-id", window_id, check=False)
            if "IsViewable" not in state:
                continue
            title = match.group(1).strip('"')
            w, h, x, y = (int(match.group(i)) for i in range(2, 6))
            found.append((title, x, y, w, h))
        return found

    def screenshot(self, path):
        self.run("import", "-window", "root", path)
        return path

    def close(self):
        _end(self.process)
        try:
            os.unlink(self.log.name)
        except OSError:
            pass


class SoundServer:
    """A private PulseAudio server with the sinks "accompaniment" and "singer"."""

    def __init__(self):
        _need("pulseaudio", "pactl", "parec", "paplay")
        self.runtime = tempfile.mkdtemp(prefix="quorvel-e2e-pulse.")
        self.keepalive = None
        self.server_pid = None
        runtime = self.runtime
        for sub in ("home", "config/pulse", "state", "cache", "pulse"):
            os.makedirs(os.path.join(runtime, sub), exist_ok=True)
        os.chmod(os.path.join(runtime, "pulse"), 0o700)
        with open(os.path.join(runtime, "client.conf"), "w") as conf:
            conf.write("autospawn = no\n")
        self._env = {
            "HOME": f"{runtime}/home", "XDG_RUNTIME_DIR": runtime,
            "XDG_CONFIG_HOME": f"{runtime}/config", "XDG_STATE_HOME": f"{runtime}/state",
            "XDG_CACHE_HOME": f"{runtime}/cache", "PULSE_RUNTIME_PATH": f"{runtime}/pulse",
            "PULSE_STATE_PATH": f"{runtime}/state", "PULSE_CLIENTCONFIG": f"{runtime}/client.conf",
            "PULSE_COOKIE": f"{runtime}/config/pulse/cookie",
            "PULSE_SERVER": f"unix:{runtime}/native", "JACK_NO_START_SERVER": "1",
        }
        log = os.path.join(runtime, "pulseaudio.log")
        started = subprocess.run(
            ["pulseaudio", "-n", "--daemonize=yes", "--exit-idle-time=-1", "--realtime=yes",
             "--high-priority=yes", "--use-pid-file=yes", f"--log-target=file:{log}",
             f"--load=module-native-protocol-unix auth-anonymous=1 socket={runtime}/native",
             "--load=module-null-sink sink_name=accompaniment rate=48000",
             "--load=module-null-sink sink_name=singer rate=48000"],
            env=self.env(), stdin=subprocess.DEVNULL, capture_output=True, text=True)
        try:
            with open(os.path.join(runtime, "pulse", "pid")) as pid:
                self.server_pid = int(pid.read().strip())
        except (OSError, ValueError):
            pass
        if started.returncode != 0 or self.server_pid is None:
            reason = (started.stderr or "").strip().splitlines()[-1:] or ["no process id"]
            self.close()
            raise Unavailable("pulseaudio did not start: " + reason[0])
        for _ in range(50):
            if self.pactl("info", check=False) is not None:
                break
            time.sleep(0.1)
        else:
            self.close()
            raise Unavailable("pulseaudio does not answer")
        self.pactl("set-default-sink", "accompaniment")
        self.pactl("set-default-source", "singer.monitor")
        # A stream kept open on the monitor holds the server at a short latency.
        self.keepalive = subprocess.Popen(
            ["parec", "--latency-msec=20", "-d", "singer.monitor"], env=self.env(),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.0)
        if self.keepalive.poll() is not None:
            self.close()
            raise Unavailable("parec could not record from the singer sink")

    def env(self):
        return dict(self._env)

    def pactl(self, *args, check=True):
        result = subprocess.run(["pactl", *args], env={**os.environ, **self.env()},
                                capture_output=True, text=True, timeout=20)
        if result.returncode != 0:
            if check:
                raise Failure(f"pactl {' '.join(args)}: {result.stderr.strip()}")
            return None
        return result.stdout

    def wait_for_sound(self, sink, timeout=60.0, level=300):
        """Listens to a sink until something louder than level plays there; True when heard."""
        listener = subprocess.Popen(
            ["parec", "--raw", "--format=s16le", "--channels=1", "--rate=8000",
             "--latency-msec=10", "-d", f"{sink}.monitor"],
            env={**os.environ, **self.env()}, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        os.set_blocking(listener.stdout.fileno(), False)
        deadline = time.monotonic() + timeout
        heard = False
        try:
            while not heard and time.monotonic() < deadline:
                chunk = listener.stdout.read(160)
                if not chunk:
                    time.sleep(0.002)
                    continue
                samples = memoryview(chunk[: len(chunk) // 2 * 2]).cast("h")
                heard = any(abs(sample) > level for sample in samples)
        finally:
            _end(listener)
        return heard

    def play(self, wav):
        """Sings a recording into the singer sink; returns its process."""
        return subprocess.Popen(["paplay", "--latency-msec=20", "-d", "singer", wav],
                                env={**os.environ, **self.env()}, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _client_blocks(self, pid):
        """The server's descriptions of the clients that belong to process pid."""
        return [block.strip() for block in (self.pactl("list", "clients") or "").split("\n\n")
                if re.search(rf'application\.process\.id = "{pid}"', block)]

    def clients_of(self, pid):
        """The server's clients that belong to process pid ("Client #N" each)."""
        return [block.splitlines()[0] for block in self._client_blocks(pid)]

    def streams_of(self, pid):
        """Where process pid plays to and records from: (sink names, source names)."""
        sinks = dict(self._names("sinks"))
        sources = dict(self._names("sources"))
        clients = {name.split("#")[-1] for name in self.clients_of(pid)}

        def owned(kind, names, key):
            found = []
            for block in (self.pactl("list", kind) or "").split("\n\n"):
                client = re.search(r"Client: (\d+)", block)
                target = re.search(rf"{key}: (\d+)", block)
                if client and target and client.group(1) in clients:
                    found.append(names.get(target.group(1), target.group(1)))
            return found

        return owned("sink-inputs", sinks, "Sink"), owned("source-outputs", sources, "Source")

    def _names(self, kind):
        for line in (self.pactl("list", "short", kind) or "").splitlines():
            fields = line.split("\t")
            if len(fields) >= 2:
                yield fields[0], fields[1]

    def close(self):
        _end(self.keepalive)
        if self.server_pid:
            try:
                os.kill(self.server_pid, signal.SIGTERM)
                for _ in range(50):
                    os.kill(self.server_pid, 0)
                    time.sleep(0.1)
                os.kill(self.server_pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.server_pid = None
        shutil.rmtree(self.runtime, ignore_errors=True)


class Program:
    """The quorvel executable running in a song library folder, its window and its trace output."""

    WIDTH, HEIGHT = 800, 600

    def __init__(self, executable, library, desktop, sound=None, args=(), log=None):
        self.desktop = desktop
        self.library = library
        self.log_path = log or os.path.join(library, "quorvel.log")
        env = {**os.environ, **desktop.env(), "QT_QPA_PLATFORM": "xcb"}
        env.pop("QT_QPA_PLATFORM_PLUGIN_PATH", None)
        if sound:
            env.update(sound.env())
        else:
            env.setdefault("XDG_RUNTIME_DIR", tempfile.mkdtemp(prefix="quorvel-e2e-run."))
        self._log = open(self.log_path, "w")
        self.process = subprocess.Popen([executable, *args], cwd=library, env=env,
                                        stdin=subprocess.DEVNULL, stdout=self._log,
                                        stderr=subprocess.STDOUT)
        self.pid = self.process.pid
        self.children = set()
        self.window = self._find_window()

    def _find_window(self, timeout=120, still=1.0):
        """Where the main window is, once it has stayed there for `still` seconds (the window
        may be mapped at one place and then centred on the screen)."""
        deadline = time.monotonic() + timeout
        seen, since = None, None
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise Failure(f"quorvel ended at start (status {self.process.returncode}): "
                              + self.trace()[-400:])
            places = [(x, y) for _, x, y, w, h in self.desktop.windows()
                      if (w, h) == (self.WIDTH, self.HEIGHT)]
            place = places[0] if places else None
            if place != seen:
                seen, since = place, time.monotonic()
            elif place is not None and time.monotonic() - since >= still:
                return place
            time.sleep(0.2)
        raise Failure("the main window did not appear: " + self.trace()[-400:])

    # What a person does.
    def click(self, x, y, settle=0.6):
        """Clicks at a point of the main window, given in its own pixels."""
        wx, wy = self.window
        self.desktop.run("xdotool", "mousemove", "--sync", str(wx + x), str(wy + y))
        self.desktop.run("xdotool", "click", "1")
        self._note_children()
        time.sleep(settle)

    def key(self, name, settle=0.6):
        self.desktop.run("xdotool", "key", name)
        time.sleep(settle)

    # What a person sees.
    def screenshot(self, path):
        """The whole screen, and the main window cut out of it as path."""
        whole = path.replace(".png", "-screen.png")
        self.desktop.screenshot(whole)
        x, y = self.window
        subprocess.run(["convert", whole, "-crop", f"{self.WIDTH}x{self.HEIGHT}+{x}+{y}",
                        "+repage", path], check=True)
        return path

    def trace(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as log:
            return log.read()

    def wait_for_trace(self, pattern, timeout, since=0):
        """Waits for a line of the trace output after its first `since` characters."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            match = re.search(pattern, self.trace()[since:])
            if match:
                return match
            if self.process.poll() is not None:
                raise Failure(f"quorvel ended (status {self.process.returncode}) while waiting "
                              f"for {pattern!r}")
            self._note_children()
            time.sleep(0.5)
        raise Failure(f"no {pattern!r} in the trace output within {timeout} s")

    # What is running.
    def threads(self):
        return len(os.listdir(f"/proc/{self.pid}/task"))

    def open_files(self):
        return len(os.listdir(f"/proc/{self.pid}/fd"))

    def memory_kib(self):
        """(resident, peak resident) in KiB."""
        values = {}
        with open(f"/proc/{self.pid}/status") as status:
            for line in status:
                key, _, rest = line.partition(":")
                if key in ("VmRSS", "VmHWM"):
                    values[key] = int(rest.split()[0])
        return values["VmRSS"], values["VmHWM"]

    def _note_children(self):
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open(f"/proc/{pid}/stat") as stat:
                    parent = int(stat.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
            if parent == self.pid:
                self.children.add(int(pid))

    def wait_exit(self, timeout=60):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"quorvel still runs {timeout} s after it was asked to end "
                          f"({self.threads()} threads)")

    def stray_children(self):
        left = []
        for pid in self.children:
            try:
                with open(f"/proc/{pid}/stat") as stat:
                    if stat.read().rsplit(")", 1)[1].split()[0] != "Z":
                        left.append(pid)
            except OSError:
                pass
        return left

    def close(self):
        _end(self.process)
        self._log.close()


class Singer:
    """Sings recordings into the singer sink, each as the music of its song begins.

    A person hears the music and sings with it. Here the cue is the music's first sound in the
    accompaniment sink's own stream of samples, listened to from before the music can start,
    and the singing goes into a playback stream opened beforehand: neither a process starting
    nor this test's polling of the trace puts the singer behind the music. When the cue is read
    late (a loaded machine), the recording starts as far into itself as the music already is.

    The music of a song begins after silence: before the first song there is nothing, and
    between two songs of a medley the sink is silent for some 30 ms, while the demo music never
    stays silent for SILENCE_MS. The next song's music cannot begin before the previous
    recording is nearly sung, so that a moment of silence inside a song (the sound server did
    not get the music in time) is not taken for the next song's cue.
    """

    RATE = 8000          # the listener's samples per second
    LEVEL = 300          # louder than this is sound
    SILENCE_MS = 8       # silence before a song's music, at least
    EARLY_S = 1.0        # how much sooner than its recording's end the next song may begin
    BUFFER_MS = 500      # the singing is written this far ahead: a busy machine does not stop it

    def __init__(self, sound, recordings, leads=None):
        """leads: the seconds of silence each song's music begins with (none by default)."""
        self.leads = list(leads or [0.0] * len(recordings))
        self.recordings = []
        for path in recordings:
            with wave.open(path, "rb") as wav:
                if wav.getsampwidth() != 2:
                    raise Failure(f"{path}: the singer sings 16-bit recordings")
                shape = (wav.getframerate(), wav.getnchannels())
                self.recordings.append((shape, wav.readframes(wav.getnframes())))
        if len({shape for shape, _ in self.recordings}) != 1:
            raise Failure("the singer's recordings differ in rate or channels")
        (rate, channels), _ = self.recordings[0]
        self.frame = 2 * channels
        self.rate = rate
        env = {**os.environ, **sound.env()}
        # A stream for each recording, so that one running over into the next song's music
        # sings along with it as a person would, and none waits behind another's queue. The
        # whole recording is written at once, so a deep buffer fills at once and costs no delay.
        self.players = [subprocess.Popen(
            ["pacat", "--playback", "--raw", "--format=s16le", f"--rate={rate}",
             f"--channels={channels}", f"--latency-msec={self.BUFFER_MS}", "-d", "singer"],
            env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL) for _ in self.recordings]
        self.listener = subprocess.Popen(
            ["parec", "--raw", "--format=s16le", "--channels=1", f"--rate={self.RATE}",
             "--latency-msec=10", "-d", "accompaniment.monitor"],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        self.heard = 0                 # samples listened to
        self.cues = []                 # (the music's start, seconds the cue was read late)
        # Sound heard before the singer is ready for the song is no cue: the singer waits for
        # the music after a silence heard once the start is about to be pressed.
        self.armed = self.rearmed = False
        self.changed = threading.Condition()
        self.writers = []
        self.thread = threading.Thread(target=self._listen, daemon=True)
        self.thread.start()

    def ready(self, timeout=30.0):
        """True once the listener hears the sink (before the music is started)."""
        with self.changed:
            return self.changed.wait_for(lambda: self.heard >= self.RATE // 5, timeout)

    def arm(self):
        """The song is about to be started: the next music after a silence is its music."""
        self.armed = self.rearmed = True

    def cue(self, number, timeout=60.0):
        """Waits for the music of the number-th song (from 0); how far into the song its
        recording started (seconds), or None when that music was not heard."""
        with self.changed:
            if not self.changed.wait_for(lambda: len(self.cues) > number, timeout):
                return None
            return self.cues[number][1]

    def _listen(self):
        fd = self.listener.stdout.fileno()
        quiet = 0          # samples of silence just heard
        earliest = 0       # the sample before which the next song's music cannot begin
        odd = b""
        while len(self.cues) < len(self.recordings):
            data = os.read(fd, 65536)   # all there is: the last sample read is the present
            if not data:
                return
            data = odd + data
            odd = data[len(data) // 2 * 2:]
            samples = memoryview(data[: len(data) // 2 * 2]).cast("h")
            if self.rearmed:
                # Only a silence heard after the start counts before the music.
                self.rearmed = False
                quiet = 0
            for i, sample in enumerate(samples):
                if abs(sample) <= self.LEVEL:
                    quiet += 1
                    continue
                at = self.heard + i
                if self.armed and quiet * 1000 >= self.SILENCE_MS * self.RATE \
                        and at >= earliest and len(self.cues) < len(self.recordings):
                    late = (len(samples) - i) / self.RATE + self.leads[len(self.cues)]
                    self._sing(len(self.cues), late)
                    (_, pcm) = self.recordings[len(self.cues)]
                    length = len(pcm) // self.frame / self.rate
                    earliest = at + int((length - self.EARLY_S) * self.RATE)
                    with self.changed:
                        self.cues.append((at, late))
                        self.changed.notify_all()
                quiet = 0
            with self.changed:
                self.heard += len(samples)
                self.changed.notify_all()

    def _sing(self, number, late):
        (_, pcm) = self.recordings[number]
        skip = min(len(pcm), int(late * self.rate) * self.frame)
        writer = threading.Thread(target=self._write, args=(self.players[number], pcm[skip:]),
                                  daemon=True)
        writer.start()
        self.writers.append(writer)

    @staticmethod
    def _write(player, pcm):
        try:
            player.stdin.write(pcm)
            player.stdin.flush()
        except (BrokenPipeError, ValueError):
            pass

    def finish(self, timeout=90.0):
        """Waits until every recording that started is sung; ends the streams."""
        deadline = time.monotonic() + timeout
        for writer in list(self.writers):
            writer.join(max(0.0, deadline - time.monotonic()))
        for player in self.players:
            try:
                player.stdin.close()
            except BrokenPipeError:
                pass
            try:
                player.wait(max(1.0, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                pass
        self.close()

    def close(self):
        for player in self.players:
            _end(player)
        _end(self.listener)
        self.thread.join(5.0)


class Stage:
    """A desktop and a sound server, and the program started on them; all ended on leaving a
    `with` block. Raises Unavailable when the desktop or the sound server cannot start."""

    def __init__(self):
        self.program = None
        self.desktop = Desktop()
        try:
            self.sound = SoundServer()
        except Unavailable:
            self.desktop.close()
            raise

    def start(self, executable, library, **options):
        self.program = Program(executable, library, self.desktop, self.sound, **options)
        return self.program

    def __enter__(self):
        return self

    def __exit__(self, *_):
        if self.program:
            self.program.close()
        self.sound.close()
        self.desktop.close()


def copy_library(demo, into):
    """A copy of the demo library to sing in; returns its folder."""
    library = os.path.join(into, "library")
    shutil.rmtree(library, ignore_errors=True)
    shutil.copytree(demo, library)
    return library


def _ultrastar_song(folder):
    """(name, has medley bounds) of the UltraStar song in a folder, or None: "Artist - Title"."""
    for name in sorted(os.listdir(folder)):
        if not name.lower().endswith(".txt"):
            continue
        headers = {}
        with open(os.path.join(folder, name), encoding="utf-8-sig", errors="replace") as text:
            for line in text:
                if not line.startswith("#"):
                    break
                key, _, value = line[1:].partition(":")
                headers[key.strip().upper()] = value.strip()
        if "BPM" in headers:
            medley = ("MEDLEYSTARTBEAT" in headers and "MEDLEYENDBEAT" in headers) or (
                "MEDLEYSTART" in headers and "MEDLEYEND" in headers)
            return f"{headers.get('ARTIST', '')} - {headers.get('TITLE', '')}", medley
    return None


def listing_order(library, medley):
    """The songs in the order the program lists them: native songs by their folder names, and
    UltraStar songs as "Artist - Title" (in the medley list those with medley bounds, from both
    song folders); letter by letter, Chinese characters by pinyin (GB2312 orders its common
    characters by pinyin) before the others, which go alphabetically, letter case aside."""
    names = []
    for kind in ("单曲", "串烧歌曲"):
        root = os.path.join(library, "歌曲", kind)
        for name in os.listdir(root):
            folder = os.path.join(root, name)
            if not os.path.isdir(folder):
                continue
            native = os.path.exists(os.path.join(folder, "断点"))
            ultrastar = None if native else _ultrastar_song(folder)
            if native and (kind == "串烧歌曲") == medley:
                names.append(name)
            elif ultrastar and (ultrastar[1] or not medley):
                names.append(ultrastar[0])

    def letter(c):
        if ord(c) >= 0x2E80:
            try:
                return (1, c.encode("gb2312"))
            except UnicodeEncodeError:
                pass
        return (2, c.casefold().encode())

    return sorted(names, key=lambda name: [letter(c) for c in name])


def split_wav(wav, starts, into):
    """Cuts a recording into pieces that begin at the given seconds; returns their files."""
    _need("sox")
    pieces = []
    for number, start in enumerate(starts):
        piece = os.path.join(into, f"piece-{number + 1}.wav")
        trim = ["trim", str(start)]
        if number + 1 < len(starts):
            trim.append(f"={starts[number + 1]}")
        subprocess.run(["sox", wav, piece, *trim], check=True)
        pieces.append(piece)
    return pieces


def repeat_wav(wav, seconds, into):
    """A recording played over and over for at least the given seconds, as the file into."""
    _need("sox", "soxi")
    length = float(subprocess.run(["soxi", "-D", wav], capture_output=True, text=True,
                                  check=True).stdout)
    times = max(0, int(seconds / length))
    subprocess.run(["sox", wav, into, "repeat", str(times)], check=True)
    return into


# Pictures.
def _grey_rows(path, x, y, w, h):
    """The darkest grey level of each pixel row of a region (0 black ... 255 white)."""
    result = subprocess.run(
        ["convert", path, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-colorspace", "gray",
         "-negate", "-scale", f"1x{h}!", "-depth", "8", "txt:-"],
        capture_output=True, text=True, check=True)
    # -negate then a one-pixel-wide scale gives each row's mean darkness; enough to find text.
    rows = []
    for line in result.stdout.splitlines()[1:]:
        match = re.search(r"gray\((\d+(?:\.\d+)?)%?\)|\((\d+)[,)]", line)
        if match:
            value = float(match.group(1) or match.group(2))
            if "%" in line.split("gray(")[-1]:
                value = value * 255 / 100
            rows.append(value)
    return rows


def text_rows(path, x, y, w, h, threshold=4.0):
    """The centres of the lines of dark text in a light region (a list, top to bottom)."""
    rows = _grey_rows(path, x, y, w, h)
    centres, start = [], None
    for i, value in enumerate(rows + [0.0]):
        if value > threshold and start is None:
            start = i
        elif value <= threshold and start is not None:
            if i - start >= 4:  # a line of text, not a border
                centres.append(y + (start + i) // 2)
            start = None
    return centres


def differing_pixels(first, second, x, y, w, h):
    """How many pixels of a region differ between two pictures of the same size."""
    crop = f"{w}x{h}+{x}+{y}"
    result = subprocess.run(
        ["compare", "-metric", "AE", "-fuzz", "8%", f"{first}[{crop}]", f"{second}[{crop}]",
         "null:"], capture_output=True, text=True)
    if result.returncode not in (0, 1):
        raise Failure("compare: " + result.stderr.strip())
    return int(float(result.stderr.split()[0]))


def count_colour(path, colour, x, y, w, h, fuzz="12%"):
    """How many pixels of a region are close to a colour such as "#ff00ff"."""
    result = subprocess.run(
        ["convert", path, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-fuzz", fuzz, "-fill",
         "black", "+opaque", colour, "-fill", "white", "-opaque", colour, "-colorspace", "gray",
         "-format", "%[fx:mean*w*h]", "info:"], capture_output=True, text=True, check=True)
    return int(round(float(result.stdout.strip())))


def colour_runs(path, colour, x, y, h, fuzz="12%"):
    """The vertical runs (top, bottom) of a colour in one column of pixels, top to bottom."""
    result = subprocess.run(
        ["convert", path, "-crop", f"1x{h}+{x}+{y}", "+repage", "-fuzz", fuzz, "-fill", "black",
         "+opaque", colour, "-fill", "white", "-opaque", colour, "-colorspace", "gray",
         "-depth", "8", "txt:-"], capture_output=True, text=True, check=True)
    runs, start = [], None
    rows = [line for line in result.stdout.splitlines()[1:] if line.strip()]
    for i, line in enumerate(rows + ["(0)"]):
        white = "255" in line.split(")")[0] or "100%" in line.split(")")[0]
        if white and start is None:
            start = i
        elif not white and start is not None:
            runs.append((y + start, y + i - 1))
            start = None
    return runs


def history_attempts(home):
    """The attempts the program's history keeps: (line, score) of each, oldest first."""
    import sqlite3
    for folder, _, files in os.walk(home):
        if "history.sqlite" in files:
            with sqlite3.connect(os.path.join(folder, "history.sqlite")) as db:
                return db.execute("SELECT line, score FROM attempts ORDER BY id").fetchall()
    return []

