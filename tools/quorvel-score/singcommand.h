// `quorvel-score sing [--library DIR] [--role 1|2] [--latency-ms N] [--level easy|standard|strict]
// [--json] [--review DIR] --wav FILE.wav [--] SONG [SONG SONG SONG]`: scores a recorded
// performance with the engine the dialog uses, on a virtual clock, at the judging level given
// (easy by default); with --review it also writes the review of every line into DIR.
//
// One SONG is a single song of DIR/歌曲/单曲/, four are a medley of DIR/歌曲/串烧歌曲/ (DIR
// defaults to the working directory). Role 1 (the default) adds 120 to the sung pitch, role 2
// adds 80. FILE is 16-bit PCM (plain or extensible) at 8000 frames/s, mono (used for both channels)
// or stereo, at most kMaxRecordingSeconds long. A SONG is one folder name (no "/", "." or "..");
// after "--" every word is a SONG. Prints
// every line's song, number, start and end, hits, nears, sung values, score and grade, then the
// final score; with --json one object instead:
// {"role":1,"songs":[{"name":S,"lines":[{"start":f,"end":f,"hits":n,"nears":n,"sung":n,
// "cut":n,"cost":f|null,"align":f,"score":f,"grade":S},…]},…],"level":S,"lines":n,"final":f}
// with floats printed as %.9g; song names in the text lines are escaped (see Printable). Status 0
// with a final score; 2 for bad usage or bad input, with one line on err naming the file and the
// problem, or for output that cannot be written (said on err).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/quorvel-score/reviewfiles.h"

namespace tools {

int RunSingCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// What draws the line pictures of --review (see reviewfiles.h); without one only review.json is
// written.
void SetReviewPlotter(LinePlotter plotter);

}  // namespace tools
