// `quorvel-score pitch [--raw] [--] FILE.wav`: the pitch contour of every 0.12 s block of a
// recording, read from the file block by block.
//
// FILE is a RIFF WAVE file of 16-bit PCM (plain or extensible) at 8000 frames per second, mono or
// stereo; only the first channel is used. Each whole block of 960 frames (a trailing partial block
// is ignored) is band-pass filtered (skipped with --raw) and pitch-tracked, and gives one line on
// out: the block index from 0, then the pitch values in tenths of a semitone (0 = no pitch),
// separated by single spaces. Anything else gets one line on err naming the file and the problem,
// and status 2; so does output that cannot be written.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tools {

inline constexpr int kBlockFrames = 960;  // one capture buffer, 0.12 s at 8000 frames/s

// args are the words after "pitch". Returns the exit status: 0, or 2 for bad usage or input.
int RunPitchCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tools
