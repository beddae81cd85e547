#include "tools/quorvel-score/showcommand.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/songwriter.h"

namespace tools {
namespace {

using testing_support::WriteFile;

const std::filesystem::path kOgg = std::filesystem::path(QUORVEL_TEST_DATA) / "audio/tone.ogg";

// At BPM 300 a beat lasts 60 / (300 × 4) = 0.05 s; GAP 1000 puts beat 0 at 1 s. The notes' MIDI
// numbers 65, 67, (freestyle), 53 and 55 have the lower median 55, already within 48…59: no
// octave moves. Phrase 1 runs from beat 0 (1 s) to beat 9 (1.45 s): M = 30; ": 0 3" covers
// 1.000–1.150 s (values 0–9), ": 4 2" 1.200–1.300 s (values 14–19); the freestyle note is not
// judged. Phrase 2 runs from beat 12 (1.6 s) to beat 20 (2 s), rounded M = 27 (26.67).
const char* kSong =
    "#TITLE:Caf\xC3\xA9\r\n#ARTIST:Nobody\r\n#MP3:tone.ogg\r\n#BPM:300\r\n#GAP:1000\r\n"
    ": 0 3 5 Ca\r\n: 4 2 7 f\xC3\xA9 \r\nF 7 2 0 la\r\n- 10\r\n"
    "* 12 4 -7 \xD0\x96\xD1\x83\r\n: 16 4 -5 ~\r\nE\r\n";

// The values as JSON lists them: runs of (count, value).
std::string Values(std::initializer_list<std::pair<int, int>> runs) {
    std::string text;
    for (const auto& [count, value] : runs)
        for (int i = 0; i < count; ++i) {
            if (!text.empty()) text += ',';
            text += std::to_string(value);
        }
    return text;
}

class ShowCommand : public testing::Test {
protected:
    std::filesystem::path WriteUltraStar(const std::string& song, const std::string& text,
                                         bool medley = false) {
        const auto folder = library.Path() / "歌曲" / (medley ? "串烧歌曲" : "单曲") / song;
        WriteFile(folder / "song.txt", text);
        std::filesystem::copy_file(kOgg, folder / "tone.ogg");
        return folder;
    }

    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--library", library.Path().string()});
        out.str("");
        err.str("");
        return RunShowCommand(args, out, err);
    }

    testing_support::TemporaryFolder library;
    std::ostringstream out, err;
};

TEST_F(ShowCommand, AnUltraStarSongsLinesFollowItsNotesExactly) {
    WriteUltraStar("cafe", kSong);
    ASSERT_EQ(Run({"--json", "cafe"}), 0) << err.str();
    const std::string values1 = Values({{10, 770}, {4, 0}, {6, 790}, {10, 0}});
    const std::string values2 = Values({{14, 650}, {13, 670}});
    EXPECT_EQ(out.str(), "{\"title\":\"Café\",\"artist\":\"Nobody\",\"audio\":\"" +
                             (library.Path() / "歌曲/单曲/cafe/tone.ogg").string() +
                             "\",\"lines\":[{\"start\":1,\"end\":1.45000005,\"values\":[" +
                             values1 +
                             "],\"lyrics\":[\"Ca\",\"fé \",\"la\"]},{\"start\":1.60000002,"
                             "\"end\":2,\"values\":[" +
                             values2 + "],\"lyrics\":[\"Жу\"]}]}\n");
}

// Where the music starts (#START, in seconds before version 2.0.0) the song's clock starts: a
// phrase before it is never heard, the others move earlier, their values stay.
TEST_F(ShowCommand, TheClockStartsWhereTheMusicIsSkippedTo) {
    WriteUltraStar("cafe", std::string("#START:1,2\r\n") + kSong);
    ASSERT_EQ(Run({"cafe"}), 0) << err.str();
    EXPECT_NE(out.str().find("music\tfrom 1200 ms to the end\n"), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find("\n2\t"), std::string::npos) << "one line only:\n" << out.str();
    EXPECT_NE(out.str().find("\n1\t0.400000006\t0.800000012\t27\t650 650"), std::string::npos)
        << out.str();
}

// A medley sings the section between its bounds, its music starting there and fading.
TEST_F(ShowCommand, AMedleySingsOnlyItsSection) {
    WriteUltraStar("cafe", std::string("#MEDLEYSTARTBEAT:12\n#MEDLEYENDBEAT:20\n") + kSong, true);
    ASSERT_EQ(Run({"--medley", "cafe"}), 0) << err.str();
    EXPECT_NE(out.str().find("music\tfrom 1600 ms to 2000 ms, fading 500 ms\n"), std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("\n1\t0\t0.400000006\t27\t650 "), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find("\n2\t"), std::string::npos) << out.str();

    WriteUltraStar("plain", kSong, true);
    EXPECT_EQ(Run({"--medley", "plain"}), 1);
    EXPECT_NE(err.str().find("song.txt: 没有标出串烧段落"), std::string::npos) << err.str();
}

// Each role sings its part of a duet, each part placed in its own octave.
TEST_F(ShowCommand, EachRoleSingsItsPartOfADuet) {
    WriteUltraStar("duet",
                   "#TITLE:D\n#ARTIST:A\n#AUDIO:tone.ogg\n#BPM:300\n#GAP:0\nP1\n: 0 2 0 a\n"
                   "P2\n: 0 2 16 b\nE\n");
    ASSERT_EQ(Run({"--json", "duet"}), 0) << err.str();
    // Two beats: 0.1 s, M = 7, every value within the note. MIDI 60 is placed at 48.
    EXPECT_NE(out.str().find("\"values\":[600,600,600,600,600,600,600],\"lyrics\":[\"a\"]"),
              std::string::npos)
        << out.str();
    ASSERT_EQ(Run({"--json", "--role", "2", "duet"}), 0) << err.str();
    EXPECT_NE(out.str().find("\"values\":[640,640,640,640,640,640,640],\"lyrics\":[\"b\"]"),
              std::string::npos)
        << out.str();  // MIDI 76 placed at 52
}

TEST_F(ShowCommand, ANativeSongShowsTheUnitsItsLyricGivesEachLine) {
    const auto folder = testing_support::WriteSong(
        library.Path(), "native",
        {"3", "5 6 7", "5.03 6.06 7", {{1, "2 650 0"}, {2, "4 600 0 700 0"}}});
    WriteFile(folder / "Lyric", "\xB8\xE8 la \xC7\xFA");  // 歌 la 曲, code page 936
    ASSERT_EQ(Run({"--json", "native"}), 0) << err.str();
    EXPECT_NE(out.str().find("\"title\":\"native\""), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("\"lyrics\":[\"歌\"]},{\"start\":6,\"end\":6.05999994,"
                             "\"values\":[600,0,700,0],\"lyrics\":[\"la\",\"曲\"]}"),
              std::string::npos)
        << out.str();
}

TEST_F(ShowCommand, ABrokenSongNamesItsFileAndLine) {
    WriteUltraStar("broken", "#TITLE:X\n#MP3:tone.ogg\n#GAP:0\n#BPM:0\n: 0 2 0 a\nE\n");
    EXPECT_EQ(Run({"broken"}), 1);
    EXPECT_NE(err.str().find("broken/song.txt: 第 4 行"), std::string::npos) << err.str();
    EXPECT_TRUE(out.str().empty());
    EXPECT_EQ(Run({"../broken"}), 2);
    EXPECT_EQ(Run({"a", "b"}), 2);
}

}  // namespace
}  // namespace tools
