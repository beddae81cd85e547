#!/usr/bin/env python3
"""Renders the sampled-voice fixtures of the pitch and judging tests.

Melodies are written as MIDI files and played by fluidsynth with the General MIDI sound font
(fluid-soundfont-gm): program 54 "Voice Oohs" and program 53 "Choir Aahs", reverb and chorus off.
sox turns fluidsynth's output into 8000 Hz mono FLAC (OGG Vorbis for the performances). The ground truth is the MIDI notes, written
beside each recording:

  tracker-solo.flac, tracker-vibrato.flac, tracker-choir.flac (+ .notes)
      a melody over the whole range the tracker hears, for the tracker's accuracy; the vibrato
      recording bends every note by +-50 cents at 5 to 6 Hz. Each .notes line is
      "on off midi vibrato-hz vibrato-cents" (seconds; the bend is depth * sin(2 pi hz (t - on))).
  song.txt
      the judged song: four 5-second lines, one line per row: "start pitch:values ...", pitches
      as reference values (tenths of a semitone with the singer offset), 0 for a rest.
  role1-<performance>.ogg, role2-<performance>.ogg
      the performances of the judging table, sung in each role's octave (the reference minus
      12 semitones for the first role, minus 8 for the second).

Needs python3, fluidsynth, fluid-soundfont-gm and sox. Run from anywhere; writes next to this
script. The outputs are committed: the build and the tests do not run this script.
"""
import math
import os
import random
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOUNDFONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
VOICE_OOHS, CHOIR_AAHS = 53, 52  # General MIDI programs 54 and 53, counted from 0
TICKS = 1000                     # per quarter note; at 60 bpm one tick is one millisecond
VALUE = 0.015                    # seconds per reference value


def var_len(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, (n & 0x7F) | 0x80)
        n >>= 7
    return bytes(out)


def midi_file(program, events):
    """events: (seconds, bytes) of channel 0; returns a type-0 MIDI file at 60 bpm."""
    track = bytearray()
    track += var_len(0) + bytes([0xFF, 0x51, 3]) + (1000000).to_bytes(3, "big")  # 60 bpm
    track += var_len(0) + bytes([0xC0, program])
    track += var_len(0) + bytes([0xB0, 7, 110])  # channel volume
    now = 0
    for at, data in sorted(events, key=lambda e: (e[0], e[1][0] & 0xF0 == 0x90)):
        tick = int(round(at * 1000))
        track += var_len(max(tick - now, 0)) + data
        now = max(now, tick)
    track += var_len(0) + bytes([0xFF, 0x2F, 0])
    return (b"MThd" + struct.pack(">IHHH", 6, 0, 1, TICKS) + b"MTrk" + struct.pack(">I", len(track))
            + bytes(track))


def note_events(notes):
    """notes: (on, off, midi, vibrato-hz, vibrato-cents); pitch bend range +-2 semitones."""
    events = []
    for on, off, midi, hz, cents in notes:
        events.append((on, bytes([0x90, midi, 100])))
        events.append((off, bytes([0x80, midi, 0])))
        if cents:
            t = on
            while t < off:
                bend = 8192 + int(round(cents / 200.0 * 8191 * math.sin(2 * math.pi * hz * (t - on))))
                events.append((t, bytes([0xE0, bend & 0x7F, bend >> 7])))
                t += 0.005
            events.append((off, bytes([0xE0, 0, 64])))
    return events


def render(path, program, notes, seconds):
    with tempfile.TemporaryDirectory() as tmp:
        mid = os.path.join(tmp, "song.mid")
        wav = os.path.join(tmp, "song.wav")
        with open(mid, "wb") as out:
            out.write(midi_file(program, note_events(notes)))
        subprocess.run(["fluidsynth", "-ni", "-q", "-R", "0", "-C", "0", "-g", "0.6", "-r", "44100",
                        "-F", wav, SOUNDFONT, mid], check=True, stdout=subprocess.DEVNULL)
        # Lossless for the tracker's material, Vorbis (quality 4) for the performances.
        quality = ["-C", "4"] if path.endswith(".ogg") else ["-b", "16"]
        subprocess.run(["sox", "-D", wav, "-r", "8000", "-c", "1", *quality, path,
                        "trim", "0", str(seconds), "gain", "-n", "-6"], check=True)


