#!/usr/bin/env bash
# Makes demo/recordings/melody.wav: a short sung-like phrase (eight notes of a triangle wave with a
# little tremolo, 0.48 s each) as 16-bit mono PCM at 8000 frames/s, the capture format.
# Needs sox. The output is committed; run this only to remake it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
notes=(220.00 246.94 261.63 293.66 329.63 293.66 261.63 220.00)
files=()
for i in "${!notes[@]}"; do
  f="$tmp/note$i.wav"
  sox -n -r 8000 -c 1 -b 16 "$f" synth 0.48 triangle "${notes[$i]}" \
      tremolo 5 8 fade t 0.03 0.48 0.05 vol 0.5
  files+=("$f")
done
sox "${files[@]}" "$top/demo/recordings/melody.wav"
