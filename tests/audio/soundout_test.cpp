// The playback thread driven through a stand-in device: the test plays the buffers, handing
// each back when it likes, and follows how they are refilled, released and the device closed.
#include "audio/soundout.h"

#include <gtest/gtest.h>
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/messages.h"
#include "tests/support/eventually.h"
#include "tests/support/fakewavedevice.h"

namespace {

using platform::WaveHeader;

using testing_support::Eventually;

// One buffer as the device was given it.
struct Written {
    WaveHeader* pHeader;
    char* pMemory;
    uint32_t nLength;
    std::string bytes;
};

class CFakePlayback : public testing_support::FakeWaveDevice {
public:
    int Add(WaveHeader* pHeader) override {
        std::lock_guard lock(m_mutex);
        if (m_nRefuse > 0) {
            --m_nRefuse;
            return paBufferTooBig;
        }
        if (!m_bOpen) return paBadStreamPtr;
        pHeader->dwFlags |= platform::kWaveHeaderInQueue;
        m_queue.push_back(pHeader);
        m_written.push_back({pHeader, pHeader->lpData, pHeader->dwBufferLength,
                             std::string(pHeader->lpData, pHeader->dwBufferLength)});
        return paNoError;
    }
    int Start() override { return paNoError; }
    int Reset() override {
        std::lock_guard lock(m_mutex);
        ++m_nResets;
        if (m_nResetError) return m_nResetError;
        // The buffers stay queued: the test hands them back one by one.
        return paNoError;
    }
    // Gives back what is still queued, as a real device does.
    int Close() override {
        HandBackAll([this] {
            m_bOpen = false;
            m_nQueuedAtClose = int(m_queue.size());
            ++m_nCloses;
        });
        return paNoError;
    }

    // Test side. Hands the head buffer back as played, once there is one (a refill may be on
    // its way).
    WaveHeader* Play() {
        if (!Eventually([this] { return QueueLength() > 0; })) return nullptr;
        return HandBackHead([](WaveHeader*) {});
    }
    std::size_t QueueLength() const {
        std::lock_guard lock(m_mutex);
        return m_queue.size();
    }
    std::vector<Written> WrittenSoFar() const {
        std::lock_guard lock(m_mutex);
        return m_written;
    }
    void Refuse(int n) {
        std::lock_guard lock(m_mutex);
        m_nRefuse = n;
    }
    void FailReset(int nError) {
        std::lock_guard lock(m_mutex);
        m_nResetError = nError;
    }
    int Closes() const {
        std::lock_guard lock(m_mutex);
        return m_nCloses;
    }
    int QueuedAtClose() const {
        std::lock_guard lock(m_mutex);
        return m_nQueuedAtClose;
    }
    int Resets() const {
        std::lock_guard lock(m_mutex);
        return m_nResets;
    }

private:
    int m_nRefuse = 0, m_nResetError = paNoError, m_nResets = 0, m_nCloses = 0;
    int m_nQueuedAtClose = -1;
    std::vector<Written> m_written;
};

// Fills every buffer with the next letter; a size asked for is applied on the given call, and
// from some call on the buffers come back empty.
struct Filler {
    std::mutex mutex;
    int nCalls = 0;
    std::vector<int32_t> sizesGiven;
    std::vector<std::thread::id> threads;
    int nShrinkOnCall = -1;
    int32_t nShrinkTo = 0;
    int nEndOnCall = -1;  // from this call on the size is set to 0

    int Calls() {
        std::lock_guard lock(mutex);
        return nCalls;
    }
    static void Callback(CBuffer* pBuffer, void* pParam) {
        auto* self = static_cast<Filler*>(pParam);
        std::lock_guard lock(self->mutex);
        const int nCall = self->nCalls++;
        self->sizesGiven.push_back(pBuffer->m_nSize);
        self->threads.push_back(std::this_thread::get_id());
        std::fill_n(pBuffer->m_pData, pBuffer->m_nSize, uint8_t('a' + nCall % 26));
        if (nCall == self->nShrinkOnCall) pBuffer->m_nSize = self->nShrinkTo;
        if (self->nEndOnCall >= 0 && nCall >= self->nEndOnCall) pBuffer->m_nSize = 0;
    }
};

class SoundOutTest : public ::testing::Test {
protected:
    SoundOutTest() {
        auto device = std::make_unique<CFakePlayback>();
        m_pDevice = device.get();
        m_pSound = std::make_unique<CSoundOut>(std::move(device));
    }
    void Arm() {
        m_pSound->m_pfnCallback = &Filler::Callback;
        m_pSound->m_pCallbackParam = &m_filler;
    }
    std::vector<std::string> TracesLike(const std::string& prefix) {
        std::vector<std::string> found;
        for (const std::string& trace : m_messages.Traces())
            if (trace.rfind(prefix, 0) == 0) found.push_back(trace);
        return found;
    }
    std::size_t Removed() { return TracesLike("WOM_DONE : remove buffer\n").size(); }

