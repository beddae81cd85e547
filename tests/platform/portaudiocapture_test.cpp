// The microphone, recorded from the private PulseAudio server that the CTest fixture
// pulse-null-sink starts: its default source is the monitor of a null sink, so a tone played into
// the server comes back through PortAudio's default input device.
#include "platform/portaudiocapture.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <portaudio.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "engine/pitchtracker.h"
#include "platform/soundplayer.h"

extern char** environ;

#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_ASAN 1
#endif
#endif
#ifdef QUORVEL_ASAN
// While PortAudio probes the devices, ALSA loads plugins whose static initialisers allocate and
// never free, and unloads them before the leak check. Only the full stack (slow unwinding) shows
// that such an allocation came through ALSA.
extern "C" const char* __lsan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:libasound.so\n"; }
#endif

namespace {

using platform::CPortAudioCapture;
using platform::WaveFormat;
using platform::WaveHeader;

constexpr WaveFormat kStereo8000{platform::kWaveFormatPcm, 2, 8000, 32000, 4, 16, 0};
constexpr uint32_t kBufferBytes = 3840;  // 960 frames, 0.12 s
constexpr int kBufferFrames = kBufferBytes / 4;
constexpr int32_t kNote440 = 690;  // 440 Hz in tenths of a semitone

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

int ThreadCount() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++n;
        closedir(dir);
    }
    return n;
}

std::string LE(uint32_t n, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += char(n >> (8 * i));
    return s;
}

// Writes a 16-bit mono WAVE file of a sine tone.
void WriteTone(const std::string& path, double hz, double seconds, uint32_t rate) {
    std::string data;
    const auto count = uint32_t(seconds * rate);
    for (uint32_t i = 0; i < count; ++i)
        data += LE(
            uint16_t(int16_t(std::lround(12000 * std::sin(2 * std::numbers::pi * hz * i / rate)))),
            2);
    std::ofstream(path, std::ios::binary)
        << "RIFF" << LE(36 + count * 2, 4) << "WAVEfmt " << LE(16, 4) << LE(1, 2) << LE(1, 2)
        << LE(rate, 4) << LE(rate * 2, 4) << LE(2, 2) << LE(16, 2) << "data" << LE(count * 2, 4)
        << data;
}

class PortAudioCaptureTest : public ::testing::Test {
protected:
    // Takes the server's variables from the fixture's env file before PortAudio first starts.
    static void SetUpTestSuite() {
        const std::filesystem::path dir = QUORVEL_PULSE_DIR;
        if (std::filesystem::exists(dir / "unavailable")) {
            s_skip = "no sound server: " + ReadFile(dir / "unavailable");
            return;
        }
        std::ifstream env(dir / "env");
        if (!env) {
            s_skip =
                "the private sound server is not running (CTest's fixture pulse-null-sink starts "
                "it)";
            return;
        }
        for (std::string line; std::getline(env, line);) {
            const auto equals = line.find('=');
            if (equals != std::string::npos)
                setenv(line.substr(0, equals).c_str(), line.substr(equals + 1).c_str(), 1);
        }
    }

    void SetUp() override {
        if (!s_skip.empty()) GTEST_SKIP() << s_skip;
        for (std::size_t i = 0; i < m_headers.size(); ++i) {
            m_memory[i].resize(kBufferBytes);
            m_headers[i].lpData = m_memory[i].data();
            m_headers[i].dwBufferLength = kBufferBytes;
        }
    }

    void TearDown() override {
        m_device.Close();
        if (m_player > 0) {  // the tone may still be playing
            kill(m_player, SIGTERM);
            waitpid(m_player, nullptr, 0);
        }
        if (!m_tone.empty()) std::filesystem::remove(m_tone);
    }

    // Opens the microphone; every returned buffer is copied, and queued again while m_requeue.
    bool Open() {
        return m_device.Open(kStereo8000, [this](WaveHeader* header) {
            std::lock_guard lock(m_mutex);
            m_returned.push_back(header);
            m_buffers.emplace_back(header->lpData, header->dwBytesRecorded);
            if (m_requeue) m_device.AddBuffer(header);
            m_changed.notify_all();
        });
    }
    void QueueAll() {
        for (WaveHeader& header : m_headers) {
            ASSERT_TRUE(m_device.PrepareBuffer(&header));
            ASSERT_TRUE(m_device.AddBuffer(&header));
        }
    }
    // Waits, at most a generous while, until the predicate holds over the copied buffers.
    template <typename Predicate>
    bool WaitUntil(Predicate done) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(15), [&] { return done(m_buffers); });
    }

    // Waits for buffers that carry the tone, then checks that their pitch is 440 Hz.
    void ExpectTone();

    // Plays a 440 Hz tone into the server with paplay, which finds it through PULSE_SERVER.
    void PlayTone() {
        m_tone = (std::filesystem::temp_directory_path() /
                  ("quorvel-tone-" + std::to_string(getpid()) + ".wav"))
                     .string();
        WriteTone(m_tone, 440, 2.0, 8000);
        std::string program = "paplay";
        std::vector<char*> argv = {program.data(), m_tone.data(), nullptr};
        ASSERT_EQ(posix_spawnp(&m_player, "paplay", nullptr, nullptr, argv.data(), environ), 0)
            << "cannot run paplay";
    }

    static inline std::string s_skip;
    CPortAudioCapture m_device;
    std::array<std::vector<char>, 4> m_memory;
    std::array<WaveHeader, 4> m_headers{};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<WaveHeader*> m_returned;
    std::vector<std::string> m_buffers;
    bool m_requeue = true;
    pid_t m_player = 0;
    std::string m_tone;
};

