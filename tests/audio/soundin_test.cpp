// The recording thread driven through a stand-in device, so that every buffer's way can be
// followed: the test plays the device, filling queued buffers and handing them back.
#include "audio/soundin.h"

#include <gtest/gtest.h>
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
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

class CFakeCapture : public testing_support::FakeWaveDevice {
public:
    int Add(WaveHeader* pHeader) override {
        std::lock_guard lock(m_mutex);
        if (nAddsLeft == 0) return paInsufficientMemory;
        if (nAddsLeft > 0) --nAddsLeft;
        if (!m_bOpen || !(pHeader->dwFlags & platform::kWaveHeaderPrepared)) return paBadStreamPtr;
        pHeader->dwFlags |= platform::kWaveHeaderInQueue;
        pHeader->dwBytesRecorded = 0;
        m_queue.push_back(pHeader);
        ++nAdds;
        return paNoError;
    }
    int Start() override {
        std::lock_guard lock(m_mutex);
        return nStartError;
    }
    int Reset() override {
        if (nResetError) return nResetError;
        if (!bHoldOnReset) ReturnAll();
        return paNoError;
    }
    int Close() override {
        ReturnAll();
        std::lock_guard lock(m_mutex);
        m_bOpen = false;
        ++nCloses;
        if (pClosed) *pClosed = true;
        return paNoError;
    }

    // Test side: the buffers the device holds, and handing one back with bytes recorded into it.
    std::vector<WaveHeader*> Queued() const {
        std::lock_guard lock(m_mutex);
        return {m_queue.begin(), m_queue.end()};
    }
    platform::WaveFormat Format() const {
        std::lock_guard lock(m_mutex);
        return m_format;
    }
    // Fills the head buffer with the bytes and hands it back, as the device thread would.
    WaveHeader* Fill(const std::string& bytes) {
        return HandBackHead([&bytes](WaveHeader* pHeader) {
            const std::size_t n = std::min<std::size_t>(bytes.size(), pHeader->dwBufferLength);
            std::memcpy(pHeader->lpData, bytes.data(), n);
            pHeader->dwBytesRecorded = uint32_t(n);
        });
    }
    void ReturnAll() {
        HandBackAll([] {});
    }

    // Set before Start; read under the device's lock or by the test thread only.
    int nStartError = paNoError;
    int nResetError = paNoError;
    int nAddsLeft = -1;         // adds accepted before every further one fails; -1: no limit
    bool bHoldOnReset = false;  // a reset keeps the buffers: the test hands them back late
    int nAdds = 0, nCloses = 0;
    std::atomic<bool>* pClosed = nullptr;  // set when closed; may outlive the device
};

// What the callback was given: the bytes of each buffer, and the thread it ran on.
struct Received {
    std::mutex mutex;
    std::vector<std::string> buffers;
    std::vector<std::thread::id> threads;

    std::size_t Count() {
        std::lock_guard lock(mutex);
        return buffers.size();
    }
    static void Callback(CBuffer* pBuffer, void* pParam) {
        auto* self = static_cast<Received*>(pParam);
        std::lock_guard lock(self->mutex);
        self->buffers.emplace_back(reinterpret_cast<char*>(pBuffer->m_pData),
                                   std::size_t(pBuffer->m_nSize));
        self->threads.push_back(std::this_thread::get_id());
    }
};

class SoundInTest : public ::testing::Test {
protected:
    SoundInTest() {
        auto device = std::make_unique<CFakeCapture>();
        m_pDevice = device.get();
        m_pSound = std::make_unique<CSoundIn>(std::move(device));
    }
    void Arm() {
        m_pSound->m_pfnCallback = &Received::Callback;
        m_pSound->m_pCallbackParam = &m_received;
    }
    bool Handled(std::size_t nTraces) {
        return Eventually([&] { return m_messages.Traces().size() >= nTraces; });
    }

    platform::MessageCapture m_messages;
    Received m_received;
    CFakeCapture* m_pDevice;  // owned by m_pSound
    std::unique_ptr<CSoundIn> m_pSound;
};

TEST_F(SoundInTest, StartRefusesWithoutCallbackOrWhileRecordingAndOpensNothing) {
    EXPECT_FALSE(m_pSound->Start());
    m_pSound->m_pfnCallback = &Received::Callback;
    EXPECT_FALSE(m_pSound->Start()) << "the parameter is missing";
    EXPECT_EQ(m_pDevice->nOpens, 0);

    Arm();
    ASSERT_TRUE(m_pSound->Start());
    EXPECT_FALSE(m_pSound->Start());
    EXPECT_EQ(m_pDevice->nOpens, 1);
    EXPECT_EQ(m_pDevice->Queued().size(), 3u);
    EXPECT_TRUE(m_messages.Messages().empty());
}

