#include "tools/quorvel-score/checkcommand.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/songwriter.h"

namespace tools {
namespace {

using testing_support::SongFiles;
using testing_support::WriteFile;
using testing_support::WriteSong;

SongFiles TwoLineSong() {
    return {"3", "0.5 4 8", "3.5 7.5 9", {{1, "2 650 0"}, {2, "3 700 0 710"}}};
}

const std::filesystem::path kMp3Folder = std::filesystem::path(QUORVEL_TEST_DATA) / "mp3";

class CheckCommand : public testing::Test {
protected:
    // A song folder with everything a session needs; the music (9.5 s) outlasts the last line.
    std::filesystem::path WriteSoundSong(const std::string& song, bool medley = false,
                                         const SongFiles& files = TwoLineSong()) {
        const auto folder = WriteSong(library.Path(), song, files, medley);
        SetMusic(folder, "quiet.mp3");
        WriteFile(folder / "Lyric", "\xB8\xE8 \xC7\xFA");  // code page 936
        return folder;
    }
    static void SetMusic(const std::filesystem::path& folder, const std::string& fixture) {
        std::filesystem::copy_file(kMp3Folder / fixture, folder / "music.mp3",
                                   std::filesystem::copy_options::overwrite_existing);
    }

    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--library", library.Path().string()});
        out.str("");
        err.str("");
        return RunCheckCommand(args, out, err);
    }

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    testing_support::TemporaryFolder library;
    std::ostringstream out, err;
};

TEST_F(CheckCommand, SoundSongsPrintNothing) {
    WriteSoundSong("one");
    const auto two = WriteSoundSong("two");
    WriteFile(two / "Lyric", "歌 曲");  // saved as UTF-8 on Linux: converted when loaded
    EXPECT_EQ(Run({"one", "two"}), 0);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "");
}

TEST_F(CheckCommand, EveryProblemOfEverySongGetsALine) {
    const auto one = WriteSoundSong("one");
    std::filesystem::remove(one / "music.mp3");
    WriteFile(one / "Lyric", "\xFF\xFF\xFF");
    const auto two = WriteSoundSong("two");
    WriteFile(two / "qidian", "0.5 4");
    std::filesystem::remove(two / "Lyric");
    const auto three = WriteSoundSong("three");
    std::filesystem::remove(three / "2");

    EXPECT_EQ(Run({"one", "two", "three", "four"}), 1);
    const std::string base = library.Path().string() + "/歌曲/单曲/";
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           base + "one/music.mp3: 不存在",
                           base + "one/Lyric: 既不是 GBK（代码页 936）文本，也不是 UTF-8 文本",
                           base + "two/qidian: 应有 3 个时间，只找到 2 个",
                           base + "two/Lyric: 不存在",
                           base + "three/2: 不存在（模板数据为空，请重新录制！）",
                           base + "four: 歌曲文件夹不存在",
                       }));
}

TEST_F(CheckCommand, MedleySongsAreLookedForInTheMedleyFolder) {
    WriteSoundSong("mixed", /*medley=*/true);
    EXPECT_EQ(Run({"--medley", "mixed"}), 0);
    EXPECT_EQ(Run({"mixed"}), 1);
    EXPECT_EQ(Lines(), std::vector<std::string>{library.Path().string() +
                                                "/歌曲/单曲/mixed: 歌曲文件夹不存在"});
}

TEST_F(CheckCommand, MusicThatCannotBeDecodedOrEndsBeforeTheLastLine) {
    // tone-440.mp3 lasts exactly 2 s.
    auto endingAt = [](const std::string& lastEnd) {
        return SongFiles{"3", "0.5 1 1.5", "0.9 " + lastEnd + " 9", TwoLineSong().lines};
    };
    SetMusic(WriteSoundSong("not-mp3"), "not-an-mp3.mp3");
    SetMusic(WriteSoundSong("short"), "tone-440.mp3");  // the last line ends at 7.5 s
    SetMusic(WriteSoundSong("just-over", false, endingAt("2.001")), "tone-440.mp3");
    SetMusic(WriteSoundSong("together", false, endingAt("2")), "tone-440.mp3");
    SetMusic(WriteSoundSong("broken-reference", false, {"3", "0.5 4 8", "3.5 7.5 9", {}}),
             "tone-440.mp3");

    EXPECT_EQ(Run({"not-mp3", "short", "just-over", "together", "broken-reference"}), 1);
    const std::string base = library.Path().string() + "/歌曲/单曲/";
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           base + "not-mp3/music.mp3: 不是 MP3 文件，找不到可以解码的音频",
                           base + "short/music.mp3: 伴奏长 2 秒，最后一句在 7.5 秒才结束",
                           base + "just-over/music.mp3: 伴奏长 2 秒，最后一句在 2.001 秒才结束",
                           base + "broken-reference/1: 不存在（模板数据为空，请重新录制！）",
                       }));
}

TEST_F(CheckCommand, EmptyFilesAndFoldersInPlaceOfFiles) {
    const auto folder = WriteSoundSong("song");
    WriteFile(folder / "music.mp3", "");
    std::filesystem::remove(folder / "Lyric");
    std::filesystem::create_directory(folder / "Lyric");
    EXPECT_EQ(Run({"song"}), 1);
    const std::string base = library.Path().string() + "/歌曲/单曲/song/";
    EXPECT_EQ(Lines(), (std::vector<std::string>{base + "music.mp3: 是空文件",
                                                 base + "Lyric: 是一个文件夹，不是文件"}));
}

