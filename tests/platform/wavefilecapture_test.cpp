// WAVE files played as the microphone: what comes out of the buffers, and what is refused.
#include "platform/wavefilecapture.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using platform::CWaveFileCapture;
using platform::WaveFormat;
using platform::WaveHeader;

constexpr WaveFormat kStereo8000{platform::kWaveFormatPcm, 2, 8000, 32000, 4, 16, 0};
constexpr uint32_t kBufferBytes = 3840;  // 960 frames, 0.12 s
constexpr uint32_t kBufferFrames = kBufferBytes / 4;

std::string Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
std::string DataFile(const char* name) { return std::string(QUORVEL_TEST_DATA) + "/" + name; }

// Little-endian samples as the file stores them.
std::vector<int16_t> Samples(const std::string& bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(uint8_t(bytes[2 * i]) | uint8_t(bytes[2 * i + 1]) << 8);
    return samples;
}

std::string LE(uint32_t n, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += char(n >> (8 * i));
    return s;
}

// A 16-bit PCM WAVE file, built here byte by byte; the sizes are written as given.
std::string Wave(int channels, uint32_t rate, const std::vector<int16_t>& samples,
                 uint32_t riffSize, uint32_t dataSize) {
    std::string data;
    for (int16_t s : samples) data += LE(uint16_t(s), 2);
    const std::string fmt = LE(1, 2) + LE(channels, 2) + LE(rate, 4) + LE(rate * channels * 2, 4) +
                            LE(channels * 2, 2) + LE(16, 2);
    return "RIFF" + LE(riffSize, 4) + "WAVE" + "fmt " + LE(16, 4) + fmt + "data" + LE(dataSize, 4) +
           data;
}
std::string Wave(int channels, uint32_t rate, const std::vector<int16_t>& samples) {
    const auto data = uint32_t(samples.size() * 2);
    return Wave(channels, rate, samples, 36 + data, data);
}

class WaveFileCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quorvel-wavecap-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        for (std::size_t i = 0; i < m_headers.size(); ++i) {
            m_memory[i].resize(kBufferBytes);
            m_headers[i].lpData = m_memory[i].data();
            m_headers[i].dwBufferLength = kBufferBytes;
        }
    }
    void TearDown() override {
        {
            std::lock_guard lock(m_mutex);  // the capture thread may be in a notice
            m_onReturn = nullptr;
        }
        if (m_device) m_device->Close();  // its thread ends before the pointer changes
        m_device.reset();                 // before the notice's state goes
        std::filesystem::remove_all(m_dir);
    }

    std::string Save(const std::string& bytes) const {
        const std::string path = (m_dir / "in.wav").string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    bool Open(const std::string& path) {
        m_device = std::make_unique<CWaveFileCapture>(path);
        return m_device->Open(kStereo8000, Notice());
    }
    // Records every returned buffer, then runs m_onReturn (which may call back into the device).
    CWaveFileCapture::Notice Notice() {
        return [this](WaveHeader* header) {
            std::function<void(WaveHeader*)> onReturn;
            {
                std::lock_guard lock(m_mutex);
                m_returned.push_back(header);
                m_data.append(header->lpData, header->dwBytesRecorded);
                onReturn = m_onReturn;
            }
            if (onReturn) onReturn(header);
            m_changed.notify_all();
        };
    }
    void Queue(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_TRUE(m_device->PrepareBuffer(&m_headers[i]));
            ASSERT_TRUE(m_device->AddBuffer(&m_headers[i]));
        }
    }
    // Waits for the count of returned buffers to reach n; false when it does not come.
    bool WaitFor(std::size_t n) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(120),
                                  [&] { return m_returned.size() >= n; });
    }
    std::vector<int16_t> Recorded() {
        std::lock_guard lock(m_mutex);
        return Samples(m_data);
    }

    std::filesystem::path m_dir;
    std::array<std::vector<char>, 4> m_memory;
    std::array<WaveHeader, 4> m_headers{};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<WaveHeader*> m_returned;
    std::string m_data;  // the recorded bytes of every returned buffer, in order
    std::function<void(WaveHeader*)> m_onReturn;
    std::unique_ptr<CWaveFileCapture> m_device;
};

