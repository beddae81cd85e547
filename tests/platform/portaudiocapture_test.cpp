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

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <mutex>
#include <numbers>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/pitchtracker.h"
#include "platform/accompanimentplayer.h"
#include "platform/clickplayer.h"
#include "platform/messages.h"
#include "platform/previewplayer.h"
#include "platform/soundplayer.h"
#include "tests/support/alsaleaks.h"
#include "tests/support/eventually.h"
#include "tests/support/performance.h"
#include "tests/support/pulseserver.h"
#include "tests/support/tonewav.h"

extern char** environ;

namespace {

using platform::CPortAudioCapture;
using platform::WaveFormat;
using platform::WaveHeader;

constexpr WaveFormat kStereo8000{platform::kWaveFormatPcm, 2, 8000, 32000, 4, 16, 0};
constexpr uint32_t kBufferBytes = 3840;  // 960 frames, 0.12 s
constexpr int kBufferFrames = kBufferBytes / 4;
constexpr int32_t kNote440 = 690;  // 440 Hz in tenths of a semitone

int TasksNow() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++n;
        closedir(dir);
    }
    return n;
}

// The threads of the process once the count has settled: a thread that was joined is still listed
// for a moment (longer on a loaded machine), so the count must read the same for 200 ms.
int ThreadCount() {
    // ThreadSanitizer's runtime starts a thread of its own when the program makes its first one:
    // have it running before anything is counted.
    static const bool warmed = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warmed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int n = TasksNow();
    for (auto since = std::chrono::steady_clock::now();
         std::chrono::steady_clock::now() - since < std::chrono::milliseconds(200) &&
         std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (const int now = TasksNow(); now != n) {
            n = now;
            since = std::chrono::steady_clock::now();
        }
    }
    return n;
}

// Whether the threads come down to `before` (a generous while: threads that were joined leave the
// list late on a loaded machine).
bool ThreadsBackTo(int before) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (TasksNow() > before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return TasksNow() <= before;
}

using testing_support::WriteTone;

class PortAudioCaptureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_skip = testing_support::JoinPrivateSoundServer(QUORVEL_PULSE_DIR);
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
    // With a clock, its position as each buffer comes back is kept beside the buffer.
    bool Open(const platform::CPlayer* clock = nullptr) {
        return m_device.Open(kStereo8000, [this, clock](WaveHeader* header) {
            std::lock_guard lock(m_mutex);
            m_returned.push_back(header);
            m_buffers.emplace_back(header->lpData, header->dwBytesRecorded);
            if (clock) m_positions.push_back(clock->Position());
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
        return m_changed.wait_for(lock, std::chrono::seconds(120), [&] { return done(m_buffers); });
    }

    // What came back of music played into the server: the first channel of every full buffer, in
    // order, and the player's position as each came back; where the loud part starts and ends in
    // it, and how long it lasted.
    struct Take {
        std::vector<int16_t> recorded;
        std::vector<int> positions;
        std::ptrdiff_t first = 0, last = 0;
        int toneMs = 0;
    };
    // Plays the player's music from fromMs and records until it has come and gone (a second of
    // quiet after it; a sound server stalled by a loaded machine may leave shorter gaps inside it).
    Take RecordTake(platform::CAccompanimentPlayer& player, int fromMs);

    // A loaded machine may stall the sound server: the music then comes back stretched, or cut
    // where the server lost its start, and the recording's time no longer tells the player's.
    // Records takes until one comes back at the music's length (at most 60 ms shorter or 200 ms
    // longer), up to 5; that one, or the last.
    Take RecordUnstretchedTake(platform::CAccompanimentPlayer& player, int fromMs = 0);

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
    std::vector<int> m_positions;
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
// Whether the buffers hold sound (a first-channel sample louder than `loud`) followed by a
// second of quiet.
bool SoundThenASecondOfQuiet(const std::vector<std::string>& buffers, int loud) {
    bool heard = false;
    std::size_t quiet = 0;
    for (const std::string& buffer : buffers) {
        if (buffer.size() != kBufferBytes) continue;
        const std::vector<int16_t> left = FirstChannel(buffer);
        const bool any =
            std::any_of(left.begin(), left.end(), [loud](int16_t x) { return std::abs(x) > loud; });
        quiet = any ? 0 : quiet + 1;
        heard = heard || any;
        if (heard && quiet >= 8000 / kBufferFrames + 1) return true;
    }
    return false;
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

PortAudioCaptureTest::Take PortAudioCaptureTest::RecordTake(platform::CAccompanimentPlayer& player,
                                                            int fromMs) {
    {
        std::lock_guard lock(m_mutex);
        m_buffers.clear();
        m_positions.clear();
    }
    player.PlayFrom(fromMs);
    EXPECT_TRUE(player.HasSound()) << "the player found no output device";
    auto isLoud = [](int16_t x) { return std::abs(x) > 3000; };
    Take take;
    const bool ended = WaitUntil([](const std::vector<std::string>& buffers) {
        return SoundThenASecondOfQuiet(buffers, 3000);
    });
    EXPECT_TRUE(ended) << "the music did not come back whole";
    std::lock_guard lock(m_mutex);
    take.positions = m_positions;
    for (const std::string& buffer : m_buffers) {
        EXPECT_EQ(buffer.size(), kBufferBytes) << "a buffer came back short while recording";
        const std::vector<int16_t> left = FirstChannel(buffer);
        take.recorded.insert(take.recorded.end(), left.begin(), left.end());
    }
    take.first =
        std::find_if(take.recorded.begin(), take.recorded.end(), isLoud) - take.recorded.begin();
    take.last =
        take.recorded.rend() - std::find_if(take.recorded.rbegin(), take.recorded.rend(), isLoud);
    take.toneMs = int((take.last - take.first) * 1000 / 8000);
    return take;
}

PortAudioCaptureTest::Take PortAudioCaptureTest::RecordUnstretchedTake(
    platform::CAccompanimentPlayer& player, int fromMs) {
    const int lengthMs = player.Length() - fromMs;
    Take take;
    for (int attempt = 0; attempt < 5; ++attempt) {
        take = RecordTake(player, fromMs);
        if (take.toneMs >= lengthMs - 60 && take.toneMs <= lengthMs + 200) break;
        std::cout << "the sound server " << (take.toneMs > lengthMs ? "stretched " : "cut ")
                  << lengthMs << " ms of music to " << take.toneMs << " ms; recording it again\n";
    }
    return take;
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

// The accompaniment's tone is recorded back whole, and the player's clock follows the sound: as
// each buffer comes back, the position is the time since the tone began in the recording (plus
// the recording's own short delay).
TEST_F(PortAudioCaptureTest, TheAccompanimentPlaysOnItsClock) {
    platform::CAccompanimentPlayer player;
    // The device's notices ask the player: however the test ends, the device closes first.
    struct CloseFirst {
        platform::CCaptureDevice& device;
        ~CloseFirst() { device.Close(); }
    } closeFirst{m_device};
    ASSERT_TRUE(player.Open(QUORVEL_TEST_DATA "/mp3/tone-440.mp3"));
    ASSERT_TRUE(Open(&player)) << m_device.LastError();
    QueueAll();
    ASSERT_TRUE(m_device.Start()) << m_device.LastError();
    const Take take = RecordUnstretchedTake(player);
    const std::vector<int>& positions = take.positions;
    const std::ptrdiff_t first = take.first, last = take.last;
    ASSERT_EQ(positions.size() * kBufferFrames, take.recorded.size());
    // All of it came back, at its length.
    EXPECT_GE(take.toneMs, player.Length() - 60)
        << "the tone was recorded " << take.toneMs << " ms long";
    EXPECT_LE(take.toneMs, player.Length() + 200)
        << "the tone was recorded " << take.toneMs << " ms long";

    // Position minus recorded time since the onset, for each buffer that ended inside the tone.
    std::vector<int> lead;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const auto end = std::ptrdiff_t((i + 1) * kBufferFrames);
        if (end > first && end <= last) lead.push_back(positions[i] - int((end - first) / 8));
    }
    ASSERT_GE(lead.size(), 10u);
    std::sort(lead.begin(), lead.end());
    const int median = lead[lead.size() / 2];
    // Within a few buffers of the sound (a free-running clock would be seconds off after a
    // stall); the margin leaves room for a loaded machine's scheduling.
    EXPECT_GE(median, -250) << "the clock runs behind the sound";
    EXPECT_LE(median, 250) << "the clock runs ahead of the sound";
    std::cout << "position ahead of the recording by " << lead.front() << " to " << lead.back()
              << " ms, median " << median << "\n";

    ExpectTone();
    m_device.Close();  // its notices ask the player, which goes first
}

// A span of music in another format reaches the loudspeaker from its start: of the OGG file's
// 440 Hz second and 880 Hz half second, a span from 1000 ms plays the 880 Hz half second alone.
TEST_F(PortAudioCaptureTest, TheAccompanimentPlaysASpanOfAnOggFile) {
    platform::CAccompanimentPlayer player;
    struct CloseFirst {
        platform::CCaptureDevice& device;
        ~CloseFirst() { device.Close(); }
    } closeFirst{m_device};
    ASSERT_TRUE(player.Open(QUORVEL_TEST_DATA "/audio/tone.ogg", platform::AudioSpan{1000, -1, 0}));
    ASSERT_EQ(player.Length(), 500);
    ASSERT_TRUE(Open()) << m_device.LastError();
    QueueAll();
    ASSERT_TRUE(m_device.Start()) << m_device.LastError();
    const Take take = RecordUnstretchedTake(player);
    const std::vector<int16_t>& recorded = take.recorded;
    const std::ptrdiff_t first = take.first, last = take.last;
    EXPECT_GE(take.toneMs, player.Length() - 60)
        << "the span was recorded " << take.toneMs << " ms long";
    EXPECT_LE(take.toneMs, player.Length() + 200)
        << "the span was recorded " << take.toneMs << " ms long";
    // Its pitch through the loud part (gaps of a stalled server do not matter): 880 Hz, with
    // nothing of the 440 Hz before the span's start.
    auto power = [&](double hz) {  // Goertzel
        const double coefficient = 2 * std::cos(2 * std::numbers::pi * hz / 8000);
        double previous = 0, beforePrevious = 0;
        for (auto i = first; i < last; ++i) {
            const double current =
                recorded[std::size_t(i)] + coefficient * previous - beforePrevious;
            beforePrevious = previous;
            previous = current;
        }
        return previous * previous + beforePrevious * beforePrevious -
               coefficient * previous * beforePrevious;
    };
    EXPECT_GT(power(880), 100 * power(440)) << "the span did not start at 1000 ms";
    player.Stop();
    m_device.Close();
}

// A seek plays from the frame asked for, and the clock counts on from there with the sound: of
// music that is 440 Hz until 63.5 s and 880 Hz after, a play from 63.25 s sounds 440 Hz for a
// quarter of a second, and the clock reads 63.5 s when the change is heard.
TEST_F(PortAudioCaptureTest, TheAccompanimentPlaysFromASeekOnItsClock) {
    m_tone = (std::filesystem::temp_directory_path() /
              ("quorvel-seek-" + std::to_string(getpid()) + ".wav"))
                 .string();
    testing_support::WriteTones(m_tone, {{440, 63.5}, {880, 1.0}}, 8000);
    platform::CAccompanimentPlayer player;
    struct CloseFirst {
        platform::CCaptureDevice& device;
        ~CloseFirst() { device.Close(); }
    } closeFirst{m_device};
    ASSERT_TRUE(player.Open(m_tone));
    ASSERT_EQ(player.Length(), 64500);
    ASSERT_TRUE(Open(&player)) << m_device.LastError();
    QueueAll();
    ASSERT_TRUE(m_device.Start()) << m_device.LastError();
    const Take take = RecordUnstretchedTake(player, 63250);
    player.Stop();
    const std::vector<int16_t>& recorded = take.recorded;
    const std::vector<int>& positions = take.positions;
    const std::ptrdiff_t first = take.first;
    // Where 880 Hz takes over: the first 10 ms window after the onset where it is the stronger.
    auto power = [&](std::ptrdiff_t from, std::ptrdiff_t to, double hz) {  // Goertzel
        const double coefficient = 2 * std::cos(2 * std::numbers::pi * hz / 8000);
        double previous = 0, beforePrevious = 0;
        for (auto i = from; i < to; ++i) {
            const double current =
                recorded[std::size_t(i)] + coefficient * previous - beforePrevious;
            beforePrevious = previous;
            previous = current;
        }
        return previous * previous + beforePrevious * beforePrevious -
               coefficient * previous * beforePrevious;
    };
    std::ptrdiff_t change = -1;
    for (auto at = first; at + 80 <= std::ptrdiff_t(recorded.size()); at += 80) {
        if (power(at, at + 80, 880) > power(at, at + 80, 440)) {
            change = at;
            break;
        }
    }
    ASSERT_GT(change, first) << "no 880 Hz after the onset";
    const int highAfterMs = int((change - first) * 1000 / 8000);
    // 250 ms of 440 Hz, less the first ms of the rise (below the loudness looked for) and a
    // window; a stall of a loaded server may stretch it.
    EXPECT_GE(highAfterMs, 230) << "the music started after 63.25 s";
    EXPECT_LE(highAfterMs, 500) << "the music started before 63.25 s";
    // The clock against the sound: position minus 63500 minus the recorded time since the change,
    // for each buffer that ended after it.
    std::vector<int> lead;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const auto end = std::ptrdiff_t((i + 1) * kBufferFrames);
        if (end > change && end <= change + 8000)
            lead.push_back(positions[i] - 63500 - int((end - change) / 8));
    }
    ASSERT_GE(lead.size(), 5u);
    std::sort(lead.begin(), lead.end());
    const int median = lead[lead.size() / 2];
    EXPECT_GE(median, -250) << "the clock runs behind the sound";
    EXPECT_LE(median, 250) << "the clock runs ahead of the sound";
    std::cout << "after the seek, position ahead of the recording by " << median << " ms\n";
    m_device.Close();
}

// The review's "hear your take": a line's samples as the microphone gave them (8000 per second),
// played on the output, come back from the sound server as they were: the same waveform (after
// the server's resampling, correlated at 0.95 or better) at the same loudness.
TEST_F(PortAudioCaptureTest, ALinesTakeIsHeardAsItWasSung) {
    const auto melody = testing_support::MakeMelody(1, 4, 3, 0.2);
    std::vector<int16_t> take =
        testing_support::Sing(melody, melody.back().End() + 0.2, testing_support::Singer{});
    ASSERT_TRUE(Open()) << m_device.LastError();
    QueueAll();
    ASSERT_TRUE(m_device.Start()) << m_device.LastError();
    platform::CClickPlayer player;
    std::string error;
    ASSERT_TRUE(player.Play(take, 8000, error)) << error;
    constexpr int kLoud = 1500;
    auto loud = [](int16_t x) { return std::abs(x) > kLoud; };
    ASSERT_TRUE(WaitUntil([](const std::vector<std::string>& buffers) {
        return SoundThenASecondOfQuiet(buffers, kLoud);
    })) << "the take did not come back";
    player.Stop();
    std::vector<int16_t> recorded;
    {
        std::lock_guard lock(m_mutex);
        for (const std::string& buffer : m_buffers) {
            const std::vector<int16_t> left = FirstChannel(buffer);
            recorded.insert(recorded.end(), left.begin(), left.end());
        }
    }
    m_device.Close();
    // Piece by piece (a quarter of a second each, so that a stall of a loaded sound server spoils
    // only the pieces it falls in): where the piece is best found in the recording, after where
    // the piece before it was, and how alike and how loud it is there.
    constexpr std::ptrdiff_t kPiece = 2000;
    const auto heardOnset = std::find_if(recorded.begin(), recorded.end(), loud) - recorded.begin();
    const auto takeOnset = std::find_if(take.begin(), take.end(), loud) - take.begin();
    ASSERT_LT(heardOnset, std::ptrdiff_t(recorded.size()));
    std::ptrdiff_t lag = heardOnset - takeOnset;
    int pieces = 0, alike = 0;
    std::vector<double> gains;
    for (std::ptrdiff_t start = takeOnset; start + kPiece <= std::ptrdiff_t(take.size());
         start += kPiece) {
        double played = 0;
        for (std::ptrdiff_t i = start; i < start + kPiece; ++i)
            played += double(take[std::size_t(i)]) * take[std::size_t(i)];
        if (played < kPiece * 1000.0 * 1000.0) continue;  // too quiet to tell
        double best = -1, gain = 0;
        std::ptrdiff_t bestLag = lag;
        for (std::ptrdiff_t at = lag - 40; at <= lag + 4000; ++at) {
            if (start + at < 0 || start + at + kPiece > std::ptrdiff_t(recorded.size())) continue;
            double both = 0, heard = 0;
            for (std::ptrdiff_t i = start; i < start + kPiece; ++i) {
                const double r = recorded[std::size_t(i + at)];
                both += take[std::size_t(i)] * r;
                heard += r * r;
            }
            const double correlation = heard > 0 ? both / std::sqrt(played * heard) : 0;
            if (correlation > best) {
                best = correlation;
                gain = std::sqrt(heard / played);
                bestLag = at;
            }
        }
        ++pieces;
        if (best >= 0.95) {
            ++alike;
            gains.push_back(gain);
            lag = bestLag;
        }
    }
    ASSERT_GE(pieces, 4);
    EXPECT_GE(alike * 4, pieces * 3) << alike << " of " << pieces << " pieces were heard as played";
    ASSERT_FALSE(gains.empty());
    std::sort(gains.begin(), gains.end());
    EXPECT_NEAR(gains[gains.size() / 2], 1.0, 0.2) << "the take was heard at another loudness";
}

// With a device, too, Play restarts, the clock runs on past the end, and the player leaves
// neither a thread nor PortAudio behind when it goes while playing.
TEST_F(PortAudioCaptureTest, TheAccompanimentRestartsRunsOnAndEndsCleanly) {
    const int threadsBefore = ThreadCount();
    auto waitFor = [](const platform::CAccompanimentPlayer& player, int ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (player.Position() <= ms && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return player.Position();
    };
    {
        platform::CAccompanimentPlayer player;
        ASSERT_TRUE(player.Open(QUORVEL_TEST_DATA "/mp3/quiet.mp3"));
        player.Play();
        ASSERT_TRUE(player.HasSound()) << "the player found no output device";
        const int first = waitFor(player, 300);
        ASSERT_GT(first, 300);
        player.Play();
        EXPECT_LT(player.Position(), first) << "Play starts again from the beginning";
        EXPECT_GT(waitFor(player, 100), 100);
        player.Stop();
        const int stopped = player.Position();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(player.Position(), stopped);

        ASSERT_TRUE(player.Open(QUORVEL_TEST_DATA "/mp3/tone-440.mp3"));
        player.Play();
        const int past = player.Length() + 300;
        EXPECT_GT(waitFor(player, past), past) << "the clock stopped at the end of the music";
        EXPECT_TRUE(player.HasSound()) << "the device was given up on";

        ASSERT_TRUE(player.Open(QUORVEL_TEST_DATA "/mp3/quiet.mp3"));
        player.Play();
        EXPECT_GT(waitFor(player, 100), 100);
    }  // destroyed while playing
    EXPECT_EQ(Pa_GetDeviceCount(), paNotInitialized) << "PortAudio is still initialised";
    EXPECT_TRUE(ThreadsBackTo(threadsBefore))
        << "threads were left running: " << TasksNow() << ", " << threadsBefore << " before";
}

// Music cut short (a download that broke off) plays what it holds and ends; the clock runs on
// to the song's end, and the device is not given up on. The FLAC still claims its whole length.
TEST_F(PortAudioCaptureTest, MusicCutShortEndsAndTheClockRunsOn) {
    const std::string folder = ::testing::TempDir();
    for (const char* name : {"audio/tone.flac", "audio/tone.opus", "mp3/tone-440.mp3"}) {
        SCOPED_TRACE(name);
        std::ifstream in(std::string(QUORVEL_TEST_DATA "/") + name, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(bytes.empty());
        const std::string cut = folder + "/cut-" + std::filesystem::path(name).filename().string();
        std::ofstream(cut, std::ios::binary)
            .write(bytes.data(), std::streamsize(bytes.size() * 4 / 5));
        platform::CAccompanimentPlayer player;
        ASSERT_TRUE(player.Open(cut)) << player.OpenProblem();
        player.Play();
        ASSERT_TRUE(player.HasSound()) << "the player found no output device";
        const int past = 2500;  // past the whole music (1.5 s, 2 s), not only what is left of it
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (player.Position() <= past && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_GT(player.Position(), past) << "the clock stopped where the music broke off";
        EXPECT_TRUE(player.HasSound()) << "the device was given up on";
        player.Stop();
    }
}

// A device that stops taking sound (the sink suspended) leaves the clock running on alone; when it
// takes sound again the clock follows the sound once more. The position never goes back.
TEST_F(PortAudioCaptureTest, AStalledOutputLetsTheClockRunOnUntilTheSoundComesBack) {
    platform::MessageCapture messages;
    platform::CAccompanimentPlayer player;
    ASSERT_TRUE(player.Open(QUORVEL_TEST_DATA "/mp3/quiet.mp3"));
    player.Play();
    ASSERT_TRUE(player.HasSound()) << "the player found no output device";
    std::vector<int> positions;
    auto watch = [&](std::chrono::milliseconds time, const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + time;
        while (std::chrono::steady_clock::now() < deadline && !done()) {
            positions.push_back(player.Position());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    auto traced = [&](const std::string& what) {
        return [&messages, what] {
            for (const std::string& line : messages.Traces())
                if (line.find(what) != std::string::npos) return true;
            return false;
        };
    };
    watch(std::chrono::seconds(120), [&] { return player.Position() > 1000; });
    ASSERT_GT(player.Position(), 1000);

    ASSERT_EQ(std::system("pactl suspend-sink v 1"), 0);
    watch(std::chrono::seconds(120), traced("stopped taking sound"));
    ASSERT_TRUE(traced("stopped taking sound")()) << "the stall was not noticed";
    EXPECT_FALSE(player.HasSound());
    const int noticed = player.Position();
    watch(std::chrono::milliseconds(500), [] { return false; });
    EXPECT_GE(player.Position() - noticed, 400) << "the clock stood still without the device";

    ASSERT_EQ(std::system("pactl suspend-sink v 0"), 0);
    watch(std::chrono::seconds(120), traced("takes sound again"));
    EXPECT_TRUE(traced("takes sound again")()) << "the device came back unnoticed";
    EXPECT_TRUE(player.HasSound());
    // The clock goes on with the sound (on a loaded machine the sound may take a while).
    const int first = positions.front();
    watch(std::chrono::seconds(120), [&] { return player.Position() > first + 4000; });
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << "the position went back";
    EXPECT_GT(player.Position(), first + 4000);
    player.Stop();
}

// Where PortAudio finds no output device, the accompaniment goes on with its silent clock. The
// sound server is pointed at nowhere for this test; a machine with a sound card of its own still
// has a device, and then there is nothing to see.
TEST(AccompanimentPlayerWithoutDevice, TheClockRunsWithoutSound) {
    struct Variable {
        Variable(const char* variable, const char* value) : name(variable) {
            if (const char* old = getenv(name)) saved = old;
            setenv(name, value, 1);
        }
        ~Variable() { saved ? setenv(name, saved->c_str(), 1) : unsetenv(name); }
        const char* name;
        std::optional<std::string> saved;
    };
    const Variable server("PULSE_SERVER", "unix:/nonexistent/quorvel-no-server");
    const Variable jack("JACK_NO_START_SERVER", "1");
    platform::MessageCapture messages;
    platform::CAccompanimentPlayer player;
    ASSERT_TRUE(player.Open(QUORVEL_TEST_DATA "/mp3/tone-440.mp3"));
    player.Play();
    if (player.HasSound()) GTEST_SKIP() << "this machine has an output device of its own";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (player.Position() <= 100 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GT(player.Position(), 100);
    player.Stop();
    EXPECT_EQ(Pa_GetDeviceCount(), paNotInitialized) << "PortAudio is still initialised";
    EXPECT_TRUE(messages.Messages().empty()) << "no message box for a missing device";
    const auto traces = messages.Traces();
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_NE(traces[0].find("tone-440.mp3"), std::string::npos) << traces[0];
}

// A preview is heard, and once stopped it gives the device back.
TEST_F(PortAudioCaptureTest, APreviewIsHeardAndGivesTheDeviceBackWhenStopped) {
    platform::MessageCapture messages;
    platform::CPreviewPlayer preview([](const std::string&, platform::PreviewMusic& music) {
        music.strAudio = QUORVEL_TEST_DATA "/mp3/tone-440.mp3";
        return true;
    });
    preview.Play("tone");
    ASSERT_TRUE(testing_support::Eventually([&] { return preview.Heard(); }))
        << "the output never took the preview";
    preview.Stop();
    ASSERT_TRUE(testing_support::Eventually([&] { return preview.Playing().empty(); }));
    // Stopped, the worker closed the stream: PortAudio is no longer initialised.
    EXPECT_TRUE(
        testing_support::Eventually([] { return Pa_GetDeviceCount() == paNotInitialized; }));
    EXPECT_TRUE(messages.Messages().empty());
}

// The recording devices by name: the server's devices are listed, a listed one opens as itself,
// and a name that is gone gives way to the default device, which says so.
TEST_F(PortAudioCaptureTest, ANamedDeviceOpensAndAMissingOneFallsBackToTheDefault) {
    const std::vector<std::string> names = CPortAudioCapture::InputDeviceNames();
    ASSERT_FALSE(names.empty()) << "the private server's input is not listed";
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size())
        << "a name is listed twice";
    {
        CPortAudioCapture named(names.front());
        ASSERT_TRUE(named.Open(kStereo8000, [](WaveHeader*) {})) << named.LastError();
        EXPECT_FALSE(named.FellBack()) << named.FallbackReason();
    }
    CPortAudioCapture missing("Quorvel test microphone that is not there");
    ASSERT_TRUE(missing.Open(kStereo8000, [](WaveHeader*) {})) << missing.LastError();
    EXPECT_TRUE(missing.FellBack());
    EXPECT_NE(missing.FallbackReason().find("not there"), std::string::npos)
        << missing.FallbackReason();
    missing.Close();
    EXPECT_EQ(Pa_GetDeviceCount(), paNotInitialized) << "PortAudio is still initialised";
    // Opened again, the device is asked for by name again.
    ASSERT_TRUE(missing.Open(kStereo8000, [](WaveHeader*) {}));
    EXPECT_TRUE(missing.FellBack());
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
    EXPECT_TRUE(ThreadsBackTo(threadsBefore))
        << "threads were left running: " << TasksNow() << ", " << threadsBefore << " before";
}

}  // namespace
