#!/bin/sh
# Makes the WAVE fixtures of the audio tests with sox, plus a raw dump of the samples of each
# (what sox itself reads out of the file), and splices extra chunks into copies of one of them.
# Run from anywhere; writes next to this script. The outputs are committed: the build and the
# tests do not run this script.
set -eu
cd "$(dirname "$0")"

# name rate channels bits length
while read -r name rate channels bits length; do
    sox -R -D -n -r "$rate" -c "$channels" -b "$bits" "$name.wav" synth "$length" sine 440 sine 660 vol 0.8
    sox "$name.wav" -t raw "$name.raw"
done <<LIST
mono-8000 8000 1 16 0.03
stereo-8000 8000 2 16 0.03
mono-44100 44100 1 16 0.02
stereo-44100 44100 2 16 0.02
mono-8000-u8-odd 8000 1 8 0.012375
LIST

# Not RIFF at all: an AIFF file from sox under a .wav name.
sox -R -D -n -r 8000 -c 1 -b 16 -t aiff not-riff.wav synth 0.01 sine 440

python3 - <<'PY'
import struct

def chunks(path):
    data = open(path, "rb").read()
    assert data[:4] == b"RIFF" and data[8:12] == b"WAVE"
    out, pos = [], 12
    while pos + 8 <= len(data):
        cid, size = struct.unpack_from("<4sI", data, pos)
        out.append((cid, data[pos + 8:pos + 8 + size]))
        pos += 8 + size + (size & 1)
    return out

def chunk(cid, body):
    return struct.pack("<4sI", cid, len(body)) + body + (b"\0" if len(body) & 1 else b"")

def write(path, parts):
    body = b"WAVE" + b"".join(chunk(c, b) for c, b in parts)
    open(path, "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)

# An INFO list with an odd-sized text, so that its sub-chunk carries a pad byte.
info = b"INFO" + chunk(b"ISFT", b"Quorvel fixture\0") + chunk(b"ICMT", b"odd")
parts = chunks("mono-8000.wav")
fmt = [p for p in parts if p[0] == b"fmt "]
data = [p for p in parts if p[0] == b"data"]
write("list-before-fmt.wav", [(b"LIST", info)] + fmt + data)
write("data-before-fmt.wav", data + fmt)
write("chunk-after-data.wav", fmt + data + [(b"LIST", info), (b"id3 ", b"ID3\3\0\0\0\0\0\1X")])
PY
