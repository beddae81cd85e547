#include "tools/quorvel-score/singcommand.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "audio/buffer.h"
#include "audio/soundfile.h"
#include "tests/support/performance.h"
#ifdef QUORVEL_REVIEW_PLOTS
#include "tools/quorvel-score/lineplotter.h"
#endif

namespace tools {
namespace {

using namespace testing_support;

class SingCommand : public ::testing::Test {
protected:
    void SetUp() override {
        melody = MakeMelody(4, 4, /*seed=*/3);
        WriteSong(library.Path(), "song", SongFilesOf(melody));
    }

    std::string WriteWav(const std::string& name, const std::vector<int16_t>& samples,
                         int channels) {
        platform::WaveFormat format{};
        format.nFormatTag = platform::kWaveFormatPcm;
        format.nChannels = static_cast<uint16_t>(channels);
        format.nSamplesPerSec = kRate;
        format.nBitsPerSample = 16;
        format.nBlockAlign = static_cast<uint16_t>(channels * 2);
        format.nAvgBytesPerSec = kRate * format.nBlockAlign;
        const std::string path = (library.Path() / name).string();
        CSoundFile file(path, &format);
        std::vector<int16_t> copy = samples;
        CBuffer buffer(reinterpret_cast<uint8_t*>(copy.data()), static_cast<int>(copy.size() * 2));
        EXPECT_TRUE(file.Write(&buffer));
        EXPECT_TRUE(file.Close());
        return path;
    }

    std::vector<int16_t> Performance() const {
        return testing_support::Sing(melody, melody.back().End() + 2.0, Singer{});
    }

    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--library", library.Path().string()});
        out.str("");
        err.str("");
        return RunSingCommand(args, out, err);
    }

    double Final() const {
        std::smatch match;
        const std::string text = out.str();
        if (!std::regex_search(text, match, std::regex("\"final\":([-0-9.e+]+)\\}"))) return -1;
        return std::stod(match[1]);
    }