TEST_F(CheckCommand, BadUsage) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"--medley"}, {"--fast", "song"}}) {
        std::ostringstream quietOut, usage;
        EXPECT_EQ(RunCheckCommand(args, quietOut, usage), 2);
        EXPECT_NE(usage.str().find("usage: quorvel-score check"), std::string::npos);
        EXPECT_EQ(quietOut.str(), "");
    }
    EXPECT_EQ(Run({"../elsewhere"}), 1);
    EXPECT_NE(out.str().find("歌曲名不能含有"), std::string::npos);
}

// UltraStar songs are checked as a session loads them: the text with its line numbers, each part
// a role sings, and the music the text names (1.5 s of OGG here).
TEST_F(CheckCommand, UltraStarSongsAreCheckedAsTheyAreSung) {
    const std::filesystem::path ogg = std::filesystem::path(QUORVEL_TEST_DATA) / "audio/tone.ogg";
    auto write = [&](const std::string& song, const std::string& text) {
        const auto folder = library.Path() / "歌曲" / "单曲" / song;
        WriteFile(folder / "notes.txt", text);
        std::filesystem::copy_file(ogg, folder / "tone.ogg");
        return folder;
    };
    const std::string head = "#TITLE:T\n#ARTIST:A\n#MP3:tone.ogg\n#BPM:300\n#GAP:0\n";
    write("sound", head + ": 0 4 0 la\n- 5\n: 6 4 2 li\nE\n");
    EXPECT_EQ(Run({"sound"}), 0) << out.str();
    EXPECT_TRUE(out.str().empty()) << out.str();

    // A third part is said, and is no problem; the second part is loaded for role 2.
    const auto trio = write("trio", head + "P1\n: 0 4 0 a\nP2\n: 0 4 3 b\nP3\n: 0 4 7 c\nE\n");
    EXPECT_EQ(Run({"trio"}), 0) << out.str();
    EXPECT_EQ(Lines(), std::vector<std::string>{(trio / "notes.txt").string() +
                                                ": 第 3 声部（P3）不会被演唱：只唱第 1、2 声部"});

    const auto late = write("late", head + ": 0 40 0 la\nE\n");  // ends at 2 s
    const auto broken = write("broken", "#TITLE:T\n#MP3:tone.ogg\n#BPM:0\n: 0 4 0 la\nE\n");
    const auto noMusic = library.Path() / "歌曲" / "单曲" / "nomusic";
    WriteFile(noMusic / "a.txt", head + ": 0 4 0 la\nE\n");
    EXPECT_EQ(Run({"late", "broken", "nomusic"}), 1);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 3u) << out.str();
    EXPECT_EQ(lines[0], (late / "tone.ogg").string() + ": 伴奏长 1.5 秒，最后一句在 2 秒才结束");
    EXPECT_TRUE(lines[1].starts_with((broken / "notes.txt").string() + ": 第 3 行")) << lines[1];
    EXPECT_TRUE(lines[2].starts_with((noMusic / "a.txt").string() + ": 所写的伴奏文件"))
        << lines[2];
}

// The UltraStar files of tests/data/ultrastar as a library: a song that can be sung passes with
// each remark on a line of its own, one that cannot is a problem.
TEST_F(CheckCommand, UltraStarOdditiesAreRemarksUnlessTheSongCannotBeSung) {
    const std::filesystem::path data = std::filesystem::path(QUORVEL_TEST_DATA) / "ultrastar";
    std::filesystem::create_directories(library.Path() / "歌曲");
    std::filesystem::copy(data, library.Path() / "歌曲" / "单曲",
                          std::filesystem::copy_options::recursive);
    struct Case {
        const char* song;
        int nStatus;
        std::size_t nLines;
    };
    const Case cases[] = {
        {"breaks", 0, 0},
        {"windows-line-ends", 0, 0},
        {"byte-order-marks", 0, 0},
        {"midi-pitches", 0, 0},
        {"overlapping-notes", 0, 3},
        {"short-notes", 0, 2},
        {"duplicate-headers", 0, 2},
        {"late-headers", 0, 2},
        {"version-unreadable", 0, 1},
        {"audio-name-case", 0, 1},
        {"extra-parts", 0, 4},
        {"unreadable-lines", 0, 4},
        {"undeclared-koi8-r", 0, 1},
        {"undeclared-shift-jis", 0, 1},
        {"no-bpm", 1, 1},
        {"zero-bpm", 1, 1},
        {"empty-second-part", 1, 1},
        {"no-audio", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.song);
        EXPECT_EQ(Run({c.song}), c.nStatus) << out.str();
        const std::vector<std::string> lines = Lines();
        EXPECT_EQ(lines.size(), c.nLines) << out.str();
        const std::string text = (library.Path() / "歌曲" / "单曲" / c.song / c.song).string();
        for (const std::string& line : lines) EXPECT_EQ(line.rfind(text + ".txt: ", 0), 0u) << line;
    }
    // Remarks and problems of several songs together: the problems decide.
    EXPECT_EQ(Run({"short-notes", "no-bpm", "breaks"}), 1);
    EXPECT_EQ(Lines().size(), 3u);
}

}  // namespace
}  // namespace tools