TEST_F(SoundInTest, StartQueuesThreeBuffersOfTheFormatsLength) {
    Arm();
    ASSERT_TRUE(m_pSound->Start());
    for (WaveHeader* pHeader : m_pDevice->Queued()) EXPECT_EQ(pHeader->dwBufferLength, 2000u);
    EXPECT_EQ(m_pSound->QueuedBuffers(), 3);
    EXPECT_EQ(m_pDevice->Format().nSamplesPerSec, 8000u);
    m_pSound->Stop();

    // 44100 Hz stereo, given as a record: 4-byte frames, 176400 bytes a second.
    CSoundBase stereo;
    stereo.SetNumberOfChannels(2);
    stereo.SetSamplesPerSecond(44100);
    ASSERT_TRUE(Eventually([&] { return m_pSound->QueuedBuffers() == 0; }));
    ASSERT_TRUE(m_pSound->Start(stereo.GetFormat()));
    EXPECT_EQ(m_pDevice->Format().nBlockAlign, 4);
    EXPECT_EQ(m_pDevice->Format().nAvgBytesPerSec, 176400u);
    EXPECT_EQ(m_pSound->GetNumberOfChannels(), 2);
    const auto queued = m_pDevice->Queued();
    ASSERT_EQ(queued.size(), 3u);
    for (WaveHeader* pHeader : queued) EXPECT_EQ(pHeader->dwBufferLength, 4000u);
}

TEST_F(SoundInTest, FilledBuffersReachTheCallbackOnTheWorkerAndGoBackToTheDevice) {
    Arm();
    ASSERT_TRUE(m_pSound->Start());
    const std::string first(2000, '\x11'), second = std::string(1500, '\x22');
    WaveHeader* pFirst = m_pDevice->Fill(first);
    ASSERT_TRUE(Eventually([&] { return m_pDevice->Queued().size() == 3; }));
    EXPECT_EQ(m_pDevice->Queued().back(), pFirst) << "the same buffer is queued again";
    m_pDevice->Fill(second);
    ASSERT_TRUE(Eventually([&] { return m_received.Count() == 2; }));
    {
        std::lock_guard lock(m_received.mutex);
        EXPECT_EQ(m_received.buffers[0], first);
        EXPECT_EQ(m_received.buffers[1], second) << "only the bytes recorded";
        for (const std::thread::id& id : m_received.threads)
            EXPECT_NE(id, std::this_thread::get_id());
        EXPECT_EQ(m_received.threads[0], m_received.threads[1]);
    }
    ASSERT_TRUE(Handled(2));
    EXPECT_EQ(m_messages.Traces()[0], "WIM_DATA 2000\n");
    EXPECT_EQ(m_messages.Traces()[1], "WIM_DATA 1500\n");
    EXPECT_EQ(m_pSound->QueuedBuffers(), 3);
}

TEST_F(SoundInTest, StopReleasesEveryBufferAndClosesTheDevice) {
    Arm();
    ASSERT_TRUE(m_pSound->Start());
    m_pSound->Stop();
    EXPECT_FALSE(m_pSound->IsRecording());
    EXPECT_FALSE(m_pDevice->IsOpen());
    ASSERT_TRUE(Eventually([&] { return m_pSound->QueuedBuffers() == 0; }));

    // Idle again: a new start opens the device afresh.
    ASSERT_TRUE(m_pSound->Start());
    EXPECT_EQ(m_pDevice->nOpens, 2);
    EXPECT_EQ(m_pSound->QueuedBuffers(), 3);
}

TEST_F(SoundInTest, ABufferArrivingAfterStopIsReleasedNotHandedOn) {
    Arm();
    m_pDevice->bHoldOnReset = true;
    ASSERT_TRUE(m_pSound->Start());
    // Handed back only after Stop has cleared the flag (the close that follows gives back the
    // other two).
    WaveHeader* pLate = m_pDevice->Queued().front();
    std::thread late([&] {
        ASSERT_TRUE(Eventually([&] { return !m_pSound->IsRecording(); }));
        EXPECT_EQ(m_pDevice->Fill(std::string(2000, 'x')), pLate);
    });
    m_pSound->Stop();
    late.join();
    ASSERT_TRUE(Eventually([&] { return m_pSound->QueuedBuffers() == 0; }));
    EXPECT_EQ(m_received.Count(), 0u);
    EXPECT_EQ(m_pDevice->nAdds, 3) << "nothing was queued again";
    EXPECT_TRUE(m_pDevice->Queued().empty());
}

