// The age of a capture stream's blocks, from their count and their arrival times.
#include "platform/captureage.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace platform {
namespace {

constexpr int64_t kRate = 8000;
constexpr int64_t kFrames = 32;  // 4 ms blocks
constexpr int64_t kBlockNs = kFrames * 1'000'000'000 / kRate;
constexpr int64_t kMs = 1'000'000;

TEST(CaptureAge, ABacklogLeftByASlowStartIsTheAgeOfEveryLaterBlock) {
    CCaptureAge age;
    age.Restart(kRate);
    const int64_t t0 = 5'000 * kMs;  // when the stream's first frame was recorded
    int64_t block = 0;
    // On time, with up to 3 ms of scheduling delay: the age is that delay.
    for (; block < 50; ++block) {
        const int64_t delay = (block % 4) * kMs;
        const int64_t got = age.BlockArrived(t0 + (block + 1) * kBlockNs + delay, kFrames, false);
        ASSERT_LE(got, 3 * kMs + 1) << "block " << block;
    }
    // The server hands over one block per 40 ms for 480 ms: 432 ms fall behind.
    const int64_t onTime = t0 + block * kBlockNs;
    int64_t arrival = onTime;
    for (int slow = 0; slow < 12; ++slow, ++block) {
        arrival += 10 * kBlockNs;
        const int64_t got = age.BlockArrived(arrival, kFrames, false);
        EXPECT_NEAR(got, arrival - (t0 + (block + 1) * kBlockNs), kMs / 10)
            << "slow block " << slow;
    }
    const int64_t backlog = arrival - (t0 + block * kBlockNs);
    EXPECT_EQ(backlog, 432 * kMs);
    // Then on pace again, the backlog kept: every block is that old, less a creep of 200 ppm.
    for (int later = 1; later <= 15'000; ++later, ++block) {  // a minute
        arrival += kBlockNs;
        const int64_t got = age.BlockArrived(arrival, kFrames, false);
        ASSERT_LE(got, backlog) << "block " << later << " on pace";
        ASSERT_GE(got, backlog - (arrival - onTime) / 4'000) << "block " << later << " on pace";
    }

    // Samples lost before a block: the count starts again from it.
    arrival += 100 * kMs;
    EXPECT_EQ(age.BlockArrived(arrival, kFrames, true), 0);
    EXPECT_NEAR(age.BlockArrived(arrival + kBlockNs + 2 * kMs, kFrames, false), 2 * kMs, 10'000);

    // A new stream forgets the old one.
    age.Restart(kRate);
    EXPECT_EQ(age.BlockArrived(arrival + 10'000 * kMs, kFrames, false), 0);
    EXPECT_EQ(age.BlockArrived(arrival + 10'000 * kMs + kBlockNs, kFrames, false), 0);
}

TEST(CaptureAge, ADeviceSlowerThanItsRateIsFollowedAndAStallIsNotBelievedForever) {
    CCaptureAge age;
    age.Restart(kRate);
    // 100 ppm slow: each block takes a little longer than its frames say. After ten minutes
    // the device is 60 ms behind its rate; the age must not count that as lateness.
    int64_t arrival = 0;
    int64_t most = 0;
    for (int block = 0; block < 150'000; ++block) {
        arrival += kBlockNs + kBlockNs / 10'000;
        const int64_t got = age.BlockArrived(arrival, kFrames, false);
        most = got > most ? got : most;
    }
    EXPECT_LT(most, 2 * kMs) << "a slow device's drift is taken for a backlog";

    // A stream that gave nothing for 20 s without saying it lost samples: ages beyond 10 s are
    // not believed, and the stream counts from there.
    arrival += 20'000 * kMs;
    EXPECT_EQ(age.BlockArrived(arrival, kFrames, false), 0);
    EXPECT_EQ(age.BlockArrived(arrival + kBlockNs, kFrames, false), 0);
}

}  // namespace
}  // namespace platform