TEST_F(WaveFileCaptureTest, MonoIsRecordedIntoBothChannelsThenSilence) {
    const std::vector<int16_t> mono = Samples(Load(DataFile("mono-8000.raw")));
    ASSERT_FALSE(mono.empty());
    ASSERT_TRUE(Open(DataFile("mono-8000.wav"))) << m_device->LastError();
    Queue(2);
    ASSERT_TRUE(m_device->Start());
    ASSERT_TRUE(WaitFor(2));

    const std::vector<int16_t> got = Recorded();
    ASSERT_EQ(got.size(), 2 * 2 * kBufferFrames);
    for (std::size_t f = 0; f < got.size() / 2; ++f) {
        const int16_t expected = f < mono.size() ? mono[f] : 0;
        ASSERT_EQ(got[2 * f], expected) << "left channel, frame " << f;
        ASSERT_EQ(got[2 * f + 1], expected) << "right channel, frame " << f;
    }
}

TEST_F(WaveFileCaptureTest, StereoIsRecordedAsItIsThenSilence) {
    const std::vector<int16_t> stereo = Samples(Load(DataFile("stereo-8000.raw")));
    ASSERT_FALSE(stereo.empty());
    ASSERT_TRUE(Open(DataFile("stereo-8000.wav"))) << m_device->LastError();
    Queue(1);
    ASSERT_TRUE(m_device->Start());
    ASSERT_TRUE(WaitFor(1));

    const std::vector<int16_t> got = Recorded();
    ASSERT_EQ(got.size(), 2 * kBufferFrames);
    const std::vector<int16_t> head(got.begin(), got.begin() + std::ptrdiff_t(stereo.size()));
    EXPECT_EQ(head, stereo);
    for (std::size_t i = stereo.size(); i < got.size(); ++i) ASSERT_EQ(got[i], 0) << "sample " << i;
}

// Sizes that a writer which never finished its file leaves behind: the samples run to the end
// of the file, and never beyond it.
TEST_F(WaveFileCaptureTest, UnfinishedSizesReadToTheEndOfTheFile) {
    std::vector<int16_t> mono(100);
    for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = int16_t(1000 + i);
    for (const auto& [riffSize, dataSize] :
         {std::pair<uint32_t, uint32_t>{0, 0}, {0xFFFFFFF0u, 0xFFFFFF00u}}) {
        SCOPED_TRACE(testing::Message() << "RIFF size " << riffSize << ", data size " << dataSize);
        {
            std::lock_guard lock(m_mutex);
            m_returned.clear();
            m_data.clear();
        }
        ASSERT_TRUE(Open(Save(Wave(1, 8000, mono, riffSize, dataSize)))) << m_device->LastError();
        Queue(1);
        ASSERT_TRUE(m_device->Start());
        ASSERT_TRUE(WaitFor(1));
        const std::vector<int16_t> got = Recorded();
        for (std::size_t f = 0; f < kBufferFrames; ++f)
            ASSERT_EQ(got[2 * f], f < mono.size() ? mono[f] : 0) << "frame " << f;
    }
}

// A capture thread held up (here by a notice that takes a second) delivers the blocks it owes
// late, but they were recorded when they were due: their stamps go on 120 ms apart.
TEST_F(WaveFileCaptureTest, ALateDeliveryIsStampedWhenItsSoundWasRecorded) {
    ASSERT_TRUE(Open(DataFile("mono-8000.wav"))) << m_device->LastError();
    const auto start = std::chrono::steady_clock::now();
    m_device->SetStampClock([start] {
        return int32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count());
    });
    std::vector<int32_t> stamps;
    {
        std::lock_guard lock(m_mutex);
        m_onReturn = [&stamps](WaveHeader* header) {
            stamps.push_back(header->nClockMs);  // only the capture thread touches it
            if (stamps.size() == 1) std::this_thread::sleep_for(std::chrono::seconds(1));
        };
    }
    Queue(4);
    ASSERT_TRUE(m_device->Start());
    ASSERT_TRUE(WaitFor(4));
    m_device->Reset();
    ASSERT_GE(stamps.size(), 4u);
    // The second block was due 120 ms after the first and came a second later; a thread
    // delayed far beyond that between reading the clock twice would still stay within 400 ms.
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_LT(stamps[i] - stamps[i - 1], 120 + 400) << "block " << i << " stamped late";
    EXPECT_GE(stamps[3] - stamps[0], 3 * 120 - 10);
}

