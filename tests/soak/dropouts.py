#!/usr/bin/env python3
"""Plays a song's worth of music through the program's accompaniment player into a private sound
server, records what the server was given, and counts the dropouts: stretches of silence inside
music that has none. With --load, stress-ng keeps the machine busy meanwhile, as a desktop with a
browser and a build is.

The music is made here: four minutes (--seconds) of a tone gliding up and down over a steady hum,
encoded as OGG Vorbis, so any stretch of 20 ms or more without sound is a dropout.

usage: tests/soak/dropouts.py --player build/release/tests/play_music [--load] [--runs 3]

Needs pulseaudio, pulseaudio-utils, ffmpeg and, for --load, stress-ng. Prints one line per run
and exits 0 when no run had a dropout, 1 when one had, 77 when no sound server can be had here.
"""

import argparse
import array
import math
import os
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PULSE = os.path.join(HERE, "..", "support", "pulse-null-sink")
RATE = 44100
QUIET = 64          # a sample this small is silence (the music never comes near it)
GAP_MS = 20         # the shortest silence counted as a dropout


def make_music(path, seconds):
    """A tone gliding between 300 and 900 Hz every four seconds over a 110 Hz hum, stereo."""
    samples = array.array("h")
    phase = hum = 0.0
    for i in range(int(seconds * RATE)):
        t = i / RATE
        frequency = 600 + 300 * math.sin(2 * math.pi * t / 4)
        phase += 2 * math.pi * frequency / RATE
        hum += 2 * math.pi * 110 / RATE
        value = int(9000 * math.sin(phase) + 5000 * math.sin(hum))
        samples.extend((value, value))
    raw = path + ".raw"
    with open(raw, "wb") as out:
        samples.tofile(out)
    subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f",
                    "s16le", "-ar", str(RATE), "-ac", "2", "-i", raw, "-c:a", "libvorbis",
                    "-q:a", "4", path], check=True)
    os.remove(raw)


def dropouts(recording):
    """(count, longest ms, sound ms) of the stretches of silence between the first and the last
    sound in a 16-bit stereo recording."""
    data = array.array("h")
    with open(recording, "rb") as f:
        data.frombytes(f.read())
    frames = len(data) // 2
    loud = [abs(data[2 * i]) > QUIET for i in range(frames)]
    try:
        first = loud.index(True)
        last = frames - 1 - loud[::-1].index(True)
    except ValueError:
        return None
    gaps, longest, run = 0, 0, 0
    for i in range(first, last + 1):
        if loud[i]:
            if run * 1000 >= GAP_MS * RATE:
                gaps += 1
                longest = max(longest, run * 1000 // RATE)
            run = 0
        else:
            run += 1
    return gaps, longest, (last - first) * 1000 // RATE


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--player", required=True, help="the play_music program")
    parser.add_argument("--seconds", type=float, default=240)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--load", action="store_true", help="stress-ng --cpu 4 --io 2 meanwhile")
    args = parser.parse_args()
    player = os.path.abspath(args.player)

    # Ended from outside, it still stops its sound server and the load.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    work = tempfile.mkdtemp(prefix="quorvel-dropouts-")
    server = os.path.join(work, "pulse")
    # The server runs as a desktop's does, with real-time scheduling where it is granted.
    children = []  # the recorder and the load of the run under way
    subprocess.run([PULSE, "start", server], check=True,
                   env=dict(os.environ, PULSE_NULL_SINK_REALTIME="yes"))
    try:
        if os.path.exists(os.path.join(server, "unavailable")):
            print("SKIPPED:", open(os.path.join(server, "unavailable")).read().strip())
            return 77
        env = dict(os.environ)
        with open(os.path.join(server, "env")) as lines:
            env.update(line.rstrip("\n").split("=", 1) for line in lines if "=" in line)
        music = os.path.join(work, "music.ogg")
        make_music(music, args.seconds)
        failed = False
        for run in range(1, args.runs + 1):
            recording = os.path.join(work, f"recording-{run}.raw")
            recorder = subprocess.Popen(
                ["parec", "--device=v.monitor", "--format=s16le", f"--rate={RATE}",
                 "--channels=2", "--latency-msec=20", recording], env=env)
            children.append(recorder)
            load = None
            if args.load:
                load = subprocess.Popen(["stress-ng", "--cpu", "4", "--io", "2", "--quiet"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                children.append(load)
            time.sleep(1.0)
            started = time.monotonic()
            played = subprocess.run([player, music], env=env, capture_output=True, text=True)
            took = time.monotonic() - started
            if load:
                load.terminate()
                load.wait()
            time.sleep(0.5)
            recorder.terminate()
            recorder.wait()
            found = dropouts(recording)
            stalls = played.stderr.count("stopped taking sound")
            if played.returncode != 0 or found is None:
                print(f"run {run}: the music did not play ({played.stderr.strip()})")
                failed = True
                continue
            gaps, longest, sound = found
            print(f"run {run}{' under load' if args.load else ''}: {gaps} dropouts "
                  f"(longest {longest} ms) in {sound / 1000:.1f} s of sound, played in "
                  f"{took:.1f} s; the player saw {stalls} stalls")
            failed = failed or gaps > 0
            os.remove(recording)
        return 1 if failed else 0
    finally:
        for child in children:
            if child.poll() is None:
                child.terminate()
                child.wait()
        subprocess.run([PULSE, "stop", server])


if __name__ == "__main__":
    sys.exit(main())
