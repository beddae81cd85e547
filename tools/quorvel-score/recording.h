// Reading a recording for the headless commands: a RIFF WAVE file of 16-bit PCM (plain or
// WAVE_FORMAT_EXTENSIBLE with a PCM sub-format) at 8000 frames per second, mono or stereo. The
// file is opened without blocking and must be a regular file; its samples are streamed, never
// read whole into a buffer of their own.
#pragma once

#include <cstdint>
#include <string>

#include "platform/wavereader.h"

namespace tools {

// The longest recording that is sung: 6 hours, the longest song.
inline constexpr uint64_t kMaxRecordingSeconds = 6 * 60 * 60;

// Opens the recording and checks its format; reader then stands at its first frame. On failure
// returns false and one line naming the problem (without the file name).
bool OpenRecording(const std::string& path, platform::CWaveReader& reader, std::string& problem);

// Opens the recording for singing: as OpenRecording, and a recording longer than
// kMaxRecordingSeconds is refused.
bool OpenSungRecording(const std::string& path, platform::CWaveReader& reader,
                       std::string& problem);

// Reads the next frames of an open recording, up to `frames`, as 16-bit stereo frames,
// interleaved: a mono sample goes to both channels. Returns the frames read, 0 at the end of the
// samples, -1 when they cannot be read.
int64_t ReadStereo(platform::CWaveReader& reader, int16_t* stereo, std::size_t frames);

}  // namespace tools
