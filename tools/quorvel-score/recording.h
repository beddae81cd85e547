// Reading a recording for the headless commands: a RIFF WAVE file of 16-bit PCM at 8000 frames
// per second, mono or stereo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

struct Recording {
    int nChannels = 0;
    std::vector<int16_t> samples;  // interleaved, whole frames only
};

// Reads the whole file. On failure returns false and one line naming the problem (without the
// file name).
bool ReadRecording(const std::string& path, Recording& recording, std::string& problem);

// The recording as 16-bit stereo frames: a mono sample goes to both channels.
std::vector<int16_t> ToStereo(const Recording& recording);

}  // namespace tools
