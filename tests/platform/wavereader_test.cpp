// The streaming WAVE reader and the readers built on it: the extensible PCM layout that sox and
// many recorders write, special files in place of a recording, and recordings too long to load.
#include "platform/wavereader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rifffile.h"
#include "platform/wavedata.h"
#include "platform/wavefilecapture.h"
#include "tests/support/songwriter.h"
#include "tests/support/specialfiles.h"

namespace {

using platform::CWaveReader;
using testing_support::FinishesWithin;
using testing_support::TemporaryFolder;
using testing_support::WriteFile;

constexpr platform::WaveFormat kStereo8000{platform::kWaveFormatPcm, 2, 8000, 32000, 4, 16, 0};

std::string LE(uint32_t n, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += char(n >> (8 * i));
    return s;
}

// The header of a WAVE file, plain ("fmt " of 16 bytes) or WAVE_FORMAT_EXTENSIBLE ("fmt " of 40
// bytes whose sub-format GUID begins with subTag), for dataBytes of samples.
std::string Header(bool extensible, int channels, uint32_t rate, int bits, uint32_t dataBytes,
                   uint16_t subTag = platform::kWaveFormatPcm) {
    const int align = channels * bits / 8;
    std::string fmt = LE(extensible ? 0xFFFE : platform::kWaveFormatPcm, 2) + LE(channels, 2) +
                      LE(rate, 4) + LE(rate * align, 4) + LE(align, 2) + LE(bits, 2);
    if (extensible)
        fmt += LE(22, 2) + LE(bits, 2) + LE(channels == 1 ? 4 : 3, 4) + LE(subTag, 2) +
               std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    return "RIFF" + LE(uint32_t(4 + 8 + fmt.size() + 8 + dataBytes), 4) + "WAVE" + "fmt " +
           LE(uint32_t(fmt.size()), 4) + fmt + "data" + LE(dataBytes, 4);
}

std::string Samples16(const std::vector<int16_t>& samples) {
    std::string data;
    for (int16_t s : samples) data += LE(uint16_t(s), 2);
    return data;
}

std::vector<uint8_t> AllFrames(CWaveReader& reader) {
    std::vector<uint8_t> bytes(reader.Frames() * reader.FrameBytes());
    EXPECT_EQ(reader.ReadFrames(bytes.data(), reader.Frames()), int64_t(reader.Frames()));
    EXPECT_EQ(reader.ReadFrames(bytes.data(), 1), 0);
    return bytes;
}

bool OpenCapture(const std::string& path, std::string& error) {
    platform::CWaveFileCapture capture(path);
    const bool opened = capture.Open(kStereo8000, [](platform::WaveHeader*) {});
    error = capture.LastError();
    return opened;
}

TEST(WaveReader, ExtensiblePcmReadsAsPlainPcmEverywhere) {
    TemporaryFolder folder;
    std::vector<int16_t> ramp(1001);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = int16_t(i * 37 - 15000);
    const std::string data = Samples16(ramp);
    const auto plain = folder.Path() / "plain.wav";
    const auto extensible = folder.Path() / "extensible.wav";
    WriteFile(plain, Header(false, 1, 8000, 16, uint32_t(data.size())) + data);
    WriteFile(extensible, Header(true, 1, 8000, 16, uint32_t(data.size())) + data);

    std::string error;
    CWaveReader a, b;
    ASSERT_TRUE(a.Open(plain.string(), error)) << error;
    ASSERT_TRUE(b.Open(extensible.string(), error)) << error;
    EXPECT_EQ(b.FormatTag(), platform::kWaveFormatPcm);
    EXPECT_EQ(b.Channels(), 1u);
    EXPECT_EQ(b.Rate(), 8000u);
    EXPECT_EQ(b.Bits(), 16u);
    EXPECT_EQ(b.Frames(), ramp.size());
    const std::vector<uint8_t> expected(data.begin(), data.end());
    EXPECT_EQ(AllFrames(a), expected);
    EXPECT_EQ(AllFrames(b), expected);

    platform::WaveData wave;
    ASSERT_TRUE(platform::ReadWaveData(extensible.string(), wave, error)) << error;
    EXPECT_EQ(wave.data, expected);
    EXPECT_TRUE(OpenCapture(extensible.string(), error)) << error;

    // 24-bit samples are called 24-bit, and a sub-format that is not PCM is named.
    const auto deep = folder.Path() / "deep.wav";
    WriteFile(deep, Header(true, 1, 8000, 24, 300) + std::string(300, '\1'));
    CWaveReader c;
    ASSERT_TRUE(c.Open(deep.string(), error)) << error;
    EXPECT_EQ(c.Bits(), 24u);
    EXPECT_EQ(c.Frames(), 100u);
    EXPECT_FALSE(OpenCapture(deep.string(), error));
    EXPECT_EQ(error, deep.string() + ": 24 bits per sample; 16 are needed");

    const auto floats = folder.Path() / "float.wav";
    WriteFile(floats, Header(true, 1, 8000, 32, 400, 3) + std::string(400, '\0'));
    CWaveReader d;
    EXPECT_FALSE(d.Open(floats.string(), error));
    EXPECT_EQ(error, floats.string() + ": format 3 is not PCM");
    EXPECT_EQ(d.FormatTag(), 3);
}

TEST(WaveReader, TheFourteenByteFormatRecordTakesItsBitsFromTheAlignment) {
    TemporaryFolder folder;
    const std::string data = Samples16({100, -200, 300, -400, 500, -600});
    // tag, channels, rate, bytes per second, block alignment: 14 bytes, no bits per sample.
    const std::string fmt =
        LE(platform::kWaveFormatPcm, 2) + LE(2, 2) + LE(8000, 4) + LE(32000, 4) + LE(4, 2);
    const auto old = folder.Path() / "old.wav";
    WriteFile(old, "RIFF" + LE(uint32_t(4 + 8 + fmt.size() + 8 + data.size()), 4) + "WAVE" +
                       "fmt " + LE(uint32_t(fmt.size()), 4) + fmt + "data" +
                       LE(uint32_t(data.size()), 4) + data);
    std::string error;
    CWaveReader reader;
    ASSERT_TRUE(reader.Open(old.string(), error)) << error;
    EXPECT_EQ(reader.Channels(), 2u);
    EXPECT_EQ(reader.Bits(), 16u);
    EXPECT_EQ(reader.Frames(), 3u);
    EXPECT_EQ(AllFrames(reader), std::vector<uint8_t>(data.begin(), data.end()));
    EXPECT_TRUE(OpenCapture(old.string(), error)) << error;
}

TEST(WaveReader, SpecialFilesInPlaceOfARecordingAreRefusedAtOnce) {
    TemporaryFolder folder;
    const auto fifo = folder.Path() / "fifo.wav";
    const auto zero = folder.Path() / "zero.wav";
    ASSERT_TRUE(testing_support::MakeFifo(fifo));
    ASSERT_TRUE(testing_support::LinkTo(zero, "/dev/zero"));
    for (const auto& entry : {std::pair{fifo, "(a FIFO)"}, std::pair{zero, "(a device)"}}) {
        const auto path = entry.first;  // lambdas below may not capture structured bindings
        const std::string kind = entry.second;
        SCOPED_TRACE(path.string());
        std::string readerError, dataError, captureError;
        bool riffOpened = true, readerOpened = true, dataRead = true, captureOpened = true;
        platform::CInputFile::Problem riffProblem{};
        ASSERT_TRUE(FinishesWithin(
            [&] {
                platform::CRiffFile riff;
                riffOpened = riff.Open(path.string());
                riffProblem = riff.OpenProblem();
                CWaveReader reader;
                readerOpened = reader.Open(path.string(), readerError);
                platform::WaveData wave;
                dataRead = platform::ReadWaveData(path.string(), wave, dataError);
                captureOpened = OpenCapture(path.string(), captureError);
            },
            {fifo}));
        EXPECT_FALSE(riffOpened);
        EXPECT_NE(riffProblem, platform::CInputFile::Problem::None);
        EXPECT_FALSE(readerOpened);
        EXPECT_EQ(readerError,
                  path.string() + ": cannot be opened (is not a regular file " + kind + ")");
        EXPECT_FALSE(dataRead);
        EXPECT_EQ(dataError, readerError);
        EXPECT_FALSE(captureOpened);
        EXPECT_EQ(captureError, readerError);
    }

    // Writing a WAVE file into a FIFO that nobody reads fails at once instead of waiting.
    bool created = true;
    ASSERT_TRUE(FinishesWithin(
        [&] {
            platform::CRiffFile writer;
            created = writer.Create(fifo.string());
        },
        {}));
    EXPECT_FALSE(created);
}

TEST(WaveReader, ALongRecordingIsStreamedNotLoaded) {
    // Two hours of mono at 8000 frames/s: 115 MB of samples, sparse on disk.
    TemporaryFolder folder;
    const auto path = folder.Path() / "long.wav";
    constexpr uint32_t kFrames = 8000u * 7200u;
    const std::string header = Header(false, 1, 8000, 16, kFrames * 2);
    WriteFile(path, header);
    ASSERT_TRUE(testing_support::MakeSparse(path, int64_t(header.size()) + kFrames * 2));

    std::string error;
    CWaveReader reader;
    ASSERT_TRUE(reader.Open(path.string(), error)) << error;
    EXPECT_EQ(reader.Frames(), kFrames);

    // The file as the microphone holds one block, not the file's samples (230 MB as stereo).
    const long before = testing_support::ResidentKiB();
    platform::CWaveFileCapture capture(path.string());
    ASSERT_TRUE(capture.Open(kStereo8000, [](platform::WaveHeader*) {})) << capture.LastError();
    EXPECT_LT(testing_support::ResidentKiB() - before, 32 * 1024);
    capture.Close();

    // Reading it whole is for short sounds only: refused, named, nothing read.
    platform::WaveData wave;
    EXPECT_FALSE(platform::ReadWaveData(path.string(), wave, error));
    EXPECT_EQ(error, path.string() +
                         ": 115200000 bytes of samples; at most 67108864 can be "
                         "read whole");
    EXPECT_TRUE(wave.data.empty());
}

}  // namespace
