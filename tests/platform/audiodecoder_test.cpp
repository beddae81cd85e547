// The accompaniment's decoders on files that other programs made (tests/data/audio/make-audio.sh):
// the same music in every format, 440 Hz for its first second and 880 Hz for the half second
// after it, so that a sample tells where in the file it comes from.
#include "platform/audiodecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/audiospanreader.h"
#include "platform/ffmpegdecoder.h"
#include "platform/mpg123decoder.h"
#include "platform/waveformat.h"
#include "tests/support/songwriter.h"
#include "tests/support/specialfiles.h"

namespace platform {
namespace {

const std::string kAudio = std::string(QUORVEL_TEST_DATA) + "/audio/";
const std::string kMp3 = std::string(QUORVEL_TEST_DATA) + "/mp3/";
constexpr int64_t kEncodedFrames = 12000;  // at 8000 Hz: 1.5 s
constexpr long kEncodedRate = 8000;
constexpr int64_t kChangeFrame = 8000;  // where 440 Hz gives way to 880 Hz, at 8000 Hz

struct Format {
    const char* file;
    long rate;          // the decoder's own rate for it
    int64_t slack;      // frames its length may be off the encoded one (at rate)
    int seekTolerance;  // the largest sample difference between a seek and the whole decode
};

std::ostream& operator<<(std::ostream& out, const Format& format) { return out << format.file; }

const Format kFormats[] = {
    {"tone.wav", 8000, 0, 0},
    {"tone.flac", 8000, 0, 0},
    {"tone.ogg", 8000, 0, 0},
    {"tone.opus", 48000, 0, 64},
    {"tone.m4a", 8000, 0, 0},
    {"tone.mp4", 8000, 0, 0},
    // FFmpeg's Matroska muxer records the Opus padding of the last packet longer by the
    // encoder's delay (2.5 ms): the file says the music ends that much earlier.
    {"tone.webm", 48000, 120, 64},
};

std::vector<int16_t> DecodeAll(CAudioDecoder& decoder) {
    std::vector<int16_t> samples;
    std::vector<int16_t> chunk(std::size_t(1000) * std::size_t(decoder.Channels()));
    for (int got; (got = decoder.Read(chunk.data(), 1000)) > 0;)
        samples.insert(samples.end(), chunk.begin(),
                       chunk.begin() + std::ptrdiff_t(got) * decoder.Channels());
    return samples;
}

// The power of one frequency in samples [from, from + count) of a mono signal (Goertzel).
double Power(const std::vector<int16_t>& samples, std::size_t from, std::size_t count, double hz,
             long rate) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * hz / double(rate));
    double previous = 0, beforePrevious = 0;
    for (std::size_t i = from; i < from + count && i < samples.size(); ++i) {
        const double current = samples[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return previous * previous + beforePrevious * beforePrevious -
           coefficient * previous * beforePrevious;
}

// Which of the two tones sounds in [fromMs, toMs): 440 or 880 when one is over ten times as
// strong as the other (and as strong as 660 Hz, which is in neither), else 0.
int ToneBetween(const std::vector<int16_t>& samples, long rate, int fromMs, int toMs) {
    const auto from = std::size_t(int64_t(fromMs) * rate / 1000);
    const auto count = std::size_t(int64_t(toMs - fromMs) * rate / 1000);
    const double low = Power(samples, from, count, 440, rate);
    const double high = Power(samples, from, count, 880, rate);
    const double neither = Power(samples, from, count, 660, rate);
    if (low > 10 * high && low > 10 * neither) return 440;
    if (high > 10 * low && high > 10 * neither) return 880;
    return 0;
}

// The largest difference between got and expected from offset on (a shift of the expected).
int LargestDifference(const std::vector<int16_t>& got, const std::vector<int16_t>& expected,
                      int64_t offset) {
    int largest = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const int64_t j = offset + int64_t(i);
        if (j < 0 || j >= int64_t(expected.size())) return 1 << 16;
        largest = std::max(largest, std::abs(int(got[i]) - int(expected[std::size_t(j)])));
    }
    return largest;
}

std::unique_ptr<CAudioDecoder> Open(const std::string& path, long rate = 0, int channels = 0) {
    std::string error;
    auto decoder = OpenAudioDecoder(path, rate, channels, error);
    EXPECT_TRUE(decoder) << path << ": " << error;
    EXPECT_EQ(error, "") << path;
    return decoder;
}

class AudioDecoderFormat : public testing::TestWithParam<Format> {
protected:
    std::string Path() const { return kAudio + GetParam().file; }
    int64_t Encoded() const { return kEncodedFrames * GetParam().rate / kEncodedRate; }
};

TEST_P(AudioDecoderFormat, OpensAtItsOwnRateWithTheExactLength) {
    const Format& format = GetParam();
    const auto decoder = Open(Path());
    ASSERT_TRUE(decoder);
    EXPECT_TRUE(dynamic_cast<CFFmpegDecoder*>(decoder.get()));
    EXPECT_EQ(decoder->Rate(), format.rate);
    EXPECT_EQ(decoder->Channels(), 1);
    std::string error;
    const int64_t length = decoder->Length(error);
    EXPECT_EQ(error, "");
    EXPECT_NEAR(double(length), double(Encoded()), double(format.slack));
    // Reading gives exactly the frames the length counts, from the first.
    const std::vector<int16_t> samples = DecodeAll(*decoder);
    EXPECT_EQ(int64_t(samples.size()), length);
    EXPECT_EQ(decoder->Problem(), "");
    EXPECT_EQ(decoder->Read(nullptr, 0), 0);

    const int ms = AudioLengthMs(Path(), error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(ms, int((length * 1000 + format.rate / 2) / format.rate));
    EXPECT_NEAR(ms, 1500, double(format.slack) * 1000 / double(format.rate) + 0.5);
}

TEST_P(AudioDecoderFormat, TheSamplesAreTheToneThatChangesAfterOneSecond) {
    const auto decoder = Open(Path());
    ASSERT_TRUE(decoder);
    const long rate = decoder->Rate();
    const std::vector<int16_t> samples = DecodeAll(*decoder);
    EXPECT_EQ(ToneBetween(samples, rate, 0, 950), 440);
    EXPECT_EQ(ToneBetween(samples, rate, 960, 995), 440);
    EXPECT_EQ(ToneBetween(samples, rate, 1005, 1040), 880);
    EXPECT_EQ(ToneBetween(samples, rate, 1050, 1500), 880);
    // Near full scale where it plays: nothing lost on the way to 16 bits (amplitude 0.5).
    int peak = 0;
    for (const int16_t sample : samples) peak = std::max(peak, std::abs(int(sample)));
    EXPECT_GT(peak, 14000);
    EXPECT_LT(peak, 28000);  // a lossy codec overshoots a little
}

// A seek gives exactly the frames that a decode from the start gives there: the same samples
// (lossy decoders settle within their pre-roll), and not those a frame before or after.
TEST_P(AudioDecoderFormat, ASeekLandsOnTheExactFrame) {
    const Format& format = GetParam();
    const auto whole = Open(Path());
    ASSERT_TRUE(whole);
    const std::vector<int16_t> all = DecodeAll(*whole);
    const int64_t scale = format.rate / kEncodedRate;
    // Near the start (decoded from it), in the middle, about the change and near the end, at
    // frames that divide into nothing.
    for (const int64_t target :
         {int64_t(1), 777 * scale + 1, 4099 * scale + 3, (kChangeFrame - 13) * scale,
          kChangeFrame * scale, (kChangeFrame + 1) * scale + 1, 10007 * scale - 1}) {
        SCOPED_TRACE("frame " + std::to_string(target));
        const auto decoder = Open(Path());
        ASSERT_TRUE(decoder);
        ASSERT_TRUE(decoder->Seek(target)) << decoder->Problem();
        std::vector<int16_t> got(std::size_t(60 * scale));
        ASSERT_EQ(decoder->Read(got.data(), int(got.size())), int(got.size()));
        EXPECT_LE(LargestDifference(got, all, target), format.seekTolerance);
        EXPECT_GT(LargestDifference(got, all, target - 1), 4 * format.seekTolerance + 200);
        EXPECT_GT(LargestDifference(got, all, target + 1), 4 * format.seekTolerance + 200);
        // And on to the end of the music, as from the start.
        const std::vector<int16_t> rest = DecodeAll(*decoder);
        EXPECT_EQ(target + int64_t(got.size() + rest.size()), int64_t(all.size()));
    }
    // Past the end there is nothing to read.
    const auto decoder = Open(Path());
    ASSERT_TRUE(decoder);
    EXPECT_TRUE(decoder->Seek(int64_t(all.size()) + 5)) << decoder->Problem();
    int16_t sample = 0;
    EXPECT_EQ(decoder->Read(&sample, 1), 0);
    EXPECT_EQ(decoder->Problem(), "");
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, AudioDecoderFormat, testing::ValuesIn(kFormats));

TEST(AudioDecoder, ResamplesToTheRateAndChannelsAsked) {
    for (const char* file : {"tone.flac", "tone.opus"}) {
        SCOPED_TRACE(file);
        const auto decoder = Open(kAudio + file, 44100, 2);
        ASSERT_TRUE(decoder);
        EXPECT_EQ(decoder->Rate(), 44100);
        EXPECT_EQ(decoder->Channels(), 2);
        std::string error;
        const int64_t length = decoder->Length(error);
        EXPECT_EQ(length, kEncodedFrames * 44100 / kEncodedRate);
        const std::vector<int16_t> samples = DecodeAll(*decoder);
        EXPECT_NEAR(double(samples.size()) / 2, double(length), 4);
        std::vector<int16_t> left, right;
        for (std::size_t i = 0; i + 1 < samples.size(); i += 2) {
            left.push_back(samples[i]);
            right.push_back(samples[i + 1]);
        }
        EXPECT_EQ(left, right);
        EXPECT_EQ(ToneBetween(left, 44100, 20, 950), 440);
        EXPECT_EQ(ToneBetween(left, 44100, 1050, 1480), 880);

        // A seek lands where the 880 Hz tone starts.
        const auto seeking = Open(kAudio + file, 44100, 2);
        ASSERT_TRUE(seeking);
        ASSERT_TRUE(seeking->Seek(44100));
        std::vector<int16_t> after(std::size_t(2 * 44100 / 20));
        ASSERT_EQ(seeking->Read(after.data(), 44100 / 20), 44100 / 20);
        std::vector<int16_t> afterLeft;
        for (std::size_t i = 0; i < after.size(); i += 2) afterLeft.push_back(after[i]);
        EXPECT_EQ(ToneBetween(afterLeft, 44100, 5, 50), 880);
    }
}

// Files named .mp3 go through libmpg123 (exactly as the MP3 tests expect); one that is no MP3
// goes through FFmpeg, and everything else does.
TEST(AudioDecoder, AnMp3GoesThroughLibmpg123AndOtherMusicUnderItsNameThroughFFmpeg) {
    const auto mp3 = Open(kMp3 + "tone-440.mp3");
    ASSERT_TRUE(mp3);
    EXPECT_TRUE(dynamic_cast<CMpg123Decoder*>(mp3.get()));

    testing_support::TemporaryFolder folder;
    for (const char* file : {"tone.ogg", "tone.m4a", "tone.flac"}) {
        const auto renamed = folder.Path() / (std::string(file) + ".MP3");
        std::filesystem::copy_file(kAudio + file, renamed);
        const auto decoder = Open(renamed.string());
        ASSERT_TRUE(decoder) << file;
        EXPECT_TRUE(dynamic_cast<CFFmpegDecoder*>(decoder.get())) << file;
        std::string error;
        EXPECT_EQ(AudioLengthMs(renamed.string(), error), 1500) << file << error;
    }
    // An MP3 under another name is FFmpeg's, gapless all the same.
    const auto mp3Named = folder.Path() / "music.ogg";
    std::filesystem::copy_file(kMp3 + "tone-440.mp3", mp3Named);
    const auto other = Open(mp3Named.string());
    ASSERT_TRUE(other);
    EXPECT_TRUE(dynamic_cast<CFFmpegDecoder*>(other.get()));
    std::string error;
    EXPECT_EQ(other->Length(error), 16000);
    EXPECT_EQ(DecodeAll(*other).size(), 16000u);
}

// mpg123's seeks, too, are exact to the frame (the MP3 fixture holds one tone).
TEST(AudioDecoder, AnMp3SeekLandsOnTheExactFrame) {
    const auto whole = Open(kMp3 + "quiet.mp3");
    ASSERT_TRUE(whole);
    const std::vector<int16_t> all = DecodeAll(*whole);
    ASSERT_EQ(all.size(), 76171u);
    for (const int64_t target : {int64_t(1), int64_t(1151), int64_t(40001), int64_t(76000)}) {
        SCOPED_TRACE("frame " + std::to_string(target));
        const auto decoder = Open(kMp3 + "quiet.mp3");
        ASSERT_TRUE(decoder);
        ASSERT_TRUE(decoder->Seek(target));
        std::vector<int16_t> got(160);
        ASSERT_EQ(decoder->Read(got.data(), 160), 160);
        EXPECT_EQ(LargestDifference(got, all, target), 0);
        EXPECT_GT(LargestDifference(got, all, target - 1), 0);
        EXPECT_EQ(target + 160 + int64_t(DecodeAll(*decoder).size()), int64_t(all.size()));
    }
}

TEST(AudioDecoder, FilesThatHoldNoMusicAreRefusedWithTheReason) {
    testing_support::TemporaryFolder folder;
    // The first kilobyte of a film: its index is at the end, so nothing in it can be found.
    std::string head(1024, '\0');
    {
        std::ifstream in(kAudio + "tone.m4a", std::ios::binary);
        in.read(head.data(), std::streamsize(head.size()));
    }
    const auto cut = folder.Path() / "cut.m4a";
    testing_support::WriteFile(cut, head);
    // A picture: a container FFmpeg knows, with no sound in it.
    const auto picture = folder.Path() / "cover.ogg";
    std::filesystem::copy_file(std::string(QUORVEL_TEST_DATA) + "/gif/bare-coalesced-0.png",
                               picture);
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {kAudio + "not-audio.ogg", "不是音频文件，找不到可以解码的音频"},
        {kAudio + "empty.flac", "是空文件"},
        {(folder.Path() / "missing.ogg").string(), "文件不存在"},
        {folder.Path().string(), "文件夹"},
        {kMp3 + "not-an-mp3.mp3", "不是 MP3 文件"},
        {picture.string(), "不是音频文件"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(OpenAudioDecoder(c.path, 0, 0, error)) << c.path;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.path << ": " << error;
        error.clear();
        EXPECT_EQ(AudioLengthMs(c.path, error), -1) << c.path;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.path << ": " << error;
    }
    // The cut film may be recognised or not; either way it yields no music and no crash.
    std::string error;
    EXPECT_EQ(AudioLengthMs(cut.string(), error), -1);
    EXPECT_FALSE(error.empty());
}

// A PCM WAVE header with any rate and channel count, and a second of silence's worth of bytes.
std::string WaveBytes(uint32_t rate, uint16_t channels) {
    auto le = [](uint32_t n, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) out += static_cast<char>(n >> (8 * i));
        return out;
    };
    const std::string data(4000, '\0');
    const uint32_t align = 2u * channels;
    return "RIFF" + le(36 + static_cast<uint32_t>(data.size()), 4) + "WAVEfmt " + le(16, 4) +
           le(1, 2) + le(channels, 2) + le(rate, 4) + le(rate * align, 4) + le(align, 2) +
           le(16, 2) + "data" + le(static_cast<uint32_t>(data.size()), 4) + data;
}

// Whether a UDP port of this host is bound, from the kernel's table.
bool UdpPortBound(int port) {
    char hex[8];
    std::snprintf(hex, sizeof hex, ":%04X ", port);
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream in(table);
        std::string row;
        while (std::getline(in, row))
            if (row.find(hex) != std::string::npos && row.find(hex) < 40) return true;
    }
    return false;
}