TEST_F(WaveFileCaptureTest, RefusesFilesItCannotPlayAndNamesThem) {
    struct Case {
        std::string path;
        const char* problem;
    };
    const std::vector<int16_t> some(8, 1);
    const std::string quad = Save(Wave(4, 8000, some));
    for (const Case& c :
         {Case{DataFile("stereo-44100.wav"), "44100 frames per second; 8000 are needed"},
          Case{DataFile("mono-8000-u8-odd.wav"), "8 bits per sample"}, Case{quad, "4 channels"},
          Case{DataFile("not-riff.wav"), "not a RIFF WAVE file"},
          Case{DataFile("no-such-file.wav"), "cannot be opened"}}) {
        SCOPED_TRACE(c.path);
        EXPECT_FALSE(Open(c.path));
        EXPECT_FALSE(m_device->IsOpen());
        const std::string error = m_device->LastError();
        EXPECT_EQ(error.rfind(c.path + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.problem), std::string::npos) << error;
    }
}

// A ramp (frame n holds n) shows where in the file each block came from. Every notice resets the
// device from the delivery thread, so that no block is lost while the test queues the next buffer.
TEST_F(WaveFileCaptureTest, AResetPausesTheFileAndOpeningAgainRewindsIt) {
    std::vector<int16_t> ramp(3 * kBufferFrames);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = int16_t(i);
    ASSERT_TRUE(Open(Save(Wave(1, 8000, ramp)))) << m_device->LastError();
    {
        std::lock_guard lock(m_mutex);
        m_onReturn = [this](WaveHeader*) { m_device->Reset(); };
    }
    for (std::size_t n = 1; n <= 2; ++n) {
        Queue(1);
        ASSERT_TRUE(m_device->Start());
        ASSERT_TRUE(WaitFor(n));
    }
    std::vector<int16_t> got = Recorded();
    ASSERT_EQ(got.size(), 2 * 2 * kBufferFrames);
    for (std::size_t f = 0; f < 2 * kBufferFrames; ++f)
        ASSERT_EQ(got[2 * f], int16_t(f)) << "frame " << f;

    m_device->Close();
    ASSERT_TRUE(m_device->Open(kStereo8000, Notice())) << m_device->LastError();
    Queue(1);
    ASSERT_TRUE(m_device->Start());
    ASSERT_TRUE(WaitFor(3));
    got = Recorded();
    ASSERT_EQ(got.size(), 3 * 2 * kBufferFrames);
    for (std::size_t f = 0; f < kBufferFrames; ++f)
        ASSERT_EQ(got[2 * (2 * kBufferFrames + f)], int16_t(f))
            << "frame " << f << " after opening again";
}

TEST_F(WaveFileCaptureTest, ResetReturnsEveryQueuedBufferAndNothingComesAfter) {
    ASSERT_TRUE(Open(DataFile("mono-8000.wav"))) << m_device->LastError();
    Queue(4);
    ASSERT_TRUE(m_device->Start());
    ASSERT_TRUE(m_device->Reset());  // at once, long before the file or the silence is through
    {
        std::lock_guard lock(m_mutex);
        ASSERT_EQ(m_returned.size(), 4u);
        for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(m_returned[i], &m_headers[i]);
    }
    for (const WaveHeader& header : m_headers) {
        EXPECT_TRUE(header.dwFlags & platform::kWaveHeaderDone);
        EXPECT_FALSE(header.dwFlags & platform::kWaveHeaderInQueue);
    }

    // Queued again without a start: the stopped thread must not fill it.
    std::memset(m_headers[0].lpData, 0x55, kBufferBytes);
    Queue(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::lock_guard lock(m_mutex);
    EXPECT_EQ(m_returned.size(), 4u);
    EXPECT_EQ(m_headers[0].dwBytesRecorded, 0u);
    EXPECT_EQ(m_headers[0].lpData[0], 0x55);
}

}  // namespace
