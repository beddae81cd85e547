// How long ago the newest sample of a capture stream was recorded, from the count of samples the
// stream has given since it started and the times they arrived.
//
// A device records at its rate whatever the delivery does: sample k of the stream was recorded
// at t0 + k / rate. Every block arrives at or after the time its last sample was recorded, so
// the earliest (arrival - count / rate) seen is the best estimate of t0. A sound server that
// hands the stream over slowly for a while (it has other streams to start) leaves a backlog that
// the stream then keeps: each block still arrives on time for the pace, but late for its samples.
// Stamping blocks by their arrival would then judge a singer late by the backlog; the age this
// class gives takes it back out.
//
// The estimate may creep later by kDriftPerMillion of the time passed, so that a device that
// records a little slower than its rate is followed. A block after the device reported lost
// samples starts the count again. Plain arithmetic on integers: fit for an audio callback.
#pragma once

#include <cstdint>

namespace platform {

class CCaptureAge {
public:
    // A device slower than this (parts per million of its rate) falls behind the estimate.
    static constexpr int64_t kDriftPerMillion = 200;
    // Ages beyond this are not believed (a clock that jumped): the block counts as new.
    static constexpr int64_t kMostAgeNs = 10'000'000'000;

    // A new stream at samplesPerSecond; no block has arrived yet.
    void Restart(int64_t samplesPerSecond);
    // A block of frames arrived at arrivalNs (a steady clock); lost: the device dropped samples
    // before it. Returns how long before arrivalNs its last sample was recorded (>= 0).
    int64_t BlockArrived(int64_t arrivalNs, int64_t frames, bool lost);

private:
    int64_t m_nRate = 0;
    int64_t m_nFrames = 0;    // frames since the start (or since the last loss)
    int64_t m_nOriginNs = 0;  // the estimate of when frame 0 was recorded
    int64_t m_nLastNs = 0;    // when the last block arrived
    bool m_bStarted = false;  // a block has arrived since Restart
};

}  // namespace platform