// Music is a local file of sound: a session description, a playlist or a list of files under a
// music name is refused, and opens no socket; a rate or channel count no music has is refused
// before any memory is sized by it.
TEST(AudioDecoder, MusicIsOnlyEverALocalSoundFile) {
    testing_support::TemporaryFolder folder;
    constexpr int kPort = 47913;
    const struct {
        const char* name;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"session.ogg",
         "v=0\no=- 0 0 IN IP4 127.0.0.1\ns=x\nc=IN IP4 239.1.2.3/1\nt=0 0\nm=audio " +
             std::to_string(kPort) + " RTP/AVP 0\na=rtpmap:0 PCMU/8000\n",
         "不是音频文件"},
        {"playlist.ogg", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nhttp://127.0.0.1/a.ts\n",
         "不是音频文件"},
        {"list.ogg", "ffconcat version 1.0\nfile '/etc/passwd'\n", "不是音频文件"},
        {"tee.ogg", "tee:[f=wav]/tmp/x.wav|udp://127.0.0.1:47913\n", "不是音频文件"},
        {"one-hertz.wav", WaveBytes(1, 1), "采样率 1 Hz 超出范围"},
        {"too-fast.wav", WaveBytes(768000, 1), "采样率 768000 Hz 超出范围"},
        {"sixteen.wav", WaveBytes(8000, 16), "声道数 16 超过 8"},
    };
    for (const auto& c : cases) {
        const auto path = folder.Path() / c.name;
        testing_support::WriteFile(path, c.bytes);
        std::atomic<bool> done{false}, bound{false};
        std::thread watch([&] {
            while (!done) bound = bound || UdpPortBound(kPort);
        });
        std::string error;
        EXPECT_FALSE(OpenAudioDecoder(path.string(), 8000, 2, error)) << c.name;
        done = true;
        watch.join();
        EXPECT_FALSE(bound) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    }
}

