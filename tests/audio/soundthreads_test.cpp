// The recording and playback threads on real devices: the private PulseAudio server that the
// CTest fixture pulse-null-sink starts, whose default input is the monitor of its null sink. What
// CSoundOut plays comes back through CSoundIn.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "audio/soundfile.h"
#include "audio/soundin.h"
#include "audio/soundout.h"
#include "engine/pitchtracker.h"
#include "platform/messages.h"
#include "tests/support/alsaleaks.h"
#include "tests/support/eventually.h"
#include "tests/support/pulseserver.h"

namespace {

constexpr int32_t kNote440 = 690;  // 440 Hz in tenths of a semitone
constexpr int kToneBuffers = 24;   // of 2000 bytes, 3 s at 8000 Hz
constexpr int kChunk = 960;        // samples per pitch-tracked piece, 0.12 s at 8000 Hz

using testing_support::Eventually;

// Everything the recording thread handed on, as 16-bit mono samples.
struct Recording {
    std::mutex mutex;
    std::vector<int16_t> samples;
    std::vector<int32_t> sizes;

    static void Callback(CBuffer* pBuffer, void* pParam) {
        auto* self = static_cast<Recording*>(pParam);
        std::lock_guard lock(self->mutex);
        const auto* p = reinterpret_cast<const int16_t*>(pBuffer->m_pData);
        self->samples.insert(self->samples.end(), p, p + pBuffer->m_nSize / 2);
        self->sizes.push_back(pBuffer->m_nSize);
    }
    std::size_t FullBuffers(int32_t nSize) {
        std::lock_guard lock(mutex);
        return std::size_t(std::count(sizes.begin(), sizes.end(), nSize));
    }
};

// An endless 440 Hz tone for the playback thread.
struct Sine {
    long nSample = 0;
    static void Callback(CBuffer* pBuffer, void* pParam) {
        auto* self = static_cast<Sine*>(pParam);
        auto* p = reinterpret_cast<int16_t*>(pBuffer->m_pData);
        for (int32_t i = 0; i < pBuffer->m_nSize / 2; ++i, ++self->nSample)
            p[i] = int16_t(std::lround(
                12000 * std::sin(2 * std::numbers::pi * 440 * double(self->nSample) / 8000)));
    }
};

void ReadFromFile(CBuffer* pBuffer, void* pParam) {
    static_cast<CSoundFile*>(pParam)->Read(pBuffer);
}

class SoundThreadsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_skip = testing_support::JoinPrivateSoundServer(QUORVEL_PULSE_DIR);
    }
    void SetUp() override {
        if (!s_skip.empty()) GTEST_SKIP() << s_skip;
    }
    void TearDown() override {
        if (!m_strTone.empty()) std::filesystem::remove(m_strTone);
        EXPECT_TRUE(m_messages.Messages().empty())
            << "a device error was shown: " << m_messages.Messages().front();
    }

    // The traces of the playback stream's end, in order.
    std::vector<std::string> EndTraces() {
        std::vector<std::string> found;
        for (const std::string& trace : m_messages.Traces())
            if (trace.rfind("waveOut", 0) == 0 || trace == "WOM_DONE : remove buffer\n")
                found.push_back(trace);
        return found;
    }
    std::size_t Count(const std::string& line) {
        const std::vector<std::string> traces = m_messages.Traces();
        return std::size_t(std::count(traces.begin(), traces.end(), line));
    }
    bool Closed() { return Count("waveOutClose()\n") > 0; }

    // The stream's end: one reset, each of the three buffers released, the close last. (An
    // owner's Stop may clear the flag while the worker is handling a buffer, whose release then
    // comes before the reset's trace.)
    void ExpectClosedWithTheLastBuffer() {
        const std::vector<std::string> end = EndTraces();
        ASSERT_FALSE(end.empty());
        EXPECT_EQ(end.back(), "waveOutClose()\n");
        EXPECT_EQ(std::count(end.begin(), end.end(), "waveOutClose()\n"), 1);
        EXPECT_EQ(std::count(end.begin(), end.end(), "waveOutReset()\n"), 1);
        EXPECT_EQ(std::count(end.begin(), end.end(), "WOM_DONE : remove buffer\n"), 3);
    }

    static inline std::string s_skip;
    platform::MessageCapture m_messages;
    std::string m_strTone;
};

// Pitch-tracks every piece of the recording that the tone fills throughout.
void ExpectPitch440(const std::vector<int16_t>& samples) {
    int nPieces = 0, nFrames = 0, nOn440 = 0;
    for (std::size_t at = 0; at + kChunk <= samples.size(); at += kChunk) {
        bool bLoud = true;
        for (int part = 0; part < 10 && bLoud; ++part) {
            double energy = 0;
            for (int i = 0; i < kChunk / 10; ++i) {
                const double x = samples[at + std::size_t(part * kChunk / 10 + i)];
                energy += x * x;
            }
            bLoud = std::sqrt(energy / (kChunk / 10)) >= 2000;
        }
        if (!bLoud) continue;
        ++nPieces;
        std::vector<int32_t> pitch(std::size_t(engine::PitchFrameCount(kChunk, 8000, 256, 128)));
        ASSERT_EQ(engine::TrackPitch(samples.data() + at, kChunk, 8000, 256, 128, pitch.data()),
                  int(pitch.size()));
        for (int32_t value : pitch) {
            ++nFrames;
            nOn440 += std::abs(value - kNote440) <= 5;
        }
    }
    EXPECT_GE(nPieces, 6) << "too little of the tone came back";
    EXPECT_GE(nOn440 * 4, nFrames * 3) << nOn440 << " of " << nFrames << " pitch frames at 440 Hz";
}

