// The accompaniment player: an MP3 file played from its beginning, and the questions the
// session asks it. Position, speed and length may be asked from any thread.
#pragma once

#include <string>

namespace platform {

inline constexpr int kNormalSpeed = 1000;  // Speed() while playing at the normal rate

class CPlayer {
public:
    virtual ~CPlayer() = default;

    // Opens the file; false (with a message already shown to the user) when it cannot be played.
    virtual bool Open(const std::string& path) = 0;
    // Starts playing from the beginning and returns at once.
    virtual void Play() = 0;
    // Length of the opened media in milliseconds (0 when nothing is open).
    virtual int Length() const = 0;
    // Current position in milliseconds: the session's clock. It keeps running past the length
    // once the music has ended, so that lines after the end are still reached.
    virtual int Position() const = 0;
    // kNormalSpeed while media is open, 0 when nothing is open.
    virtual int Speed() const = 0;
    // Stops playing; the position stays where it was.
    virtual void Stop() = 0;
};

}  // namespace platform
