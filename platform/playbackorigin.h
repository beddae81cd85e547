// When the first frame of a playback stream is heard, from the blocks the device takes, when it
// takes them and how far ahead of the sound it says they are.
//
// Frame k of the stream is heard at t0 + k / rate, and no frame is heard sooner than the device
// says: a block whose first frame is frame k, taken at t and said to be heard d later, gives
// t0 >= t + d - k / rate. A sound server may take a burst of blocks at once (when the stream
// starts, or after a hiccup of its own) and keep them in a buffer that the device's account
// does not show: each of them is then "heard at once" by that account, and taking the latest
// block's word for t0 would put the clock ahead of the music by the whole burst, for good. The
// latest bound (the largest) is the estimate instead; a burst cannot move it.
//
// The estimate may creep earlier by kDriftPerMillion of the time passed, so that a device that
// plays a little faster than its rate is followed. Plain arithmetic on integers: fit for an
// audio callback.
#pragma once

#include <cstdint>

namespace platform {

class CPlaybackOrigin {
public:
    // A device faster than this (parts per million of its rate) runs ahead of the estimate.
    static constexpr int64_t kDriftPerMillion = 400;

    // A new stream, or one heard again after a stall: the next block decides alone.
    void Restart() { m_bStarted = false; }
    // A block taken at takenNs (a steady clock) whose first frame, the stream's frame `first`,
    // the device says is heard aheadNs later; rate in frames per second. Returns the estimate
    // of when the stream's frame 0 is heard (its first frame, not that block's).
    int64_t BlockTaken(int64_t takenNs, int64_t aheadNs, int64_t first, int64_t rate);

private:
    int64_t m_nOriginNs = 0;  // the estimate of when frame 0 is heard
    int64_t m_nLastNs = 0;    // when the last block was taken
    bool m_bStarted = false;  // a block has been taken since Restart
};

}  // namespace platform
