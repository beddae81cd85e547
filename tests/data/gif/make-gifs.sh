#!/bin/sh
# Makes the GIF fixtures of the picture control's tests with ImageMagick and gifsicle, and for each
# animated one what ImageMagick reads out of it: <name>.expected holds one line per frame as
# `identify -format '%T %D %W %H %X %Y\n'` prints it (delay, disposal, logical screen, position),
# and <name>-coalesced-<i>.png the picture after frame i, composed by `convert -coalesce`.
# Run from anywhere; writes next to this script. The outputs are committed: the build and the
# tests do not run this script. Needs imagemagick, gifsicle and python3.
set -eu
cd "$(dirname "$0")"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# No time stamps in the PNG files, so that every run gives the same bytes.
png() { convert -define png:exclude-chunks=date,time,tIME "$@"; }

# layers.gif (ImageMagick): a 48 × 32 screen, then smaller frames at offsets, each with its own
# local colour table, some with transparent pixels; delays 10, 0, 3, 5, 10 and disposals none,
# background, previous, none, previous; the NETSCAPE loop extension.
convert -size 48x32 xc:navy -fill white -draw 'rectangle 8,6 40,25' \
    -fill orange -draw 'rectangle 0,0 5,31' "$scratch/l0.gif"
convert -size 16x12 xc:none -fill red -draw 'rectangle 0,0 15,5' \
    -fill blue -draw 'rectangle 0,6 3,11' "$scratch/l1.gif"
convert -size 12x12 xc:lime -fill black -draw 'point 5,5' "$scratch/l2.gif"
convert -size 20x8 xc:yellow "$scratch/l3.gif"
convert -size 8x8 xc:none -fill magenta -draw 'rectangle 2,2 5,5' "$scratch/l4.gif"
convert -dispose None -delay 10 -page 48x32+0+0 "$scratch/l0.gif" \
    -dispose Background -delay 0 -page 48x32+4+3 "$scratch/l1.gif" \
    -dispose Previous -delay 3 -page 48x32+20+10 "$scratch/l2.gif" \
    -dispose None -delay 5 -page 48x32+10+20 "$scratch/l3.gif" \
    -dispose Previous -delay 10 -page 48x32+36+2 "$scratch/l4.gif" \
    -loop 0 layers.gif

# pieces.gif (gifsicle): one global colour table, comment extensions before two of the frames,
# the loop extension, a transparent last frame; delays 3, 5, 0, 10, disposals 1, 2, 3, 1.
convert -size 30x20 xc:teal -fill gold -draw 'rectangle 3,3 12,10' "$scratch/p0.gif"
convert -size 10x6 xc:crimson "$scratch/p1.gif"
convert -size 8x8 xc:white -fill black -draw 'rectangle 2,2 5,5' "$scratch/p2.gif"
convert -size 12x5 xc:none -fill purple -draw 'rectangle 0,0 11,2' "$scratch/p3.gif"
gifsicle --loopcount=0 --comment "Quorvel fixture" --logical-screen 30x20 \
    -d 3 -D 1 "$scratch/p0.gif" \
    -d 5 -D 2 -p 4,5 "$scratch/p1.gif" \
    --comment "second comment" -d 0 -D 3 -p 15,2 "$scratch/p2.gif" \
    -d 10 -D 1 -p 17,14 "$scratch/p3.gif" -o pieces.gif

# bare.gif (gifsicle): three frames without any graphic control extension.
gifsicle --logical-screen 30x20 "$scratch/p0.gif" -p 4,5 "$scratch/p1.gif" \
    -p 15,2 "$scratch/p2.gif" -o bare.gif

# stage.gif: an animation of the stage's size, 800 × 446, for the benchmark when the program's
# own stage animation is missing; a lamp moves over a backdrop and leaves no trace (disposal 2).
convert -size 800x446 xc:'#1c0f48' -fill '#4b1f86' -draw 'rectangle 0,300 799,445' \
    -fill '#e0287d' -draw 'circle 400,200 400,120' "$scratch/s0.gif"
convert -size 160x160 xc:none -fill gold -draw 'circle 80,80 80,10' "$scratch/s1.gif"
convert -dispose None -delay 10 -page 800x446+0+0 "$scratch/s0.gif" \
    -dispose Background -delay 8 -page 800x446+60+120 "$scratch/s1.gif" \
    -dispose Background -delay 8 -page 800x446+320+150 "$scratch/s1.gif" \
    -dispose Background -delay 8 -page 800x446+580+120 "$scratch/s1.gif" \
    -loop 0 stage.gif

for name in layers pieces bare stage; do
    identify -format '%T %D %W %H %X %Y\n' "$name.gif" > "$name.expected"
    png "$name.gif" -coalesce "$name-coalesced-%d.png"
done

# still.gif: one image. picture.png: a picture that is not a GIF.
convert -size 24x16 xc:white -fill green -draw 'rectangle 4,4 19,11' still.gif
png -size 20x12 xc:white -fill blue -draw 'rectangle 2,2 9,9' picture.png

python3 - <<'PY'
still = open("still.gif", "rb").read()
flags = still[10]
header = 13 + (3 << ((flags & 7) + 1) if flags & 0x80 else 0)
first = still[header:-1]  # the blocks after the colour table, without the trailer

# bad-first-block.gif: a GIF whose first block is of no known kind.
open("bad-first-block.gif", "wb").write(still[:header] + b"\x42" + first + b";")

# one-decodable.gif: two graphic blocks, the image and, under a graphic control extension, a
# plain-text extension, which the picture decoder does not turn into a picture of its own.
control = bytes([0x21, 0xF9, 4, 0x08, 7, 0, 0, 0])
text = bytes([0x21, 0x01, 12, 2, 0, 3, 0, 16, 0, 8, 0, 8, 8, 1, 0]) + b"\x02Hi\x00"
open("one-decodable.gif", "wb").write(still[:header] + first + control + text + b";")
PY