TEST_F(SoundInTest, DestroyingWhileRecordingStopsAndReleasesEverything) {
    Arm();
    ASSERT_TRUE(m_pSound->Start());
    m_pDevice->Fill(std::string(2000, 'a'));
    ASSERT_TRUE(Eventually([&] { return m_received.Count() == 1; }));
    std::atomic<bool> bClosed{false};
    m_pDevice->pClosed = &bClosed;
    m_pSound.reset();  // a leak would show under the sanitizers
    EXPECT_TRUE(bClosed);
}

// Device errors: the message carries PortAudio's code in hexadecimal, its text and the place.
TEST_F(SoundInTest, DeviceErrorsAreShownWithCodeTextAndPlace) {
    Arm();
    m_pDevice->nOpenError = paInvalidDevice;
    EXPECT_FALSE(m_pSound->Start());
    EXPECT_FALSE(m_pSound->IsRecording());
    const std::string invalid = Pa_GetErrorText(paInvalidDevice);
    ASSERT_EQ(m_messages.Messages().size(), 1u);
    EXPECT_EQ(m_messages.Messages()[0], "WAVEIN:ffffd8f4:" + invalid + " in Start()");

    m_pDevice->nOpenError = paNoError;
    m_pDevice->nStartError = paDeviceUnavailable;
    EXPECT_FALSE(m_pSound->Start());
    EXPECT_FALSE(m_pDevice->IsOpen()) << "a device that cannot start is closed again";
    ASSERT_TRUE(Eventually([&] { return m_pSound->QueuedBuffers() == 0; }));
    ASSERT_EQ(m_messages.Messages().size(), 2u);
    EXPECT_NE(m_messages.Messages()[1].find(" in Start()"), std::string::npos);

    m_pDevice->nStartError = paNoError;
    ASSERT_TRUE(m_pSound->Start());
    m_pDevice->nResetError = paInternalError;
    m_pSound->Stop();
    EXPECT_TRUE(m_pSound->IsRecording()) << "a failed reset leaves the recording on";
    ASSERT_EQ(m_messages.Messages().size(), 3u);
    EXPECT_EQ(m_messages.Messages()[2],
              "WAVEIN:ffffd8fe:" + std::string(Pa_GetErrorText(paInternalError)) + " in Stop()");
    m_pDevice->nResetError = paNoError;
}

TEST_F(SoundInTest, ABufferTheDeviceRefusesIsReleased) {
    Arm();
    m_pDevice->nAddsLeft = 2;
    ASSERT_TRUE(m_pSound->Start());
    EXPECT_EQ(m_pSound->QueuedBuffers(), 2) << "the refused one is not counted";
    ASSERT_EQ(m_messages.Messages().size(), 1u);
    EXPECT_NE(m_messages.Messages()[0].find("WAVEIN:ffffd8f8:"), std::string::npos);
    EXPECT_NE(m_messages.Messages()[0].find(" in AddInputBufferToQueue()"), std::string::npos);

    // Giving a filled buffer back fails too: it still reaches the callback, then is released.
    m_pDevice->Fill(std::string(2000, 'b'));
    ASSERT_TRUE(Eventually([&] { return m_pSound->QueuedBuffers() == 1; }));
    EXPECT_EQ(m_received.Count(), 1u);
    ASSERT_EQ(m_messages.Messages().size(), 2u);
    EXPECT_NE(m_messages.Messages()[1].find(" in OnWIM_DATA()"), std::string::npos);
}

TEST(SoundInErrorText, IsCutAtOneHundredCharacters) {
    class CWordyDevice : public CFakeCapture {
    public:
        std::string ErrorText(int) const override { return std::string(150, 'w'); }
    };
    platform::MessageCapture messages;
    auto device = std::make_unique<CWordyDevice>();
    device->nOpenError = paTimedOut;
    CSoundIn sound(std::move(device));
    Received received;
    sound.m_pfnCallback = &Received::Callback;
    sound.m_pCallbackParam = &received;
    EXPECT_FALSE(sound.Start());
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0], "WAVEIN:ffffd8fd:" + std::string(100, 'w') + " in Start()");
}

}  // namespace
