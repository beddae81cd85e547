#!/bin/sh
# Makes the MP3 fixtures of the accompaniment player with sox and lame, and lengths.expected: for
# each MP3, the sample count and rate of the WAVE it was encoded from (as soxi reads them) and
# the length in milliseconds rounded to the nearest. LAME records its delay and padding in the
# file, so a decoder that honours them gives back exactly those samples. (Variable bit rate:
# at 8000 Hz a constant low rate makes frames too small for that record, and LAME leaves it
# out.) Run from anywhere; writes next to this script. The outputs are committed: the build and
# the tests do not run it.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

: >lengths.expected
# name VBR-quality samples sox-effects
while read -r name quality samples effects; do
    # shellcheck disable=SC2086 # the effects are several words
    sox -R -D -r 8000 -c 1 -n -b 16 "$work/$name.wav" synth "${samples}s" $effects
    lame --quiet --resample 8 -m m -V "$quality" "$work/$name.wav" "$name.mp3"
    n=$(soxi -s "$work/$name.wav")
    rate=$(soxi -r "$work/$name.wav")
    echo "$name.mp3 $n $rate $(((n * 1000 + rate / 2) / rate))" >>lengths.expected
done <<LIST
tone-440 6 16000 sine 440 vol 0.5
quiet 9 76171 sine 220 vol 0.02
LIST

# Not MPEG audio at all, under an .mp3 name.
printf 'This is a text file with an .mp3 name, not music.\n' >not-an-mp3.mp3