    TemporaryFolder library;
    std::vector<Line> melody;
    std::ostringstream out, err;
};

TEST_F(SingCommand, JsonHasEveryLineAndTheFinalScore) {
    const std::string wav = WriteWav("mono.wav", Performance(), 1);
    ASSERT_EQ(Run({"--json", "--wav", wav, "song"}), 0) << err.str();
    const std::string json = out.str();
    EXPECT_EQ(json.rfind("{\"role\":1,\"songs\":[{\"name\":\"song\",\"lines\":[{\"start\":5,", 0),
              0u)
        << json;
    EXPECT_NE(json.find("\"lines\":4,\"final\":"), std::string::npos) << json;
    const std::regex line(
        "\\{\"start\":[-0-9.e+]+,\"end\":[-0-9.e+]+,\"hits\":[0-9]+,\"nears\":[0-9]+,"
        "\"sung\":[0-9]+,\"cut\":[0-9]+,\"cost\":([-0-9.e+]+|null),\"align\":[-0-9.e+]+,"
        "\"score\":[-0-9.e+]+,\"grade\":\"(Perfect|Great|Good|Poor|Miss)\"\\}");
    const auto lines =
        std::distance(std::sregex_iterator(json.begin(), json.end(), line), std::sregex_iterator());
    EXPECT_EQ(lines, 4);
    EXPECT_GE(Final(), 80.0);
    EXPECT_EQ(json.back(), '\n');
}

TEST_F(SingCommand, MonoAndStereoRecordingsScoreAlike) {
    const std::vector<int16_t> mono = Performance();
    ASSERT_EQ(Run({"--json", "--wav", WriteWav("mono.wav", mono, 1), "song"}), 0) << err.str();
    const std::string fromMono = out.str();
    ASSERT_EQ(Run({"--json", "--wav", WriteWav("stereo.wav", Stereo(mono), 2), "song"}), 0);
    EXPECT_EQ(out.str(), fromMono);
}

TEST_F(SingCommand, TheRoleChangesTheOffset) {
    Singer second;
    second.nOffset = 80;
    const std::string wav =
        WriteWav("second.wav", testing_support::Sing(melody, melody.back().End() + 2.0, second), 1);
    ASSERT_EQ(Run({"--json", "--role", "2", "--wav", wav, "song"}), 0) << err.str();
    EXPECT_EQ(out.str().rfind("{\"role\":2,", 0), 0u);
    const double asSecond = Final();
    ASSERT_EQ(Run({"--json", "--role", "1", "--wav", wav, "song"}), 0);
    EXPECT_GE(asSecond, 80.0);
    EXPECT_LT(Final(), asSecond);  // four semitones off for the first role's offset
}

TEST_F(SingCommand, TheLevelIsChosenAndReported) {
    const std::string wav = WriteWav("mono.wav", Performance(), 1);
    ASSERT_EQ(Run({"--json", "--wav", wav, "song"}), 0) << err.str();
    EXPECT_NE(out.str().find("],\"level\":\"easy\",\"lines\":4,"), std::string::npos) << out.str();
    ASSERT_EQ(Run({"--json", "--level", "strict", "--wav", wav, "song"}), 0) << err.str();
    EXPECT_NE(out.str().find("],\"level\":\"strict\",\"lines\":4,"), std::string::npos)
        << out.str();
    EXPECT_EQ(Run({"--level", "hard", "--wav", wav, "song"}), 2);
    EXPECT_EQ(err.str().rfind("quorvel-score: --level: \"hard\" is not a judging level", 0), 0u)
        << err.str();
}

TEST_F(SingCommand, TheReviewGoesIntoItsFolder) {
    const std::string wav = WriteWav("mono.wav", Performance(), 1);
    const std::filesystem::path folder = library.Path() / "review" / "one";
#ifdef QUORVEL_REVIEW_PLOTS
    SetReviewPlotter(PlotLineToPng);
#endif
    ASSERT_EQ(Run({"--json", "--review", folder.string(), "--wav", wav, "song"}), 0) << err.str();
    SetReviewPlotter({});
    std::ifstream in(folder / "review.json");
    const std::string review((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(review.rfind("{\"role\":1,\"level\":\"easy\",\"final\":", 0), 0u);
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = review.find("{\"line\":", at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(lines, 4u);
    EXPECT_NE(review.find("\"buffers\":[{\"clockMs\":"), std::string::npos);
#ifdef QUORVEL_REVIEW_PLOTS
    for (const char* picture : {"1-01.png", "1-02.png", "1-03.png", "1-04.png"})
        EXPECT_GT(std::filesystem::file_size(folder / picture), 1000u) << picture;
#endif
    // A folder that cannot be made is named.
    WriteFile(library.Path() / "plain", "x");
    EXPECT_EQ(Run({"--review", (library.Path() / "plain" / "r").string(), "--wav", wav, "song"}),
              2);
    EXPECT_NE(err.str().find("plain/r: the review folder cannot be made"), std::string::npos)
        << err.str();
}

TEST_F(SingCommand, TextListsTheLines) {
    const std::string wav = WriteWav("mono.wav", Performance(), 1);
    ASSERT_EQ(Run({"--wav", wav, "song"}), 0) << err.str();
    std::istringstream text(out.str());
    std::string header, row;
    std::getline(text, header);
    EXPECT_EQ(header, "song\tline\tstart\tend\thits\tnears\tsung\tscore\tgrade");
    int rows = 0;
    while (std::getline(text, row) && row.rfind("song\t", 0) == 0) ++rows;
    EXPECT_EQ(rows, 4);
    EXPECT_EQ(row.rfind("final score ", 0), 0u) << row;
    EXPECT_EQ(row.find('('), std::string::npos) << row;  // the default level is not named
    ASSERT_EQ(Run({"--level", "standard", "--wav", wav, "song"}), 0) << err.str();
    EXPECT_NE(out.str().find(" lines (standard)\n"), std::string::npos) << out.str();
}

TEST_F(SingCommand, BadInputNamesTheFile) {
    EXPECT_EQ(Run({"--wav", (library.Path() / "none.wav").string(), "song"}), 2);
    EXPECT_NE(err.str().find("none.wav: no such file"), std::string::npos) << err.str();

    const std::string wav = WriteWav("mono.wav", Performance(), 1);
    EXPECT_EQ(Run({"--wav", wav, "nosong"}), 2);
    EXPECT_NE(err.str().find("歌曲/单曲/nosong/断点"), std::string::npos) << err.str();
    EXPECT_EQ(out.str(), "");

    // Four songs are a medley, looked for in the medley folder.
    EXPECT_EQ(Run({"--wav", wav, "song", "song", "song", "song"}), 2);
    EXPECT_NE(err.str().find("歌曲/串烧歌曲/song/断点"), std::string::npos) << err.str();
}

TEST_F(SingCommand, BadUsage) {
    const std::string wav = WriteWav("mono.wav", Performance(), 1);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"song"},
                                               {"--wav", wav},
                                               {"--wav", wav, "a", "b"},
                                               {"--wav", wav, "--role", "3", "song"},
                                               {"--wav", wav, "--fast", "song"}}) {
        EXPECT_EQ(Run(args), 2);
        EXPECT_NE(err.str().find("usage: quorvel-score sing"), std::string::npos);
    }
}

TEST_F(SingCommand, TheLatencyMovesTheJudgingAndIsCheckedWhereItEnters) {
    // A performance 200 ms late: the latency that says so brings the score back.
    Singer late;
    late.early = -0.2;
    const std::string wav =
        WriteWav("late.wav", testing_support::Sing(melody, melody.back().End() + 2.0, late), 1);
    ASSERT_EQ(Run({"--json", "--wav", wav, "song"}), 0) << err.str();
    const double unaligned = Final();
    ASSERT_EQ(Run({"--json", "--latency-ms", "200", "--wav", wav, "song"}), 0) << err.str();
    EXPECT_GT(Final(), unaligned + 2.0);

    for (const std::string bad : {"-5", "1001", "abc", "12.5", "", "99999999999", "+3"}) {
        EXPECT_EQ(Run({"--latency-ms", bad, "--wav", wav, "song"}), 2) << bad;
        EXPECT_NE(err.str().find("--latency-ms: \"" + bad + "\""), std::string::npos) << err.str();
        EXPECT_TRUE(out.str().empty());
    }
    EXPECT_EQ(Run({"--wav", wav, "song", "--latency-ms"}), 2);  // the value is missing
    EXPECT_NE(err.str().find("usage: quorvel-score sing"), std::string::npos);
}

}  // namespace
}  // namespace tools
