// The buffer queue that every capture device shares, driven by hand through CManualCapture.
#include "platform/capturedevice.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "platform/manualcapture.h"

namespace {

using platform::CManualCapture;
using platform::WaveFormat;
using platform::WaveHeader;

constexpr WaveFormat kStereo8000{platform::kWaveFormatPcm, 2, 8000, 32000, 4, 16, 0};
constexpr uint32_t kBufferBytes = 8;  // two frames

// What a notice saw when a buffer came back.
struct Returned {
    WaveHeader* header;
    uint32_t bytes;
    uint32_t flags;
    std::string data;
};

class CaptureDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (std::size_t i = 0; i < m_headers.size(); ++i) {
            m_headers[i].lpData = m_memory[i].data();
            m_headers[i].dwBufferLength = kBufferBytes;
            m_headers[i].dwUser = i;
        }
    }

    // The notice refers to this fixture, which must not be gone when the device returns buffers.
    void TearDown() override { m_device.Close(); }

    // Opens the device with a notice that records every return and then runs m_onReturn.
    void Open() {
        ASSERT_TRUE(m_device.Open(kStereo8000, [this](WaveHeader* header) {
            m_returned.push_back({header, header->dwBytesRecorded, header->dwFlags,
                                  std::string(header->lpData, header->dwBytesRecorded)});
            if (m_onReturn) m_onReturn(header);
        }));
    }
    void Queue(std::size_t first, std::size_t count) {
        for (std::size_t i = first; i < first + count; ++i) {
            ASSERT_TRUE(m_device.PrepareBuffer(&m_headers[i]));
            ASSERT_TRUE(m_device.AddBuffer(&m_headers[i]));
        }
    }
    void Feed(const std::string& bytes) { m_device.Feed(bytes.data(), bytes.size()); }

    CManualCapture m_device;
    std::array<std::array<char, kBufferBytes>, 4> m_memory{};
    std::array<WaveHeader, 4> m_headers{};
    std::vector<Returned> m_returned;
    std::function<void(WaveHeader*)> m_onReturn;
};

TEST_F(CaptureDeviceTest, FillsBuffersInQueueOrderAndHandsBackEachWhenFull) {
    Open();
    Queue(0, 3);
    ASSERT_TRUE(m_device.Start());
    Feed("abcdefghijkl");  // one and a half buffers
    ASSERT_EQ(m_returned.size(), 1u);
    EXPECT_EQ(m_returned[0].header, &m_headers[0]);
    EXPECT_EQ(m_returned[0].data, "abcdefgh");
    EXPECT_TRUE(m_returned[0].flags & platform::kWaveHeaderDone);
    EXPECT_FALSE(m_returned[0].flags & platform::kWaveHeaderInQueue);

    Feed("mnopqr");  // finishes the second buffer, and two bytes into the third
    ASSERT_EQ(m_returned.size(), 2u);
    EXPECT_EQ(m_returned[1].header, &m_headers[1]);
    EXPECT_EQ(m_returned[1].data, "ijklmnop");
    EXPECT_EQ(m_headers[2].dwBytesRecorded, 2u);
    EXPECT_EQ(std::string(m_headers[2].lpData, 2), "qr")
        << "bytes split across buffers stay in order";
    EXPECT_TRUE(m_headers[2].dwFlags & platform::kWaveHeaderInQueue);
}

TEST_F(CaptureDeviceTest, EachBufferIsStampedWithTheClockWhenItBecomesFull) {
    int32_t clock = 500;
    m_device.SetStampClock([&clock] { return clock; });
    Open();
    Queue(0, 3);
    ASSERT_TRUE(m_device.Start());
    Feed("abcd");
    clock = 620;  // the buffer fills now, not when its first bytes came
    Feed("efgh");
    Feed("ijkl");
    clock = 740;
    ASSERT_TRUE(m_device.Reset());  // the partly filled buffer comes back unstamped
    ASSERT_EQ(m_returned.size(), 3u);
    EXPECT_EQ(m_headers[0].nClockMs, 620);
    EXPECT_EQ(m_headers[1].nClockMs, platform::kNoClockStamp);

    m_device.SetStampClock(nullptr);  // no clock: no stamp, even on a buffer stamped before
    Queue(0, 1);
    ASSERT_TRUE(m_device.Start());
    Feed("mnopqrst");
    EXPECT_EQ(m_headers[0].nClockMs, platform::kNoClockStamp);
}

TEST_F(CaptureDeviceTest, ABufferFilledEarlyInABlockIsStampedForItsOwnEnd) {
    // 32000 bytes a second: the 8-byte buffers last 0.25 ms each, so use a block of 1000
    // buffers' worth and look at the first, a middle and the last buffer of the block.
    std::vector<std::array<char, kBufferBytes>> memory(1000);
    std::vector<WaveHeader> headers(1000);
    Open();
    for (std::size_t i = 0; i < headers.size(); ++i) {
        headers[i].lpData = memory[i].data();
        headers[i].dwBufferLength = kBufferBytes;
        ASSERT_TRUE(m_device.PrepareBuffer(&headers[i]));
        ASSERT_TRUE(m_device.AddBuffer(&headers[i]));
    }
    ASSERT_TRUE(m_device.Start());
    const std::string block(8000, 'x');  // 250 ms, recorded up to clock 10250
    m_device.FeedAt(block.data(), block.size(), 10250);
    EXPECT_EQ(headers[999].nClockMs, 10250);
    EXPECT_EQ(headers[499].nClockMs, 10125);  // 4000 bytes (125 ms) still to come after it
    EXPECT_EQ(headers[0].nClockMs, 10000);    // 7992 bytes after it: 249.75 ms, whole ms down
    m_device.Reset();
}

