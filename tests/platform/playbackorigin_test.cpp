// When a playback stream's first frame is heard, from the blocks the device takes.
#include "platform/playbackorigin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace platform {
namespace {

constexpr int64_t kRate = 44100;
constexpr int64_t kFrames = 383;  // 8.7 ms blocks
constexpr int64_t kMs = 1'000'000;
constexpr int64_t kT0 = 7'000 * kMs;  // when the stream's frame 0 is heard

int64_t HeardAt(int64_t frame) { return kT0 + frame * 1'000'000'000 / kRate; }

TEST(PlaybackOrigin, ABurstTheServerKeepsDoesNotPutTheClockAhead) {
    CPlaybackOrigin origin;
    origin.Restart();
    int64_t frame = 0;
    // The device takes each block 34 ms before it is heard, and says so; a block taken late
    // (scheduling) is said to be heard that much sooner.
    for (int block = 0; block < 100; ++block, frame += kFrames) {
        const int64_t late = (block % 3) * kMs;
        const int64_t got =
            origin.BlockTaken(HeardAt(frame) - 34 * kMs + late, 34 * kMs - late, frame, kRate);
        ASSERT_NEAR(got, kT0, kMs / 10) << "block " << block;
    }
    // The server takes 780 ms of blocks within 60 ms and keeps them, while the device says each
    // is heard at once; from then on it says 34 ms, the 780 ms it keeps unseen.
    const int64_t burstAt = HeardAt(frame) - 34 * kMs;
    for (int block = 0; block < 90; ++block, frame += kFrames) {
        const int64_t got = origin.BlockTaken(burstAt + block * 60 * kMs / 90, 0, frame, kRate);
        ASSERT_NEAR(got, kT0, kMs) << "burst block " << block;
    }
    const int64_t kept = HeardAt(frame) - burstAt - 34 * kMs;
    EXPECT_GT(kept, 700 * kMs);
    int64_t got = 0;
    for (int block = 0; block < 6'900; ++block, frame += kFrames)  // a minute
        got = origin.BlockTaken(HeardAt(frame) - kept - 34 * kMs, 34 * kMs, frame, kRate);
    // Only the creep for a fast device moves it: 400 ppm of a minute.
    EXPECT_LE(kT0 - got, 25 * kMs);
    EXPECT_GE(kT0 - got, 0);

    // The server ran dry and played 200 ms of silence: the music is heard that much later.
    const int64_t silence = 200 * kMs;
    got = origin.BlockTaken(HeardAt(frame) + silence - 34 * kMs, 34 * kMs, frame, kRate);
    EXPECT_NEAR(got, kT0 + silence, kMs / 10);

    // After a Restart the next block decides alone, even when it says the music began sooner.
    origin.Restart();
    EXPECT_NEAR(origin.BlockTaken(HeardAt(frame) - 500 * kMs, 0, frame, kRate), kT0 - 500 * kMs,
                kMs / 10);
}

TEST(PlaybackOrigin, ADeviceFasterThanItsRateIsFollowed) {
    CPlaybackOrigin origin;
    origin.Restart();
    // 300 ppm fast: each block is taken and heard a little sooner than its frames say. After ten
    // minutes the device is 180 ms ahead of its rate; the estimate must follow it.
    int64_t taken = 0;
    int64_t worst = 0;
    for (int64_t frame = 0; frame < 600 * kRate; frame += kFrames) {
        const int64_t got = origin.BlockTaken(taken, 30 * kMs, frame, kRate);
        const int64_t truth = taken + 30 * kMs - frame * 1'000'000'000 / kRate;
        worst = std::max(worst, got - truth);
        taken += kFrames * 1'000'000'000 / kRate * 9'997 / 10'000;
    }
    EXPECT_LT(worst, 2 * kMs) << "a fast device's drift is taken for a late start";
}

}  // namespace
}  // namespace platform