TEST_F(SoundThreadsTest, AToneFromAFilePlaysUntilItsEndAndIsRecordedAtItsPitch) {
    // Three seconds of 440 Hz, 16-bit mono at 8000 Hz: 24 buffers of 2000 bytes.
    m_strTone = (std::filesystem::temp_directory_path() /
                 ("quorvel-soundthreads-" + std::to_string(getpid()) + ".wav"))
                    .string();
    {
        CSoundBase mono;
        CSoundFile file(m_strTone, mono.GetFormat());
        ASSERT_EQ(file.GetMode(), CSoundFile::ModeWriting);
        Sine sine;
        for (int i = 0; i < kToneBuffers; ++i) {
            CBuffer buffer(2000);
            Sine::Callback(&buffer, &sine);
            ASSERT_TRUE(file.Write(&buffer));
        }
        ASSERT_TRUE(file.Close());
    }
    CSoundFile tone(m_strTone);
    ASSERT_EQ(tone.GetMode(), CSoundFile::ModeReading);

    Recording recording;
    CSoundIn in;
    in.m_pfnCallback = &Recording::Callback;
    in.m_pCallbackParam = &recording;
    ASSERT_TRUE(in.Start());
    // The tone goes out once the recording is under way.
    ASSERT_TRUE(Eventually([&] { return recording.FullBuffers(2000) >= 2; }));
    CSoundOut out;
    out.m_pfnCallback = &ReadFromFile;
    out.m_pCallbackParam = &tone;
    ASSERT_TRUE(out.Start(tone.GetFormat()));
    EXPECT_TRUE(out.IsPlaying());

    ASSERT_TRUE(Eventually([&] { return Closed(); })) << "the stream did not end";
    EXPECT_FALSE(out.IsPlaying());
    EXPECT_EQ(out.QueuedBuffers(), 0);
    EXPECT_EQ(Count("WOM_DONE : refill buffer\n"), std::size_t(kToneBuffers - 3))
        << "every block of the file played";
    ExpectClosedWithTheLastBuffer();
    // Ended on the worker: the reset comes first.
    EXPECT_EQ(EndTraces().front(), "waveOutReset()\n");

    // The tail of the tone reaches the recording a little later.
    const std::size_t nNow = recording.FullBuffers(2000);
    ASSERT_TRUE(Eventually([&] { return recording.FullBuffers(2000) >= nNow + 3; }));
    in.Stop();
    EXPECT_FALSE(in.IsRecording());
    ASSERT_TRUE(Eventually([&] { return in.QueuedBuffers() == 0; }));
    std::lock_guard lock(recording.mutex);
    ExpectPitch440(recording.samples);
}

TEST_F(SoundThreadsTest, StoppedByItsOwnerThePlaybackClosesWhenTheLastBufferIsBack) {
    Sine sine;
    CSoundOut out;
    out.m_pfnCallback = &Sine::Callback;
    out.m_pCallbackParam = &sine;
    ASSERT_TRUE(out.Start());
    ASSERT_TRUE(Eventually([&] { return Count("WOM_DONE : refill buffer\n") >= 4; }));
    out.Stop();
    EXPECT_FALSE(out.IsPlaying());
    ASSERT_TRUE(Eventually([&] { return Closed(); }));
    EXPECT_EQ(out.QueuedBuffers(), 0);
    ExpectClosedWithTheLastBuffer();

    // Idle again: it starts anew, and going away while playing leaves nothing behind.
    m_messages.Clear();
    ASSERT_TRUE(out.Start());
    ASSERT_TRUE(Eventually([&] { return Count("WOM_DONE : refill buffer\n") >= 1; }));
}

TEST_F(SoundThreadsTest, RecordingStopsAndStartsAgain) {
    Recording recording;
    {
        CSoundIn in;
        in.m_pfnCallback = &Recording::Callback;
        in.m_pCallbackParam = &recording;
        ASSERT_TRUE(in.Start());
        EXPECT_FALSE(in.Start());
        ASSERT_TRUE(Eventually([&] { return recording.FullBuffers(2000) >= 3; }));
        in.Stop();
        ASSERT_TRUE(Eventually([&] { return in.QueuedBuffers() == 0; }));
        const std::size_t nStopped = recording.FullBuffers(2000);

        ASSERT_TRUE(in.Start());
        EXPECT_EQ(in.QueuedBuffers(), 3);
        ASSERT_TRUE(Eventually([&] { return recording.FullBuffers(2000) >= nStopped + 2; }));
    }  // destroyed while recording
    EXPECT_GE(Count("WIM_DATA 2000\n"), 5u);
}

}  // namespace
