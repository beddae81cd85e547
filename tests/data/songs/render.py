#!/usr/bin/env python3
"""Renders the sung performances of the UltraStar songs in this folder.

Every song lives in <slug>/<slug>.txt beside <slug>/<slug>.ogg, its accompaniment: silence as
long as the song plus 2 s (8000 Hz mono Vorbis), so that the songs load and play like any other.
For each song and each role (1 and 2), the melody the role sings is played by fluidsynth with the
General MIDI sound font, exactly as ../voice/render.py plays its material (its MIDI writer and
renderer are imported from there): program 54 "Voice Oohs" (53 counted from 0), program 53
"Choir Aahs" for the choir, reverb and chorus off, then 8000 Hz mono.

The part a role sings is P1 for role 1, P2 for role 2 in a duet, else P1 again. The program moves
each part by whole octaves so that the lower median of its MIDI notes (60 + pitch, normal and
golden notes) lies in 48..59; it hears the first role 12 semitones and the second 8 semitones
below the reference. So role 1 sings the shifted MIDI note and role 2 sings it 4 semitones
higher. Golden notes are sung as normal notes; freestyle (F) and rap (R, G) notes are not sung:
the performance is silent there, as the reference is.

  <slug>/role<R>-faithful.ogg   every sung note at its time and length, Voice Oohs
  <slug>/role<R>-vibrato.ogg    the same, every note bent by +-50 cents at 5 to 6 Hz
  <slug>/role<R>-choir.ogg      the faithful notes, Choir Aahs
  <slug>/role<R>-higher3.ogg    every note 3 semitones higher
  <slug>/role<R>-octave.ogg     every note an octave higher
  <slug>/role<R>-wrong.ogg      every fourth sung note 3 semitones higher
  <slug>/role<R>-held.ogg       every note at its time and length, all on the part's (lower)
                                median note in the role's octave
  <slug>/role<R>-other.ogg      the note times and lengths of the song with the pitches of the
                                next song of the set (in name order, cycled), moved by whole
                                octaves so that its median is nearest to this part's median
  <slug>/role<R>.notes          the ground truth of the faithful take, one line per sung note:
                                "on off midi vibrato-hz vibrato-cents" (seconds from the start
                                of the audio; midi as sung)
  <slug>/role<R>-vibrato.notes  the same for the vibrato take (bend = cents * sin(2 pi hz (t - on)))

Late, early and silent takes are not rendered: the tests make them from the faithful take.
The performances are encoded as Vorbis at quality QUALITY below from a lossless render, which
keeps the pitch a tracker finds within a few cents while the folder stays small.

Usage: render.py [SLUG...]   (all songs when none is named; --lossless DIR also keeps the FLAC
renders there, for comparing the encoding). Needs python3, fluidsynth, fluid-soundfont-gm and
sox. Deterministic: the vibrato's seeds and the Ogg stream serial numbers are fixed, so that
rendering again writes the same bytes. Writes next to this script. The outputs are committed: the
build and the tests do not run this script.
"""
import importlib.util
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
QUALITY = "-1"    # sox -C for Vorbis, its lowest: about 8 kbit/s of voice at 8000 Hz mono
TAIL = 2.0        # seconds of audio after the last note's end