def tracker_material():
    rng = random.Random(7)
    notes, t = [], 0.5
    while t < 30.0:
        length = rng.uniform(0.25, 0.9)
        notes.append((round(t, 3), round(t + length, 3), rng.randint(43, 77)))
        t += length + rng.choice([0.0, 0.0, 0.1, 0.4, 0.8])
    seconds = t + 1.0
    vibrato = [(on, off, m, round(rng.uniform(5.0, 6.0), 2), 50) for on, off, m in notes]
    plain = [(on, off, m, 0, 0) for on, off, m in notes]
    for name, program, rows in (("solo", VOICE_OOHS, plain), ("vibrato", VOICE_OOHS, vibrato),
                                ("choir", CHOIR_AAHS, plain)):
        render(os.path.join(HERE, f"tracker-{name}.flac"), program, rows, seconds)
        with open(os.path.join(HERE, f"tracker-{name}.notes"), "w") as out:
            for row in rows:
                out.write("%.3f %.3f %d %g %d\n" % row)


# The judged song: four lines of 5 s, each opening and closing with a breath (in reference values).
# Notes are (MIDI note in the reference's scale, values); 0 is a rest.
SONG = [
    (2.0, [(0, 10), (64, 30), (64, 30), (65, 30), (67, 30), (67, 30), (65, 30), (64, 30),
           (62, 30), (60, 40), (0, 13), (60, 20), (62, 20)]),
    (7.5, [(0, 10), (64, 40), (62, 20), (62, 50), (0, 20), (64, 30), (64, 30), (65, 30), (67, 30),
           (67, 30), (65, 23), (0, 20)]),
    (13.0, [(0, 10), (64, 30), (62, 30), (60, 30), (60, 30), (62, 30), (64, 30), (62, 45),
            (60, 15), (60, 60), (0, 23)]),
    (18.5, [(0, 10), (62, 30), (62, 30), (64, 30), (60, 30), (62, 30), (64, 15), (65, 15),
            (64, 30), (60, 30), (62, 30), (67, 40), (0, 13)]),
]
# Another tune over the same lines, for "a different melody".
OTHER = [
    [(0, 10), (69, 45), (72, 45), (71, 45), (67, 45), (69, 45), (0, 20), (72, 45), (74, 33)],
    [(0, 10), (71, 60), (69, 30), (66, 30), (0, 25), (67, 60), (71, 60), (69, 58)],
    [(0, 10), (72, 40), (71, 40), (69, 40), (0, 30), (66, 40), (67, 40), (69, 40), (71, 53)],
    [(0, 10), (74, 50), (72, 50), (71, 50), (0, 20), (69, 50), (67, 50), (69, 58)],
]
SECONDS = 26.0


def sung_notes(line_start, notes, shift, late=0.0, off_every=0):
    out, t, index = [], line_start + late, 0
    for midi, values in notes:
        length = values * VALUE
        if midi:
            index += 1
            m = midi + shift + (3 if off_every and index % off_every == 0 else 0)
            out.append((t, t + length, m, 0, 0))
        t += length
    return out


def song_material():
    with open(os.path.join(HERE, "song.txt"), "w") as out:
        for start, notes in SONG:
            out.write("%g %s\n" % (start, " ".join("%d:%d" % (m * 10, v)
                                                   for m, v in notes)))
    for role, below in ((1, 12), (2, 8)):
        performances = {"faithful": [], "higher": [], "late": [], "octave": [], "wrong": [],
                        "drone": [], "other": []}
        for (start, notes), other in zip(SONG, OTHER):
            performances["faithful"] += sung_notes(start, notes, -below)
            performances["higher"] += sung_notes(start, notes, 2 - below)
            performances["late"] += sung_notes(start, notes, -below, late=0.3)
            performances["octave"] += sung_notes(start, notes, 12 - below)
            performances["wrong"] += sung_notes(start, notes, -below, off_every=4)
            performances["other"] += sung_notes(start, other, -below)
            voiced = [n for n in sung_notes(start, notes, -below)]
            performances["drone"].append((voiced[0][0], voiced[-1][1], 64 - below, 0, 0))
        for name, notes in performances.items():
            render(os.path.join(HERE, f"role{role}-{name}.ogg"), VOICE_OOHS, notes, SECONDS)


if __name__ == "__main__":
    if not os.path.exists(SOUNDFONT):
        sys.exit(f"{SOUNDFONT} is missing: install fluid-soundfont-gm")
    tracker_material()
    song_material()
