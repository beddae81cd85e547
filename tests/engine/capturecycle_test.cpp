// The capture buffers circulating between the device and the evaluation loop, and the playback
// poller's thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/singingengine.h"
#include "platform/manualcapture.h"
#include "platform/messages.h"
#include "platform/virtualplayer.h"
#include "tests/support/brokencapture.h"
#include "tests/support/songwriter.h"

namespace engine {
namespace {

class CountingView : public CNullEngineView {
public:
    void SetPitchMarker(int, int, int, int) override { ++markers; }
    void SetTimeBarPos(int seconds) override { timeBar = seconds; }
    int markers = 0;
    std::atomic<int> timeBar{-1};
};

class CaptureCycleTest : public ::testing::Test {
protected:
    CaptureCycleTest() : engine(view) {
        engine.SetLibraryFolder(library.Path().string());
        engine.SetCaptureDevice(&device);
        testing_support::WriteSong(library.Path(), "song",
                                   {"2", "100 200", "150 201", {{1, "2 700 700"}}});
    }

    void StartSession() {
        ASSERT_TRUE(engine.LoadReference("song"));
        engine.BeginSession();
        engine.QueueCaptureBuffers();
        engine.StartCapture();
    }

    // 0.12 s of stereo frames from the microphone.
    void Capture(int buffers) {
        const std::vector<char> bytes(kCaptureBufferBytes, 0);
        for (int i = 0; i < buffers; ++i) device.Feed(bytes.data(), bytes.size());
    }

