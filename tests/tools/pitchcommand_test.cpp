#include "tools/quorvel-score/pitchcommand.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "audio/buffer.h"
#include "audio/soundfile.h"

namespace tools {
namespace {

namespace fs = std::filesystem;

class PitchCommand : public testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("quorvel-pitch-" + std::to_string(::getpid()) + "-" +
                 testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // A 16-bit WAV whose first channel is a sine at hz and whose other channels are a sine at
    // twice that, frames long.
    std::string Write(const std::string& name, int frames, double hz, int channels = 1,
                      int rate = 8000, int bits = 16, double amplitude = 8000) {
        platform::WaveFormat format{};
        format.nFormatTag = platform::kWaveFormatPcm;
        format.nChannels = static_cast<uint16_t>(channels);
        format.nSamplesPerSec = static_cast<uint32_t>(rate);
        format.nBitsPerSample = static_cast<uint16_t>(bits);
        format.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
        format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
        const std::string path = (m_dir / name).string();
        CSoundFile file(path, &format);
        std::vector<int16_t> samples;
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                samples.push_back(static_cast<int16_t>(
                    amplitude * std::sin(2 * M_PI * hz * (c ? 2 : 1) * i / rate)));
        CBuffer buffer(reinterpret_cast<uint8_t*>(samples.data()),
                       static_cast<int>(samples.size() * 2));
        EXPECT_TRUE(file.Write(&buffer));
        EXPECT_TRUE(file.Close());
        return path;
    }

    int Run(std::vector<std::string> args) {
        m_out.str("");
        m_err.str("");
        return RunPitchCommand(args, m_out, m_err);
    }

    fs::path m_dir;
    std::ostringstream m_out, m_err;
};

const std::string k220 = " 570 570 570 570 570 570 570 570\n";

TEST_F(PitchCommand, OneLinePerWholeBlock) {
    const auto path = Write("tone.wav", 960 * 3 + 500, 220.0);
    EXPECT_EQ(Run({path}), 0);
    EXPECT_EQ(m_out.str(), "0" + k220 + "1" + k220 + "2" + k220);
    EXPECT_EQ(m_err.str(), "");
    EXPECT_EQ(Run({"--raw", path}), 0);
    EXPECT_EQ(m_out.str(), "0" + k220 + "1" + k220 + "2" + k220);
}

TEST_F(PitchCommand, RawSkipsTheFilter) {
    // A whisper of a tone: the filter's gain of about 0.27 truncates every sample to 0.
    const auto path = Write("quiet.wav", 960, 220.0, 1, 8000, 16, 3.5);
    ASSERT_EQ(Run({path}), 0);
    EXPECT_EQ(m_out.str(), "0 0 0 0 0 0 0 0 0\n");
    ASSERT_EQ(Run({"--raw", path}), 0);
    EXPECT_EQ(m_out.str(), "0" + k220);
}

TEST_F(PitchCommand, OnlyTheFirstChannelIsUsed) {
    const auto path = Write("stereo.wav", 960 * 2, 220.0, 2);  // second channel at 440 Hz
    EXPECT_EQ(Run({path}), 0);
    EXPECT_EQ(m_out.str(), "0" + k220 + "1" + k220);
}

TEST_F(PitchCommand, ShortRecordingPrintsNothing) {
    const auto path = Write("short.wav", 959, 220.0);
    EXPECT_EQ(Run({path}), 0);
    EXPECT_EQ(m_out.str(), "");
}

TEST_F(PitchCommand, WrongFormatsAreNamed) {
    struct Case {
        std::string name;
        int channels, rate, bits;
        std::string problem;
    };
    for (const Case& c : {Case{"fast.wav", 1, 44100, 16, "44100 frames/s, need 8000"},
                          Case{"eight.wav", 1, 8000, 8, "8-bit samples, need 16-bit"},
                          Case{"quad.wav", 4, 8000, 16, "4 channels, need mono or stereo"}}) {
        const auto path = Write(c.name, 100, 220.0, c.channels, c.rate, c.bits);
        EXPECT_EQ(Run({path}), 2) << c.name;
        EXPECT_EQ(m_out.str(), "");
        EXPECT_EQ(m_err.str(), "quorvel-score: " + path + ": " + c.problem + "\n");
    }
}

TEST_F(PitchCommand, UnreadableFilesAreNamed) {
    const auto text = (m_dir / "notes.txt").string();
    std::ofstream(text) << "this is not a recording\n";
    EXPECT_EQ(Run({text}), 2);
    EXPECT_EQ(m_err.str(), "quorvel-score: " + text +
                               ": not a readable WAVE file (Error descending into file)\n");

    const auto missing = (m_dir / "missing.wav").string();
    EXPECT_EQ(Run({missing}), 2);
    EXPECT_EQ(m_err.str(), "quorvel-score: " + missing + ": no such file\n");

    EXPECT_EQ(Run({m_dir.string()}), 2);
    EXPECT_EQ(m_err.str(), "quorvel-score: " + m_dir.string() + ": is a directory\n");
}

TEST_F(PitchCommand, BadUsage) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"--raw"}, {"a.wav", "b.wav"}, {"--loud", "a.wav"}, {"--raw", "--raw", "a.wav"}}) {
        EXPECT_EQ(Run(args), 2);
        EXPECT_EQ(m_err.str(),
                  "usage: quorvel-score pitch [--raw] [--tracker amdf|precise] FILE.wav\n");
    }
    EXPECT_EQ(Run({"--tracker", "yin", "a.wav"}), 2);
    EXPECT_EQ(m_err.str().rfind("quorvel-score: --tracker: \"yin\" is not a pitch tracker", 0), 0u)
        << m_err.str();
}

TEST_F(PitchCommand, TheTrackerCanBeThePreciseOne) {
    // 225 Hz is note 57.39: the precise tracker gives it to the tenth.
    const auto path = Write("tone.wav", 960 * 2, 225.0);
    EXPECT_EQ(Run({"--tracker", "precise", path}), 0);
    const std::string values = " 574 574 574 574 574 574 574 574\n";
    EXPECT_EQ(m_out.str(), "0" + values + "1" + values);
    EXPECT_EQ(Run({"--tracker", "amdf", path}), 0);
    EXPECT_NE(m_out.str(), "0" + values + "1" + values);
}

}  // namespace
}  // namespace tools