TEST_F(CaptureDeviceTest, NothingIsRecordedBeforeStartOrWithoutAQueuedBuffer) {
    Open();
    Queue(0, 1);
    Feed("before start");
    EXPECT_EQ(m_headers[0].dwBytesRecorded, 0u);

    ASSERT_TRUE(m_device.Start());
    Feed("12345678");  // fills the only buffer
    Feed("dropped!");  // has nowhere to go
    Queue(1, 1);
    Feed("kept....");
    ASSERT_EQ(m_returned.size(), 2u);
    EXPECT_EQ(m_returned[0].data, "12345678");
    EXPECT_EQ(m_returned[1].header, &m_headers[1]);
    EXPECT_EQ(m_returned[1].data, "kept....");
}

TEST_F(CaptureDeviceTest, ResetReturnsEveryQueuedBufferInOrderAndStopsRecording) {
    Open();
    Queue(0, 3);
    ASSERT_TRUE(m_device.Start());
    Feed("wxyz");
    ASSERT_TRUE(m_device.Reset());

    ASSERT_EQ(m_returned.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(m_returned[i].header, &m_headers[i]);
        EXPECT_TRUE(m_returned[i].flags & platform::kWaveHeaderDone);
        EXPECT_FALSE(m_returned[i].flags & platform::kWaveHeaderInQueue);
    }
    EXPECT_EQ(m_returned[0].data, "wxyz") << "the partly filled buffer keeps its count";
    EXPECT_EQ(m_returned[1].bytes, 0u);
    EXPECT_EQ(m_returned[2].bytes, 0u);

    // Queued again but not restarted: nothing is delivered after the reset.
    m_returned.clear();
    Queue(0, 1);
    Feed("12345678");
    EXPECT_TRUE(m_returned.empty());
    EXPECT_EQ(m_headers[0].dwBytesRecorded, 0u);
}

TEST_F(CaptureDeviceTest, RefusesBuffersItCannotTake) {
    WaveHeader noMemory;
    noMemory.dwBufferLength = kBufferBytes;
    EXPECT_FALSE(m_device.PrepareBuffer(&noMemory));

    ASSERT_TRUE(m_device.PrepareBuffer(&m_headers[0]));
    EXPECT_FALSE(m_device.AddBuffer(&m_headers[0])) << "the device is not open";

    Open();
    EXPECT_FALSE(m_device.AddBuffer(&m_headers[1])) << "not prepared";
    ASSERT_TRUE(m_device.AddBuffer(&m_headers[0]));
    EXPECT_FALSE(m_device.AddBuffer(&m_headers[0])) << "already queued";
    EXPECT_FALSE(m_device.UnprepareBuffer(&m_headers[0])) << "still queued";
    EXPECT_FALSE(m_device.PrepareBuffer(&m_headers[0])) << "still queued";

    ASSERT_TRUE(m_device.Reset());
    ASSERT_TRUE(m_device.UnprepareBuffer(&m_headers[0]));
    EXPECT_FALSE(m_device.AddBuffer(&m_headers[0])) << "unprepared again";

    m_device.Close();
    ASSERT_TRUE(m_device.PrepareBuffer(&m_headers[0]));
    EXPECT_FALSE(m_device.AddBuffer(&m_headers[0])) << "closed";
}

TEST_F(CaptureDeviceTest, ANoticeMayQueueTheBufferAgain) {
    Open();
    Queue(0, 1);
    m_onReturn = [this](WaveHeader* header) { EXPECT_TRUE(m_device.AddBuffer(header)); };
    ASSERT_TRUE(m_device.Start());
    Feed("aaaabbbbccccddddeeeeffffgg");  // three buffers and two bytes through one header
    ASSERT_EQ(m_returned.size(), 3u);
    EXPECT_EQ(m_returned[0].data, "aaaabbbb");
    EXPECT_EQ(m_returned[1].data, "ccccdddd");
    EXPECT_EQ(m_returned[2].data, "eeeeffff");
    EXPECT_EQ(std::string(m_headers[0].lpData, m_headers[0].dwBytesRecorded), "gg");
}

TEST_F(CaptureDeviceTest, ANoticeMayResetTheDevice) {
    Open();
    Queue(0, 3);
    m_onReturn = [this](WaveHeader* header) {
        if (header == &m_headers[0]) {
            EXPECT_TRUE(m_device.Reset());
        }
    };
    ASSERT_TRUE(m_device.Start());
    Feed("0123456789AB");  // fills the first buffer, and four more bytes that must go nowhere
    ASSERT_EQ(m_returned.size(), 3u);
    EXPECT_EQ(m_returned[0].data, "01234567");
    EXPECT_EQ(m_returned[1].header, &m_headers[1]);
    EXPECT_EQ(m_returned[1].bytes, 0u);
    EXPECT_EQ(m_returned[2].header, &m_headers[2]);
    EXPECT_EQ(m_headers[1].dwBytesRecorded, 0u);
}

}  // namespace
