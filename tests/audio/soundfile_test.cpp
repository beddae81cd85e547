#include "audio/soundfile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "platform/messages.h"

namespace {

using Bytes = std::string;
const std::string kData = QUORVEL_TEST_DATA;

Bytes Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
uint32_t LE32At(const Bytes& b, size_t at) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) n = n << 8 | uint8_t(b.at(at + size_t(i)));
    return n;
}
void PutLE32At(Bytes& b, size_t at, uint32_t n) {
    for (size_t i = 0; i < 4; ++i) b.at(at + i) = char(n >> (8 * i));
}

platform::WaveFormat Pcm(uint16_t nChannels, uint32_t nRate, uint16_t nBits) {
    const uint16_t nAlign = uint16_t(nChannels * (nBits / 8));
    return {platform::kWaveFormatPcm, nChannels, nRate, nRate * nAlign, nAlign, nBits, 0};
}

// Sample bytes: a slow sine taken byte by byte, so that a lost, added or moved byte shows.
Bytes Tone(size_t nBytes) {
    Bytes bytes(nBytes, '\0');
    for (size_t i = 0; i < nBytes; ++i)
        bytes[i] = char(int(std::lround(100 * std::sin(0.05 * double(i)))));
    return bytes;
}

// Writes the bytes in blocks of nBlock through Write and closes.
void WriteWave(const std::string& path, const platform::WaveFormat& format, const Bytes& samples,
               size_t nBlock = 777) {
    CSoundFile file(path, &format);
    ASSERT_EQ(file.GetMode(), CSoundFile::ModeWriting);
    for (size_t at = 0; at < samples.size(); at += nBlock) {
        Bytes block = samples.substr(at, nBlock);
        CBuffer buffer(block.data(), int32_t(block.size()));
        ASSERT_TRUE(file.Write(&buffer));
    }
    ASSERT_TRUE(file.Close());
}

// Reads every block with Read() and returns them joined; the block sizes go to pSizes.
Bytes ReadAll(CSoundFile& file, std::vector<int32_t>* pSizes = nullptr) {
    Bytes all;
    while (std::unique_ptr<CBuffer> pBuffer = file.Read()) {
        if (pSizes) pSizes->push_back(pBuffer->m_nSize);
        all.append(reinterpret_cast<const char*>(pBuffer->m_pData), size_t(pBuffer->m_nSize));
    }
    return all;
}

class SoundFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quorvel-wave-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    std::string PathOf(const char* name) const { return (m_dir / name).string(); }
    std::string Save(const Bytes& bytes, const char* name = "in.wav") const {
        std::ofstream(PathOf(name), std::ios::binary) << bytes;
        return PathOf(name);
    }

    std::filesystem::path m_dir;
    platform::MessageCapture m_capture;
};