    testing_support::TemporaryFolder library;
    platform::MessageCapture messages;
    CountingView view;
    platform::CManualCapture device;
    CSingingEngine engine;
};

TEST_F(CaptureCycleTest, OpensSixteenBitStereoAt8000FramesPerSecond) {
    ASSERT_TRUE(engine.AllocateCaptureBuffers());
    ASSERT_TRUE(engine.OpenCapture([this](platform::WaveHeader* h) { engine.OnWaveInData(h); }));
    const platform::WaveFormat& format = device.Format();
    EXPECT_EQ(format.nFormatTag, platform::kWaveFormatPcm);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, 8000u);
    EXPECT_EQ(format.nBitsPerSample, 16);
    EXPECT_EQ(format.nBlockAlign, 4);
    EXPECT_EQ(format.nAvgBytesPerSec, 32000u);
    EXPECT_EQ(format.nExtraSize, 0);
}

TEST_F(CaptureCycleTest, EveryFullBufferIsHandledAndQueuedAgainOnce) {
    ASSERT_TRUE(engine.AllocateCaptureBuffers());
    int handled = 0;
    ASSERT_TRUE(engine.OpenCapture([&](platform::WaveHeader* header) {
        ++handled;
        engine.OnWaveInData(header);
    }));
    StartSession();
    // 10 s of singing before the line: 83 buffers, each tracked for the idle marker.
    Capture(83);
    EXPECT_EQ(handled, 83);
    EXPECT_EQ(view.markers, 83);
    for (int i = 0; i < kCaptureBuffers; ++i)
        EXPECT_TRUE(engine.m_pWaveHeaders[i].dwFlags & platform::kWaveHeaderInQueue) << i;
    EXPECT_TRUE(messages.Traces().empty());
}

TEST_F(CaptureCycleTest, AResetReturnsPartialBuffersThatAreNotQueuedAgain) {
    ASSERT_TRUE(engine.AllocateCaptureBuffers());
    ASSERT_TRUE(engine.OpenCapture([this](platform::WaveHeader* h) { engine.OnWaveInData(h); }));
    StartSession();
    Capture(2);
    const std::vector<char> half(kCaptureBufferBytes / 2, 0);
    device.Feed(half.data(), half.size());
    engine.ResetCapture();
    // All four came back short: one half filled, three empty.
    EXPECT_EQ(messages.Traces(), std::vector<std::string>(4, "No useful data\n"));
    for (int i = 0; i < kCaptureBuffers; ++i) {
        EXPECT_FALSE(engine.m_pWaveHeaders[i].dwFlags & platform::kWaveHeaderInQueue) << i;
        EXPECT_FALSE(engine.m_pWaveHeaders[i].dwFlags & platform::kWaveHeaderPrepared) << i;
    }
    Capture(1);  // nothing is queued: nothing is recorded
    EXPECT_EQ(view.markers, 2);

    // The next session queues all four again.
    engine.FreeReference();
    StartSession();
    Capture(4);
    EXPECT_EQ(view.markers, 6);
}

TEST_F(CaptureCycleTest, NoticesFromBeforeAResetAreDroppedWithoutTouchingTheirBuffer) {
    // The notices wait, as queued events do, until the test hands them over.
    std::vector<CaptureNotice> pending;
    ASSERT_TRUE(engine.AllocateCaptureBuffers());
    ASSERT_TRUE(engine.OpenCapture(
        [&](platform::WaveHeader* header) { pending.push_back(engine.MakeNotice(header)); }));
    StartSession();
    Capture(2);
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(pending[0].nIndex, 0);
    EXPECT_EQ(pending[1].nIndex, 1);
    EXPECT_EQ(pending[1].nBytes, static_cast<uint32_t>(kCaptureBufferBytes));
    const std::vector<CaptureNotice> early = pending;

    // The song ends and the next starts: reset, then every buffer is queued and filling again.
    engine.ResetCapture();
    engine.FreeReference();
    StartSession();
    pending.clear();
    const std::vector<char> part(100, 0);
    device.Feed(part.data(), part.size());
    for (const CaptureNotice& notice : early) engine.OnCaptureNotice(notice);
    EXPECT_EQ(view.markers, 0) << "a stale notice was handled";
    EXPECT_TRUE(engine.m_pWaveHeaders[0].dwFlags & platform::kWaveHeaderInQueue);
    EXPECT_EQ(engine.m_pWaveHeaders[0].dwBytesRecorded, 100u) << "its buffer was touched";

    // The new generation's notices are handled.
    Capture(1);
    ASSERT_EQ(pending.size(), 1u);
    engine.OnCaptureNotice(pending[0]);
    EXPECT_EQ(view.markers, 1);
    CaptureNotice bad = pending[0];
    bad.nIndex = kCaptureBuffers;  // no such buffer
    engine.OnCaptureNotice(bad);
    EXPECT_EQ(view.markers, 1);
    engine.ResetCapture();
}

TEST_F(CaptureCycleTest, ADeviceThatCannotOpenIsReported) {
    testing_support::BrokenCapture broken;
    engine.SetCaptureDevice(&broken);
    EXPECT_FALSE(engine.OpenCapture(nullptr));
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"Audio can not be open!"});
    EXPECT_EQ(messages.Beeps(), 1);
    EXPECT_EQ(messages.Traces(), std::vector<std::string>{"capture device: no such device\n"});
    // Without a device nothing is queued or started, and nothing breaks.
    ASSERT_TRUE(engine.AllocateCaptureBuffers());
    engine.QueueCaptureBuffers();
    engine.StartCapture();
    engine.ResetCapture();
    engine.SetCaptureDevice(nullptr);
}

TEST(PlaybackPoller, FollowsThePlayerUntilStopped) {
    CountingView view;
    CSingingEngine engine(view);
    platform::CVirtualPlayer player;
    // Nothing open: the poller waits and changes nothing.
    EXPECT_FALSE(engine.PollPlaybackTime(player));
    EXPECT_EQ(view.timeBar, -1);

    player.Open("music.mp3");
    player.Play();
    player.SetClock(61250);
    ASSERT_TRUE(engine.PollPlaybackTime(player));
    EXPECT_EQ(engine.m_fTime, 61.25f);
    EXPECT_EQ(engine.m_nTimeSeconds, 61);
    EXPECT_EQ(view.timeBar, 61);

    player.SetClock(72500);
    engine.StartTimeThread(&player);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (view.timeBar != 72 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(view.timeBar, 72);
    engine.StopTimeThread();  // returns once the thread has ended
    player.SetClock(80000);
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_EQ(engine.m_fTime, 72.5f);
    engine.StopTimeThread();  // a second stop is harmless
}

}  // namespace
}  // namespace engine