    platform::MessageCapture m_messages;
    Filler m_filler;
    CFakePlayback* m_pDevice;  // owned by m_pSound
    std::unique_ptr<CSoundOut> m_pSound;
};

TEST_F(SoundOutTest, StartRefusesWithoutCallbackOrWhilePlaying) {
    EXPECT_FALSE(m_pSound->Start());
    m_pSound->m_pCallbackParam = &m_filler;
    EXPECT_FALSE(m_pSound->Start()) << "the callback is missing";
    EXPECT_EQ(m_pDevice->nOpens, 0);
    Arm();
    ASSERT_TRUE(m_pSound->Start());
    EXPECT_FALSE(m_pSound->Start());
    EXPECT_EQ(m_pDevice->nOpens, 1);
    EXPECT_EQ(m_filler.Calls(), 3);
}

TEST_F(SoundOutTest, StartWritesThreeFilledBuffersEvenAnEmptyOne) {
    Arm();
    m_filler.nShrinkOnCall = 0;  // the very first buffer is already the end
    m_filler.nShrinkTo = 0;
    ASSERT_TRUE(m_pSound->Start());
    const std::vector<Written> written = m_pDevice->WrittenSoFar();
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[0].nLength, 0u) << "written with length 0; the end is seen when it returns";
    EXPECT_EQ(written[1].nLength, 2000u);
    EXPECT_EQ(m_pSound->QueuedBuffers(), 3);
    EXPECT_TRUE(m_pSound->IsPlaying());
    {
        std::lock_guard lock(m_filler.mutex);
        EXPECT_EQ(m_filler.sizesGiven, (std::vector<int32_t>{2000, 2000, 2000}));
    }

    // The empty buffer comes back: the stream ends.
    m_pDevice->Play();
    ASSERT_TRUE(Eventually([&] { return !m_pSound->IsPlaying(); }));
    EXPECT_EQ(m_pDevice->Resets(), 1);
}

TEST_F(SoundOutTest, ReturnedBuffersAreRefilledInTheSameMemoryOnTheWorker) {
    Arm();
    m_pSound->SetNumberOfChannels(2);
    m_pSound->SetSamplesPerSecond(44100);
    ASSERT_TRUE(m_pSound->Start());
    ASSERT_EQ(m_pDevice->WrittenSoFar()[0].nLength, 4000u) << "4-byte frames, 1000 of them";
    for (int i = 0; i < 4; ++i) m_pDevice->Play();
    ASSERT_TRUE(Eventually([&] { return m_pDevice->WrittenSoFar().size() == 7; }));
    const std::vector<Written> written = m_pDevice->WrittenSoFar();
    for (int i = 3; i < 7; ++i) {
        EXPECT_EQ(written[i].pMemory, written[(i - 3) % 3].pMemory) << "buffer " << i;
        EXPECT_EQ(written[i].bytes, std::string(4000, char('a' + i))) << "buffer " << i;
    }
    EXPECT_EQ(TracesLike("WOM_DONE : refill buffer\n").size(), 4u);
    std::lock_guard lock(m_filler.mutex);
    for (int i = 3; i < 7; ++i) EXPECT_NE(m_filler.threads[i], std::this_thread::get_id());
}

TEST_F(SoundOutTest, ABufferLoweredTo500BytesStaysAt500) {
    Arm();
    m_filler.nShrinkOnCall = 0;
    m_filler.nShrinkTo = 500;
    ASSERT_TRUE(m_pSound->Start());
    // The shrunk buffer plays three more times.
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 3; ++i) m_pDevice->Play();
    ASSERT_TRUE(Eventually([&] { return m_pDevice->WrittenSoFar().size() == 12; }));
    const std::vector<Written> written = m_pDevice->WrittenSoFar();
    for (std::size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(written[i].nLength, i % 3 == 0 ? 500u : 2000u) << "buffer " << i;
    std::lock_guard lock(m_filler.mutex);
    ASSERT_GE(m_filler.sizesGiven.size(), 12u);
    for (std::size_t i = 3; i < 12; i += 3) EXPECT_EQ(m_filler.sizesGiven[i], 500);
}

TEST_F(SoundOutTest, AfterStopTheDeviceClosesExactlyWhenTheThirdBufferIsBack) {
    Arm();
    ASSERT_TRUE(m_pSound->Start());
    m_pSound->Stop();
    EXPECT_FALSE(m_pSound->IsPlaying());
    EXPECT_EQ(m_pDevice->Resets(), 1);
    EXPECT_EQ(TracesLike("waveOutReset()\n").size(), 1u);
    for (std::size_t n = 1; n <= 3; ++n) {
        EXPECT_TRUE(m_pDevice->IsOpen()) << n - 1 << " buffers back";
        m_pDevice->Play();
        ASSERT_TRUE(Eventually([&] { return Removed() == n; }));
    }
    ASSERT_TRUE(Eventually([&] { return !m_pDevice->IsOpen(); }));
    EXPECT_EQ(m_pDevice->Closes(), 1);
    EXPECT_EQ(m_pDevice->QueuedAtClose(), 0);
    EXPECT_EQ(m_pSound->QueuedBuffers(), 0);
    EXPECT_EQ(m_filler.Calls(), 3) << "nothing is refilled once stopped";
    const std::vector<std::string> traces = m_messages.Traces();
    ASSERT_FALSE(traces.empty());
    EXPECT_EQ(traces.back(), "waveOutClose()\n");
}