// The first channel of a buffer, and whether the tone fills all of it: every tenth of the
// buffer must be loud, not just part of it.
std::vector<int16_t> FirstChannel(const std::string& buffer) {
    std::vector<int16_t> left(buffer.size() / 4);
    for (std::size_t f = 0; f < left.size(); ++f)
        left[f] = int16_t(uint8_t(buffer[4 * f]) | uint8_t(buffer[4 * f + 1]) << 8);
    return left;
}
bool LoudThroughout(const std::vector<int16_t>& samples) {
    const std::size_t part = samples.size() / 10;
    for (std::size_t p = 0; p < 10; ++p) {
        double energy = 0;
        for (std::size_t i = p * part; i < (p + 1) * part; ++i)
            energy += double(samples[i]) * samples[i];
        if (std::sqrt(energy / double(part)) < 2000) return false;
    }
    return true;
}

TEST_F(PortAudioCaptureTest, RecordsAToneFromTheDefaultInput) {
    ASSERT_TRUE(Open()) << m_device.LastError();
    QueueAll();
    ASSERT_TRUE(m_device.Start()) << m_device.LastError();
    PlayTone();
    ExpectTone();
}

TEST_F(PortAudioCaptureTest, TheProgramsOwnSoundsReachTheDefaultOutput) {
    ASSERT_TRUE(Open()) << m_device.LastError();
    QueueAll();
    ASSERT_TRUE(m_device.Start()) << m_device.LastError();
    m_tone = (std::filesystem::temp_directory_path() /
              ("quorvel-sound-" + std::to_string(getpid()) + ".wav"))
                 .string();
    WriteTone(m_tone, 440, 2.0, 8000);
    ASSERT_TRUE(platform::PlaySoundFile(m_tone, /*wait=*/false));
    ExpectTone();
}

void PortAudioCaptureTest::ExpectTone() {
    // Enough buffers that lie wholly inside the tone.
    constexpr int kToneBuffers = 6;
    const bool enough = WaitUntil([](const std::vector<std::string>& buffers) {
        int n = 0;
        for (const std::string& buffer : buffers) n += LoudThroughout(FirstChannel(buffer));
        return n >= kToneBuffers;
    });
    ASSERT_TRUE(m_device.Reset());

    std::lock_guard lock(m_mutex);
    ASSERT_TRUE(enough) << m_buffers.size() << " buffers came back, too few of them with the tone";
    int frames = 0, on440 = 0;
    for (const std::string& buffer : m_buffers) {
        if (buffer.size() != kBufferBytes) continue;  // the ones the reset returned
        const std::vector<int16_t> left = FirstChannel(buffer);
        if (!LoudThroughout(left)) continue;
        std::vector<int32_t> pitch(
            std::size_t(engine::PitchFrameCount(kBufferFrames, 8000, 256, 128)));
        const int n = engine::TrackPitch(left.data(), kBufferFrames, 8000, 256, 128, pitch.data());
        ASSERT_EQ(n, int(pitch.size()));
        for (int32_t value : pitch) {
            ++frames;
            on440 += std::abs(value - kNote440) <= 5;
        }
    }
    EXPECT_GE(on440 * 4, frames * 3) << on440 << " of " << frames << " pitch frames at 440 Hz";
}

TEST_F(PortAudioCaptureTest, ResetReturnsEveryQueuedBufferAndCloseEndsTheStream) {
    const int threadsBefore = ThreadCount();
    m_requeue = false;
    ASSERT_TRUE(Open()) << m_device.LastError();
    QueueAll();
    ASSERT_TRUE(m_device.Start()) << m_device.LastError();
    ASSERT_TRUE(WaitUntil([](const std::vector<std::string>& buffers) { return !buffers.empty(); }))
        << "no buffer was filled";
    ASSERT_TRUE(m_device.Reset());
    {
        std::lock_guard lock(m_mutex);
        ASSERT_EQ(m_returned.size(), m_headers.size());
        for (std::size_t i = 0; i < m_headers.size(); ++i) {
            EXPECT_EQ(m_returned[i], &m_headers[i]) << "in queue order";
            EXPECT_TRUE(m_headers[i].dwFlags & platform::kWaveHeaderDone);
            EXPECT_FALSE(m_headers[i].dwFlags & platform::kWaveHeaderInQueue);
        }
        EXPECT_EQ(m_buffers[0].size(), kBufferBytes);
    }

    // Queued again but not restarted: the stopped stream must not fill it.
    ASSERT_TRUE(m_device.AddBuffer(&m_headers[0]));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(m_headers[0].dwBytesRecorded, 0u);

    m_device.Close();
    EXPECT_FALSE(m_device.IsOpen());
    {
        std::lock_guard lock(m_mutex);
        EXPECT_EQ(m_returned.size(), m_headers.size() + 1) << "closing returns the queued buffer";
    }
    EXPECT_EQ(Pa_GetDeviceCount(), paNotInitialized) << "PortAudio is still initialised";
    EXPECT_EQ(ThreadCount(), threadsBefore) << "threads were left running";
}

}  // namespace