// The written layout: 46 bytes of headers, the samples, a pad byte after an odd count.
struct LayoutCase {
    const char* name;
    platform::WaveFormat format;
    size_t nBytes, nFileSize;
    uint32_t nRiffSize;
};
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class SoundFileLayoutTest : public SoundFileTest,
                            public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(SoundFileLayoutTest, WritesHeadersSizesAndPad) {
    const LayoutCase& c = GetParam();
    WriteWave(PathOf("out.wav"), c.format, Tone(c.nBytes), 2000);
    const Bytes file = Load(PathOf("out.wav"));
    ASSERT_EQ(file.size(), c.nFileSize);
    EXPECT_EQ(file.substr(0, 4), "RIFF");
    EXPECT_EQ(LE32At(file, 4), c.nRiffSize);
    EXPECT_EQ(file.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(LE32At(file, 16), 18u);
    EXPECT_EQ(std::memcmp(file.data() + 20, &c.format, 18), 0);
    EXPECT_EQ(file.substr(38, 4), "data");
    EXPECT_EQ(LE32At(file, 42), c.nBytes);
    EXPECT_EQ(file.substr(46, c.nBytes), Tone(c.nBytes));
    EXPECT_EQ(file.substr(46 + c.nBytes), c.nBytes % 2 ? Bytes(1, '\0') : Bytes());
    EXPECT_TRUE(m_capture.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, SoundFileLayoutTest,
                         ::testing::Values(LayoutCase{"ThousandFrames", Pcm(1, 8000, 16), 2000,
                                                      2046, 2038},
                                           LayoutCase{"ThreeBytes", Pcm(1, 8000, 8), 3, 50, 42}),
                         [](const auto& instance) { return std::string(instance.param.name); });

TEST_F(SoundFileTest, FormatExtensionIsWrittenAsZeros) {
    platform::WaveFormat format = Pcm(2, 22050, 16);
    format.nFormatTag = 0x55;
    format.nExtraSize = 5;
    WriteWave(PathOf("out.wav"), format, Tone(100));
    const Bytes file = Load(PathOf("out.wav"));
    EXPECT_EQ(LE32At(file, 16), 23u);
    EXPECT_EQ(file.substr(38, 6), Bytes(5, '\0') + '\0');  // 5 zeros, then the pad byte
    EXPECT_EQ(file.substr(44, 4), "data");
    CSoundFile reader(PathOf("out.wav"));
    ASSERT_TRUE(reader.IsOK());
    EXPECT_EQ(std::memcmp(reader.GetFormat(), &format, 18), 0);
    EXPECT_EQ(ReadAll(reader), Tone(100));
}

// Round trip: the same record back, the samples in blocks of 2000 bytes, the last shorter.
class SoundFileRoundTripTest : public SoundFileTest,
                               public ::testing::WithParamInterface<size_t> {};

TEST_P(SoundFileRoundTripTest, ReadsBackWhatWasWritten) {
    const size_t nBytes = GetParam();
    const platform::WaveFormat format = Pcm(1, 8000, 16);
    WriteWave(PathOf("out.wav"), format, Tone(nBytes));
    CSoundFile reader(PathOf("out.wav"));
    ASSERT_EQ(reader.GetMode(), CSoundFile::ModeReading);
    EXPECT_EQ(std::memcmp(reader.GetFormat(), &format, 18), 0);
    std::vector<int32_t> sizes;
    EXPECT_EQ(ReadAll(reader, &sizes), Tone(nBytes));
    ASSERT_EQ(sizes.size(), (nBytes + 1999) / 2000);
    for (size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 2000);
    CBuffer buffer(2000);
    EXPECT_FALSE(reader.Read(&buffer));
    EXPECT_EQ(buffer.m_nSize, 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SoundFileRoundTripTest,
                         ::testing::Values(0, 1, 3, 1999, 2000, 2001, 6001));

// Files made by sox: the reader gives sox's format and exactly the samples that sox reads.
struct FixtureCase {
    const char* wav;
    const char* raw;
    uint16_t nChannels;
    uint32_t nRate;
    uint16_t nBits;
};

void PrintTo(const FixtureCase& c, std::ostream* os) { *os << c.wav; }

class SoundFileSoxFixtureTest : public SoundFileTest,
                                public ::testing::WithParamInterface<FixtureCase> {};

TEST_P(SoundFileSoxFixtureTest, ReadsFormatAndSamples) {
    const FixtureCase& c = GetParam();
    CSoundFile reader(kData + "/" + c.wav + ".wav");
    ASSERT_EQ(reader.GetMode(), CSoundFile::ModeReading) << c.wav;
    EXPECT_EQ(reader.GetFormat()->nFormatTag, 1);
    EXPECT_EQ(reader.GetNumberOfChannels(), c.nChannels);
    EXPECT_EQ(reader.GetSamplesPerSecond(), c.nRate);
    EXPECT_EQ(reader.GetBitsPerSample(), c.nBits);
    EXPECT_EQ(reader.GetFormat()->nBlockAlign, c.nChannels * c.nBits / 8);
    const Bytes raw = Load(kData + "/" + c.raw + ".raw");
    ASSERT_FALSE(raw.empty()) << "missing fixture " << c.raw << ".raw";
    EXPECT_EQ(ReadAll(reader), raw);
    EXPECT_TRUE(m_capture.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Files, SoundFileSoxFixtureTest,
                         ::testing::Values(FixtureCase{"mono-8000", "mono-8000", 1, 8000, 16},
                                           FixtureCase{"stereo-8000", "stereo-8000", 2, 8000, 16},
                                           FixtureCase{"mono-44100", "mono-44100", 1, 44100, 16},
                                           FixtureCase{"stereo-44100", "stereo-44100", 2, 44100,
                                                       16},
                                           FixtureCase{"mono-8000-u8-odd", "mono-8000-u8-odd", 1,
                                                       8000, 8},  // pad byte not returned
                                           FixtureCase{"list-before-fmt", "mono-8000", 1, 8000, 16},
                                           FixtureCase{"chunk-after-data", "mono-8000", 1, 8000,
                                                       16}),  // later chunks not returned
                         [](const auto& instance) {
                             std::string name = instance.param.wav;
                             for (char& ch : name) ch = std::isalnum(uint8_t(ch)) ? ch : '_';
                             return name;
                         });

// Files that are not WAVE, and damaged copies of sox's mono-8000.wav (RIFF 0..12, "fmt " header
// 12..20 and body 20..36, "data" header 36..44, 480 sample bytes 44..524): cut short, or with
// one 32-bit size replaced.
struct DamageCase {
    const char* name;
    const char* file;
    size_t nCut;      // bytes kept
    size_t nPatchAt;  // offset of the size to replace, 0 for none
    uint32_t nPatch;
    const char* message;  // expected message, "" when the file opens
    size_t nSampleBytes;  // sample bytes the reader returns
};
void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class SoundFileDamageTest : public SoundFileTest,
                            public ::testing::WithParamInterface<DamageCase> {};

TEST_P(SoundFileDamageTest, FailsClearlyOrReadsOnlyWhatIsThere) {
    const DamageCase& c = GetParam();
    Bytes bytes = Load(kData + "/" + c.file).substr(0, c.nCut);
    if (c.nPatchAt) PutLE32At(bytes, c.nPatchAt, c.nPatch);
    CSoundFile reader(Save(bytes));
    EXPECT_EQ(reader.GetMode(), *c.message ? CSoundFile::ModeFailed : CSoundFile::ModeReading);
    EXPECT_EQ(m_capture.Messages(),
              *c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
    EXPECT_EQ(ReadAll(reader), Load(kData + "/mono-8000.raw").substr(0, c.nSampleBytes));
    CBuffer buffer(10);
    EXPECT_FALSE(reader.Read(&buffer));
}

constexpr size_t kAll = Bytes::npos;
INSTANTIATE_TEST_SUITE_P(
    Files, SoundFileDamageTest,
    ::testing::Values(
        DamageCase{"NotRiff", "not-riff.wav", kAll, 0, 0, "Error descending into file", 0},
        DamageCase{"DataBeforeFmt", "data-before-fmt.wav", kAll, 0, 0, "error reading data chunk",
                   0},
        DamageCase{"Empty", "mono-8000.wav", 0, 0, 0, "Error descending into file", 0},
        DamageCase{"CutInRiffHeader", "mono-8000.wav", 11, 0, 0, "Error descending into file", 0},
        DamageCase{"CutBeforeFmt", "mono-8000.wav", 12, 0, 0, "Error descending in wave file", 0},
        DamageCase{"CutInFmtHeader", "mono-8000.wav", 19, 0, 0, "Error descending in wave file", 0},
        DamageCase{"CutBeforeFmtBody", "mono-8000.wav", 20, 0, 0,
                   "Error reading PCM wave format record", 0},
        DamageCase{"CutInFmtBody", "mono-8000.wav", 35, 0, 0,
                   "Error reading PCM wave format record", 0},
        DamageCase{"CutBeforeData", "mono-8000.wav", 36, 0, 0, "error reading data chunk", 0},
        DamageCase{"CutInDataHeader", "mono-8000.wav", 43, 0, 0, "error reading data chunk", 0},
        DamageCase{"CutBeforeSamples", "mono-8000.wav", 44, 0, 0, "", 0},
        DamageCase{"CutInSamples", "mono-8000.wav", 301, 0, 0, "", 257},
        DamageCase{"FmtTooShort", "mono-8000.wav", kAll, 16, 8,
                   "Error reading PCM wave format record", 0},
        DamageCase{"FmtClaimsTooMuch", "mono-8000.wav", kAll, 16, 0xFFFFFF00u,
                   "Error ascending in File", 0},
        DamageCase{"RiffClaimsTooLittle", "mono-8000.wav", kAll, 4, 20, "error reading data chunk",
                   0},
        DamageCase{"RiffSizeZero", "mono-8000.wav", kAll, 4, 0, "", 480},  // a writer never closed
        DamageCase{"RiffClaimsTooMuch", "mono-8000.wav", kAll, 4, 0xFFFFFFFFu, "", 480},
        DamageCase{"DataSizeZero", "mono-8000.wav", kAll, 40, 0, "", 480},
        DamageCase{"DataClaimsTooMuch", "mono-8000.wav", kAll, 40, 0xFFFFFFF0u, "", 480},
        DamageCase{"DataClaimsLess", "mono-8000.wav", kAll, 40, 101, "", 101}),
    [](const auto& instance) { return std::string(instance.param.name); });

// The 14-byte record of the oldest writers: the bits per sample come from the block alignment.
TEST_F(SoundFileTest, ReadsTheFourteenByteFormatRecord) {
    const Bytes original = Load(kData + "/mono-8000.wav");  // "fmt " body at 20..36
    Bytes old = original.substr(0, 12) + "fmt ";
    PutLE32At(old, 4, 0);  // placeholder, set below
    Bytes size(4, '\0');
    PutLE32At(size, 0, 14);
    old += size + original.substr(20, 14) + original.substr(36);
    PutLE32At(old, 4, uint32_t(old.size() - 8));
    CSoundFile reader(Save(old));
    ASSERT_EQ(reader.GetMode(), CSoundFile::ModeReading)
        << ::testing::PrintToString(m_capture.Messages());
    EXPECT_EQ(reader.GetFormat()->nBitsPerSample, 16);
    EXPECT_EQ(reader.GetFormat()->nChannels, 1);
    EXPECT_EQ(reader.GetFormat()->nSamplesPerSec, 8000u);
    EXPECT_EQ(ReadAll(reader), Load(kData + "/mono-8000.raw"));
}

TEST_F(SoundFileTest, EachDirectionRefusesTheOtherAndMissingFilesFailQuietly) {
    const platform::WaveFormat format = Pcm(1, 8000, 16);
    EXPECT_EQ(CSoundFile(PathOf("missing.wav")).GetMode(), CSoundFile::ModeFailed);
    EXPECT_EQ(CSoundFile(PathOf("no/such/folder/out.wav"), &format).GetMode(),
              CSoundFile::ModeFailed);
    EXPECT_TRUE(m_capture.Messages().empty());

    CBuffer buffer(10);
    buffer.Erase();
    CSoundFile writer(PathOf("out.wav"), &format);
    EXPECT_FALSE(writer.Read(&buffer));
    EXPECT_EQ(buffer.m_nSize, 10);
    EXPECT_TRUE(writer.Write(&buffer));
    EXPECT_FALSE(writer.CreateWaveFile());  // already open
    EXPECT_TRUE(writer.Close() && writer.Close());
    EXPECT_FALSE(writer.Write(&buffer));

    CSoundFile reader(PathOf("out.wav"));
    EXPECT_FALSE(reader.Write(&buffer));
    EXPECT_FALSE(reader.OpenWaveFile());  // already open
    reader.Close();
    EXPECT_FALSE(reader.Read(&buffer));
    EXPECT_EQ(Load(PathOf("out.wav")).size(), 56u);
}

TEST_F(SoundFileTest, FailedWritesShowAtClose) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full here";
    const platform::WaveFormat format = Pcm(1, 8000, 16);
    CSoundFile writer("/dev/full", &format);
    ASSERT_EQ(writer.GetMode(), CSoundFile::ModeWriting);
    CBuffer buffer(100000);
    buffer.Erase();
    writer.Write(&buffer);
    EXPECT_FALSE(writer.Close());
}

// Lets a test put the writer near the 32-bit limit without writing 4 GiB.
class CSoundFileNearLimit : public CSoundFile {
public:
    using CSoundFile::CSoundFile;
    void PretendWritten(uint64_t nBytes) { m_nDataBytes = nBytes; }
};

TEST_F(SoundFileTest, WriteRefusesToOutgrowThirtyTwoBitOffsets) {
    const platform::WaveFormat format = Pcm(1, 8000, 8);
    CSoundFileNearLimit writer(PathOf("out.wav"), &format);
    // 46 header bytes + data + pad byte must stay within 0xFFFFFFFF bytes.
    const uint64_t nMaxData = 0xFFFFFFFFull - 46 - 1;  // even; one more would need a pad byte too
    writer.PretendWritten(nMaxData - 2);
    CBuffer two(2), one(1);
    EXPECT_TRUE(writer.Write(&two));
    EXPECT_FALSE(writer.Write(&one));
    EXPECT_TRUE(writer.Close());
    EXPECT_EQ(Load(PathOf("out.wav")).size(), 48u);
}

// Files written here, checked by sox: soxi reads the header, sox gives back the samples.
std::string RunCommand(const std::string& command) {
    std::string output;
    if (std::FILE* pPipe = popen(command.c_str(), "r")) {
        char chunk[256];
        while (size_t n = std::fread(chunk, 1, sizeof chunk, pPipe)) output.append(chunk, n);
        const int status = pclose(pPipe);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            output = "FAILED: " + command + "\n" + output;
    }
    return output;
}

struct SoxCase {
    const char* name;
    platform::WaveFormat format;
};
void PrintTo(const SoxCase& c, std::ostream* os) { *os << c.name; }

class SoundFileBySoxTest : public SoundFileTest, public ::testing::WithParamInterface<SoxCase> {};

TEST_P(SoundFileBySoxTest, SoxReadsOurFile) {
    ASSERT_EQ(std::system("command -v sox >/dev/null && command -v soxi >/dev/null"), 0)
        << "sox/soxi is not on PATH: install the packages of the project's package list";
    const platform::WaveFormat format = GetParam().format;
    const size_t nFrames = 1234;
    const Bytes samples = Tone(nFrames * format.nBlockAlign);
    const std::string path = PathOf("ours.wav");
    WriteWave(path, format, samples);
    EXPECT_EQ(RunCommand("soxi -r " + path), std::to_string(format.nSamplesPerSec) + "\n");
    EXPECT_EQ(RunCommand("soxi -c " + path), std::to_string(format.nChannels) + "\n");
    EXPECT_EQ(RunCommand("soxi -b " + path), std::to_string(format.nBitsPerSample) + "\n");
    EXPECT_EQ(RunCommand("soxi -s " + path), std::to_string(nFrames) + "\n");
    EXPECT_EQ(RunCommand("sox " + path + " -t raw " + PathOf("back.raw")), "");
    EXPECT_EQ(Load(PathOf("back.raw")), samples);
}

INSTANTIATE_TEST_SUITE_P(Formats, SoundFileBySoxTest,
                         ::testing::Values(SoxCase{"Mono8000", Pcm(1, 8000, 16)},
                                           SoxCase{"Stereo44100", Pcm(2, 44100, 16)},
                                           SoxCase{"Stereo8000", Pcm(2, 8000, 16)},
                                           SoxCase{"Mono11025EightBitOdd", Pcm(1, 11025, 8)}),
                         [](const auto& instance) { return std::string(instance.param.name); });

}  // namespace
