#!/bin/sh
# Makes the fixtures of the accompaniment's decoders with sox and ffmpeg: the same music in every
# format a song may bring, a file that is not audio and an empty one. The music is 440 Hz for the
# first second and 880 Hz for the half second after it (amplitude 0.5, mono), so that a test can
# tell where in the file a decoded sample comes from: 12000 samples at 8000 Hz, 1500 ms. Run from
# anywhere; writes next to this script. The outputs are committed: the build and the tests do not
# run it.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

sox -R -D -r 8000 -c 1 -n -b 16 "$work/low.wav" synth 8000s sine 440 vol 0.5
sox -R -D -r 8000 -c 1 -n -b 16 "$work/high.wav" synth 4000s sine 880 vol 0.5
sox -R -D "$work/low.wav" "$work/high.wav" "$work/tone.wav"

# Opus comes from FFmpeg's own encoder, whose frames are all CELT, the mode music is coded in
# (SILK's speech frames decode to a waveform that depends on where decoding began, so a seek could
# not be checked against a decode from the start sample for sample).
#
# name, then ffmpeg's options for it: -map_metadata -1 and -bitexact keep the encoder's name and
# version out of the files, so a later run writes the same bytes where the encoder allows.
while read -r name options; do
    # shellcheck disable=SC2086 # the options are several words
    ff -i "$work/tone.wav" -map_metadata -1 -fflags +bitexact $options "$name"
done <<LIST
tone.wav -c:a pcm_s16le
tone.flac -c:a flac -compression_level 8
tone.ogg -c:a libvorbis -q:a 0
tone.opus -ar 48000 -c:a opus -strict -2 -b:a 24k
tone.m4a -c:a aac -b:a 24k
LIST

# Films whose sound track is the music: H.264 in MP4 with AAC, VP8 in WebM with Opus; a 16 x 16
# picture at 5 frames a second.
film() {
    name=$1
    shift
    ff -f lavfi -i "color=c=blue:s=16x16:r=5:d=1.5" -i "$work/tone.wav" -map 0:v -map 1:a \
        -map_metadata -1 -fflags +bitexact "$@" "$name"
}
film tone.mp4 -c:v libx264 -preset veryslow -crf 51 -c:a aac -b:a 24k
film tone.webm -c:v libvpx -b:v 8k -ar 48000 -c:a opus -strict -2 -b:a 24k

# A FLAC written to a pipe: its header cannot be gone back to, so it does not record the length.
ff -i "$work/tone.wav" -map_metadata -1 -fflags +bitexact -c:a flac -f flac - >tone-nolength.flac

# Not audio at all, under a music name; and an empty file.
printf 'This is a text file with an .ogg name, not music.\n' >not-audio.ogg
: >empty.flac