TEST_F(SoundOutTest, AnEmptyRefillEndsTheStreamAndTheDeviceClosesWithTheLastBuffer) {
    Arm();
    m_filler.nEndOnCall = 4;  // calls 0-2 in Start, 3 refills, 4 ends
    ASSERT_TRUE(m_pSound->Start());
    m_pDevice->Play();  // refilled
    ASSERT_TRUE(Eventually([&] { return m_filler.Calls() == 4; }));
    m_pDevice->Play();  // empty: stop
    ASSERT_TRUE(Eventually([&] { return Removed() == 1; }));
    EXPECT_FALSE(m_pSound->IsPlaying());
    EXPECT_TRUE(m_pDevice->IsOpen()) << "two buffers are still out";
    m_pDevice->Play();
    ASSERT_TRUE(Eventually([&] { return Removed() == 2; }));
    EXPECT_TRUE(m_pDevice->IsOpen());
    m_pDevice->Play();
    ASSERT_TRUE(Eventually([&] { return !m_pDevice->IsOpen(); }));
    EXPECT_EQ(m_filler.Calls(), 5);
    EXPECT_EQ(m_pDevice->QueuedAtClose(), 0);
}

TEST_F(SoundOutTest, DeviceErrorsAreShownWithCodeTextAndPlace) {
    Arm();
    m_pDevice->nOpenError = paDeviceUnavailable;
    EXPECT_FALSE(m_pSound->Start());
    EXPECT_FALSE(m_pSound->IsPlaying());
    ASSERT_EQ(m_messages.Messages().size(), 1u);
    EXPECT_EQ(
        m_messages.Messages()[0],
        "WAVEOUT:ffffd8ff:" + std::string(Pa_GetErrorText(paDeviceUnavailable)) + " in start()");

    m_pDevice->nOpenError = paNoError;
    ASSERT_TRUE(m_pSound->Start());
    m_pDevice->FailReset(paTimedOut);
    m_pSound->Stop();
    ASSERT_EQ(m_messages.Messages().size(), 2u);
    EXPECT_EQ(m_messages.Messages()[1],
              "WAVEOUT:ffffd8fd:" + std::string(Pa_GetErrorText(paTimedOut)) + " in stop()");
    m_pDevice->FailReset(paNoError);
    for (int i = 0; i < 3; ++i) m_pDevice->Play();
    ASSERT_TRUE(Eventually([&] { return !m_pDevice->IsOpen(); }));
}

TEST_F(SoundOutTest, RefusedBuffersAreNotCountedAndAreReleased) {
    Arm();
    m_pDevice->Refuse(1);
    ASSERT_TRUE(m_pSound->Start());
    EXPECT_EQ(m_pSound->QueuedBuffers(), 2);
    ASSERT_EQ(m_messages.Messages().size(), 1u);
    EXPECT_NE(m_messages.Messages()[0].find("WAVEOUT:ffffd8f9:"), std::string::npos);
    EXPECT_NE(m_messages.Messages()[0].find(" in AddOutputBufferToQueue()"), std::string::npos);

    // A refill the device refuses is released at once; the stream goes on with one buffer.
    m_pDevice->Refuse(1);
    m_pDevice->Play();
    ASSERT_TRUE(Eventually([&] { return Removed() == 1; }));
    EXPECT_TRUE(m_pSound->IsPlaying());
    EXPECT_EQ(m_pSound->QueuedBuffers(), 1);

    // Stopped: the device closes when the one counted buffer is back.
    m_pSound->Stop();
    EXPECT_TRUE(m_pDevice->IsOpen());
    m_pDevice->Play();
    ASSERT_TRUE(Eventually([&] { return !m_pDevice->IsOpen(); }));
    EXPECT_EQ(m_pDevice->QueuedAtClose(), 0);
}

TEST_F(SoundOutTest, WhenEveryBufferIsRefusedStopStillClosesTheDevice) {
    Arm();
    m_pDevice->Refuse(3);
    ASSERT_TRUE(m_pSound->Start());
    EXPECT_EQ(m_pSound->QueuedBuffers(), 0);
    EXPECT_FALSE(m_pDevice->IsOpen()) << "no buffer will ever come back to close it";
    EXPECT_EQ(m_messages.Messages().size(), 3u);
}

TEST_F(SoundOutTest, DestroyingWhilePlayingReleasesEveryBuffer) {
    Arm();
    ASSERT_TRUE(m_pSound->Start());
    m_pDevice->Play();
    ASSERT_TRUE(Eventually([&] { return m_pDevice->WrittenSoFar().size() == 4; }));
    // The buffers a reset holds on to come back only when the device is closed: the destructor
    // must close it and release them (the sanitizers see a leak otherwise).
    m_pSound.reset();
    EXPECT_EQ(TracesLike("waveOutReset()\n").size(), 1u);
}

}  // namespace
