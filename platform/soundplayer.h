// Short sounds from WAV files (16-bit PCM, any rate and channel count) on the default output
// device, as the buttons play them on hover and click.
#pragma once

#include <string>

namespace platform {

// Plays the file. With wait the call returns when the sound has been played; without, it is
// played on the sound thread, one after another, and the call returns at once. False (and a
// trace line) when the file cannot be read or no output device takes it.
bool PlaySoundFile(const std::string& path, bool wait);

}  // namespace platform