TEST(AudioDecoder, LengthsSaturateInsteadOfOverflowing) {
    const struct {
        int64_t frames, rate;
        int ms;
    } cases[] = {
        {44100, 44100, 1000},
        {22050, 44100, 500},
        {1, 44100, 0},
        {0, 44100, 0},
        {100, 0, 0},
        {-5, 8000, 0},
        {INT64_MAX, 44100, INT_MAX},
        {int64_t{1} << 40, 1, INT_MAX},
        {2147483647LL * 8, 8000, 2147483647},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MillisecondsOfFrames(c.frames, c.rate), c.ms) << c.frames << " at " << c.rate;
}

// A FIFO or a device under a music name is refused at once, never waited on or read forever.
TEST(AudioDecoder, ALengthTooLongToCountInTimeIsTheContainersEstimate) {
    // A FLAC that does not record its length is decoded to count, unless there is no time for
    // it; the estimate then is near. A recorded length is always exact.
    const struct {
        const char* file;
        int budgetMs;
        bool exact;
    } cases[] = {
        {"tone-nolength.flac", 0, false},
        {"tone-nolength.flac", 60'000, true},
        {"tone.flac", 0, true},
    };
    for (const auto& c : cases) {
        const MusicProbe probe = ProbeMusic(kAudio + c.file, std::chrono::milliseconds(c.budgetMs));
        EXPECT_EQ(probe.strProblem, "") << c.file;
        EXPECT_EQ(probe.bExact, c.exact) << c.file << " in " << c.budgetMs << " ms";
        if (c.exact) {
            EXPECT_EQ(probe.nLengthMs, 1500) << c.file;
        } else {
            EXPECT_NEAR(probe.nLengthMs, 1500, 300) << c.file;
        }
    }
}

TEST(AudioDecoder, AFifoOrADeviceIsRefusedAtOnce) {
    testing_support::TemporaryFolder folder;
    const auto fifo = folder.Path() / "music.ogg";
    const auto fifoMp3 = folder.Path() / "music.mp3";
    const auto zero = folder.Path() / "music.flac";
    ASSERT_TRUE(testing_support::MakeFifo(fifo));
    ASSERT_TRUE(testing_support::MakeFifo(fifoMp3));
    ASSERT_TRUE(testing_support::LinkTo(zero, "/dev/zero"));
    const struct {
        std::filesystem::path path;
        std::string reason;
    } cases[] = {{fifo, "命名管道"}, {fifoMp3, "命名管道"}, {zero, "设备"}};
    for (const auto& c : cases) {
        std::string error;
        int ms = 0;
        EXPECT_TRUE(testing_support::FinishesWithin(
            [&] { ms = AudioLengthMs(c.path.string(), error); }, {fifo, fifoMp3}))
            << c.path;
        EXPECT_EQ(ms, -1);
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.path << ": " << error;
    }
}

// A file cut short (a download that stopped) plays what it holds. An Ogg file's length is read
// from its last page and a WAVE's data is bounded by the file, so the length is what is left; a
// FLAC header keeps the length it was written with, and then the music simply ends early.
TEST(AudioDecoder, AFileCutShortGivesWhatItHolds) {
    testing_support::TemporaryFolder folder;
    for (const char* file : {"tone.opus", "tone.flac", "tone.wav"}) {
        SCOPED_TRACE(file);
        std::ifstream in(kAudio + file, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bytes.resize(bytes.size() * 4 / 5);
        const auto cut = folder.Path() / file;
        testing_support::WriteFile(cut, bytes);
        const auto decoder = Open(cut.string());
        ASSERT_TRUE(decoder);
        std::string error;
        const int64_t length = decoder->Length(error);
        EXPECT_EQ(error, "");
        const int64_t whole = kEncodedFrames * decoder->Rate() / kEncodedRate;
        const auto decoded = int64_t(DecodeAll(*decoder).size());
        EXPECT_GT(decoded, whole / 2);
        EXPECT_LT(decoded, whole);
        if (std::string(file) == "tone.flac") {
            EXPECT_EQ(length, whole);
        } else {
            EXPECT_EQ(length, decoded);
        }
    }
}

// --- the playback span ---

TEST(AudioSpanReader, MillisecondsBecomeTheFramesThatSoundAtThem) {
    const AudioSpan span{1000, 1250, 10};
    const FrameSpan at8000 = SpanFrames(span, 8000, 12000);
    EXPECT_EQ(at8000.nStart, 8000);
    EXPECT_EQ(at8000.nEnd, 10000);
    EXPECT_EQ(at8000.nFade, 80);
    const FrameSpan at44100 = SpanFrames(AudioSpan{1, 3, 1}, 44100, 66150);
    EXPECT_EQ(at44100.nStart, 44);  // 44.1 frames: the frame that sounds at 1 ms
    EXPECT_EQ(at44100.nEnd, 132);
    EXPECT_EQ(at44100.nFade, 44);
    // An end past the music is the music's end; with no end the span stays open, unless a fade
    // out needs the end.
    EXPECT_EQ(SpanFrames(AudioSpan{0, 99999, 0}, 8000, 12000).nEnd, 12000);
    EXPECT_EQ(SpanFrames(AudioSpan{}, 8000, 12000).nEnd, -1);
    EXPECT_EQ(SpanFrames(AudioSpan{0, -1, 100}, 8000, 12000).nEnd, 12000);
    EXPECT_EQ(SpanFrames(AudioSpan{-50, -1, -5}, 8000, 12000).nStart, 0);
}

class AudioSpanReaderTest : public testing::Test {
protected:
    void SetUp() override {
        const auto decoder = Open(kAudio + "tone.wav");
        ASSERT_TRUE(decoder);
        m_all = DecodeAll(*decoder);
        ASSERT_EQ(m_all.size(), std::size_t(kEncodedFrames));
    }
    std::vector<int16_t> ReadSpan(const std::string& file, const FrameSpan& span,
                                  int64_t from = 0) {
        CAudioSpanReader reader;
        std::string error;
        EXPECT_TRUE(reader.Start(Open(kAudio + file), span, error, from)) << error;
        std::vector<int16_t> samples;
        int16_t chunk[333];
        for (int got; (got = reader.Read(chunk, 333)) > 0;)
            samples.insert(samples.end(), chunk, chunk + got);
        EXPECT_EQ(reader.Problem(), "");
        return samples;
    }
    std::vector<int16_t> m_all;  // the whole music, decoded from the start
};

TEST_F(AudioSpanReaderTest, PlaysExactlyTheFramesOfTheSpan) {
    for (const char* file : {"tone.wav", "tone.flac", "tone.ogg", "tone.m4a"}) {
        SCOPED_TRACE(file);
        const std::vector<int16_t> span = ReadSpan(file, FrameSpan{7990, 8123, 0});
        ASSERT_EQ(span.size(), 133u);
        const std::vector<int16_t> expected(m_all.begin() + 7990, m_all.begin() + 8123);
        if (std::string(file) == "tone.wav" || std::string(file) == "tone.flac") {
            EXPECT_EQ(span, expected);
        }
        // Lossy: the first frame heard is still the one at the span's start.
        EXPECT_LT(LargestDifference(span, m_all, 7990), LargestDifference(span, m_all, 7989));
        EXPECT_LT(LargestDifference(span, m_all, 7990), LargestDifference(span, m_all, 7991));
    }
    // A span from a start past the end holds nothing; one open at its end runs to the music's.
    EXPECT_TRUE(ReadSpan("tone.wav", FrameSpan{13000, -1, 0}).empty());
    EXPECT_EQ(ReadSpan("tone.wav", FrameSpan{11000, -1, 0}).size(), 1000u);
}

TEST_F(AudioSpanReaderTest, TheFadesRampLinearlyInAndOut) {
    constexpr int64_t kStart = 4001, kEnd = 6000, kFade = 400;
    const std::vector<int16_t> span = ReadSpan("tone.wav", FrameSpan{kStart, kEnd, kFade});
    ASSERT_EQ(span.size(), std::size_t(kEnd - kStart));
    const int64_t n = kEnd - kStart;
    for (int64_t j = 0; j < n; ++j) {
        const double gain = std::min({1.0, double(j) / kFade, double(n - j) / kFade});
        const double expected = m_all[std::size_t(kStart + j)] * gain;
        ASSERT_NEAR(span[std::size_t(j)], expected, 0.5) << "frame " << j;
    }
    // The envelope: the loudest sample of each 50-frame stretch grows through the fade in,
    // stays full between, and shrinks through the fade out.
    auto peak = [&](int64_t from) {
        int largest = 0;
        for (int64_t j = from; j < from + 50; ++j)
            largest = std::max(largest, std::abs(int(span[std::size_t(j)])));
        return largest;
    };
    for (int64_t from = 0; from + 100 <= kFade; from += 50) EXPECT_LT(peak(from), peak(from + 50));
    EXPECT_GT(peak(kFade), 16000);
    EXPECT_GT(peak(n / 2), 16000);
    for (int64_t from = n - kFade; from + 100 <= n; from += 50)
        EXPECT_GT(peak(from), peak(from + 50));
    EXPECT_EQ(span.front(), 0);
    EXPECT_LT(std::abs(int(span.back())), 16384 / kFade + 1);
}

TEST_F(AudioSpanReaderTest, AGainLowersEverySampleOnTopOfTheFades) {
    const FrameSpan whole{4001, 6000, 400};
    FrameSpan quiet = whole;
    quiet.dGain = 0.25;
    const std::vector<int16_t> loud = ReadSpan("tone.wav", whole, 100);
    const std::vector<int16_t> low = ReadSpan("tone.wav", quiet, 100);
    ASSERT_EQ(low.size(), loud.size());
    for (std::size_t k = 0; k < low.size(); ++k)
        ASSERT_NEAR(low[k], loud[k] * 0.25, 1.0) << "frame " << k;
    EXPECT_GT(*std::max_element(low.begin(), low.end()), 4000);  // the tone's peak is 16384
}

// Reading from inside the span (a seek of the player): exactly the frames from there, rising from
// silence over the ramp, with the span's fade out where it would have been.
TEST_F(AudioSpanReaderTest, AStartInsideTheSpanRisesAndKeepsTheSpansFades) {
    constexpr int64_t kStart = 4001, kEnd = 6000, kFade = 400, kFrom = 1000;
    constexpr int64_t kRamp = 8000 * CAudioSpanReader::kSeekRampMs / 1000;  // tone.wav's rate
    const std::vector<int16_t> span = ReadSpan("tone.wav", FrameSpan{kStart, kEnd, kFade}, kFrom);
    const int64_t n = kEnd - kStart;
    ASSERT_EQ(span.size(), std::size_t(n - kFrom));
    for (int64_t k = 0; k < n - kFrom; ++k) {
        const int64_t j = kFrom + k;
        const double gain = std::min({1.0, double(k) / kRamp, double(n - j) / kFade});
        ASSERT_NEAR(span[std::size_t(k)], m_all[std::size_t(kStart + j)] * gain, 0.5)
            << "frame " << k;
    }
    // Past the ramp the music is whole: not faded in again from the span's start.
    EXPECT_EQ(span[std::size_t(kRamp + 10)], m_all[std::size_t(kStart + kFrom + kRamp + 10)]);
    // A start past the span's end reads nothing.
    EXPECT_TRUE(ReadSpan("tone.wav", FrameSpan{kStart, kEnd, kFade}, n + 5).empty());
}

}  // namespace
}  // namespace platform