def _voice_module():
    sys.dont_write_bytecode = True  # no __pycache__ left in ../voice
    path = os.path.join(HERE, os.pardir, "voice", "render.py")
    spec = importlib.util.spec_from_file_location("voice_render", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


voice = _voice_module()
os.environ.setdefault("SOX_OPTS", "-V1")  # sox warns that fluidsynth stopped before the length
JUDGED = (":", "*")  # normal and golden notes; F, R and G are not judged and not sung


class Song:
    """What this script needs of an UltraStar file: tempo, gap and the notes of each part."""

    def __init__(self, path):
        self.path = path
        self.slug = os.path.splitext(os.path.basename(path))[0]
        self.headers = {}
        self.parts = {}  # part number -> [(type, start beat, length, pitch)]
        current = None
        with open(path, encoding="utf-8-sig") as text:
            for raw in text:
                line = raw.rstrip("\r\n").lstrip(" \t")
                if not line:
                    continue
                if line.startswith("#"):
                    name, _, value = line[1:].partition(":")
                    self.headers[name.strip().upper()] = value.strip()
                elif line.startswith("E"):
                    break
                elif line.startswith("P"):
                    current = int(line[1:].strip())
                    self.parts.setdefault(current, [])
                elif line[0] in ":*FRG":
                    kind, start, length, pitch = line.split(None, 4)[:4]
                    self.parts.setdefault(current or 1, []).append(
                        (kind, int(start), int(length), int(pitch)))
        self.duet = len(self.parts) > 1
        self.bpm = float(self.headers["BPM"].replace(",", "."))
        self.gap = float(self.headers.get("GAP", "0").replace(",", ".")) / 1000.0

    def seconds(self, beat):
        return self.gap + beat * 15.0 / self.bpm

    def end(self):
        """Seconds from the start of the audio to the end of the last note of any part."""
        return max(self.seconds(s + n) for notes in self.parts.values() for _, s, n, _ in notes)

    def part_of(self, role):
        return self.parts[2 if self.duet and role == 2 else min(self.parts)]


def lower_median(values):
    return sorted(values)[(len(values) - 1) // 2]


def octave_shift(notes):
    """Semitones the program moves a part by: 12k with 48 <= lower median + 12k <= 59."""
    median = lower_median([60 + p for kind, _, _, p in notes if kind in JUDGED])
    return 12 * ((59 - median) // 12)


def sung(song, role, offset=None):
    """The role's sung notes: (on, off, midi), times rounded to milliseconds. offset: semitones
    added to the shifted part, by default the role's (0 for role 1, 4 for role 2)."""
    notes = song.part_of(role)
    if offset is None:
        offset = 4 if role == 2 else 0
    shift = octave_shift(notes) + offset
    out = []
    for kind, start, length, pitch in notes:
        if kind in JUDGED:
            on, off = round(song.seconds(start), 3), round(song.seconds(start + length), 3)
            out.append((on, off, 60 + pitch + shift))
    return out


def performances(song, role, other):
    notes = sung(song, role)
    midis = [m for _, _, m in notes]
    median = lower_median(midis)
    rng = random.Random("%s-role%d" % (song.slug, role))
    plain = [(on, off, m, 0, 0) for on, off, m in notes]
    vibrato = [(on, off, m, round(rng.uniform(5.0, 6.0), 2), 50) for on, off, m in notes]
    # The other song's melody moved by whole octaves to this part's median (before the role's
    # offset), then sung with the role's offset as this song's notes are.
    offset = 4 if role == 2 else 0
    theirs = [m for _, _, m in sung(other, 1, 0)]
    mine = lower_median([m for _, _, m in sung(song, role, 0)])
    move = 12 * round((mine - lower_median(theirs)) / 12.0) + offset
    tune = [theirs[i % len(theirs)] + move for i in range(len(notes))]
    return {
        "faithful": (voice.VOICE_OOHS, plain),
        "vibrato": (voice.VOICE_OOHS, vibrato),
        "choir": (voice.CHOIR_AAHS, plain),
        "higher3": (voice.VOICE_OOHS, [(a, b, m + 3, 0, 0) for a, b, m, _, _ in plain]),
        "octave": (voice.VOICE_OOHS, [(a, b, m + 12, 0, 0) for a, b, m, _, _ in plain]),
        "wrong": (voice.VOICE_OOHS, [(a, b, m + (3 if i % 4 == 3 else 0), 0, 0)
                                     for i, (a, b, m, _, _) in enumerate(plain)]),
        "held": (voice.VOICE_OOHS, [(a, b, median, 0, 0) for a, b, _, _, _ in plain]),
        "other": (voice.VOICE_OOHS, [(a, b, t, 0, 0) for (a, b, _, _, _), t in zip(plain, tune)]),
    }


def _crc_table():
    table = []
    for i in range(256):
        crc = i << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7 if crc & 0x80000000 else crc << 1) & 0xFFFFFFFF
        table.append(crc)
    return table


OGG_CRC = _crc_table()  # the Ogg page checksum: CRC-32, polynomial 0x04C11DB7, not reflected


def _ogg_crc(data):
    crc = 0
    for byte in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ OGG_CRC[(crc >> 24) ^ byte]
    return crc


def fix_serial(path):
    """Gives the Ogg stream a serial number made from the file's name instead of the random one
    the encoder picks, so that rendering again writes the same bytes."""
    serial = zlib.crc32(os.path.basename(path).encode())
    with open(path, "rb") as f:
        data = bytearray(f.read())
    at = 0
    while at < len(data):
        assert data[at:at + 4] == b"OggS", path
        count = data[at + 26]
        size = 27 + count + sum(data[at + 27:at + 27 + count])
        data[at + 14:at + 18] = struct.pack("<I", serial)
        data[at + 22:at + 26] = b"\0\0\0\0"
        data[at + 22:at + 26] = struct.pack("<I", _ogg_crc(data[at:at + size]))
        at += size
    with open(path, "wb") as f:
        f.write(data)


def encode(flac, ogg, seconds):
    # fluidsynth stops after the last note: a part that ends before the song is padded with
    # silence, so that every take lasts exactly as long as the accompaniment.
    subprocess.run(["sox", "-D", flac, "-C", QUALITY, ogg, "pad", "0", str(seconds),
                    "trim", "0", str(seconds)], check=True)
    fix_serial(ogg)


def write_notes(path, rows):
    with open(path, "w") as out:
        for row in rows:
            out.write("%.3f %.3f %d %g %d\n" % row)


def render_song(song, other, lossless=None):
    folder = os.path.dirname(song.path)
    seconds = round(song.end() + TAIL, 3)
    with tempfile.TemporaryDirectory() as tmp:
        # -D: sox would otherwise dither the silence into a faint noise
        music = os.path.join(folder, song.slug + ".ogg")
        subprocess.run(["sox", "-D", "-n", "-r", "8000", "-c", "1", "-C", QUALITY, music,
                        "trim", "0", str(seconds)], check=True)
        fix_serial(music)
        for role in (1, 2):
            for name, (program, rows) in performances(song, role, other).items():
                flac = os.path.join(tmp, "role%d-%s.flac" % (role, name))
                voice.render(flac, program, rows, seconds)
                encode(flac, os.path.join(folder, "role%d-%s.ogg" % (role, name)), seconds)
                if lossless:
                    os.makedirs(os.path.join(lossless, song.slug), exist_ok=True)
                    shutil.copy(flac, os.path.join(lossless, song.slug))
                if name == "faithful":
                    write_notes(os.path.join(folder, "role%d.notes" % role), rows)
                elif name == "vibrato":
                    write_notes(os.path.join(folder, "role%d-vibrato.notes" % role), rows)


def all_songs():
    songs = []
    for slug in sorted(os.listdir(HERE)):
        path = os.path.join(HERE, slug, slug + ".txt")
        if os.path.isfile(path):
            songs.append(Song(path))
    return songs


def main(args):
    lossless = None
    if "--lossless" in args:
        i = args.index("--lossless")
        lossless = os.path.abspath(args[i + 1])
        del args[i:i + 2]
    if not os.path.exists(voice.SOUNDFONT):
        sys.exit(f"{voice.SOUNDFONT} is missing: install fluid-soundfont-gm")
    songs = all_songs()
    for i, song in enumerate(songs):
        if not args or song.slug in args:
            print(song.slug, flush=True)
            render_song(song, songs[(i + 1) % len(songs)], lossless)


if __name__ == "__main__":
    main(sys.argv[1:])
