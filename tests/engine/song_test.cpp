#include "engine/song.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/songfolder.h"
#include "platform/messages.h"
#include "tests/support/songwriter.h"

namespace engine {
namespace {

using testing_support::SongFiles;
using testing_support::TemporaryFolder;
using testing_support::WriteSong;

// Five points, four lines; the fifth start and end time belong to no line.
SongFiles FiveLineSong() {
    return {"5",
            "1.0 4.5 9.25 14 20",
            "4.0 9.0 13.5 19 21",
            {{1, "3 600 610 0"}, {2, "2 700 0"}, {3, "4 612 615 0 0"}, {4, "0"}}};
}

class LoadSongTest : public ::testing::Test {
protected:
    std::shared_ptr<const CSong> Load(const std::string& name, bool medley = false) {
        return CSong::Load(SongFolderPath(library.Path().string(), medley, name), &problem);
    }
    static std::vector<int32_t> Records(const CSong& song) {
        return {song.Records(), song.Records() + song.RecordCells()};
    }
    static std::vector<float> Starts(const CSong& song) {
        std::vector<float> starts;
        for (int i = 0; i < song.Points(); ++i) starts.push_back(song.Start(i));
        return starts;
    }

    TemporaryFolder library;
    Problem problem;
    platform::MessageCapture messages;
};

TEST_F(LoadSongTest, FivePointsMakeFourLines) {
    WriteSong(library.Path(), "song", FiveLineSong());
    const auto song = Load("song");
    ASSERT_TRUE(song);
    ASSERT_EQ(song->Points(), 5);
    EXPECT_EQ(Starts(*song), (std::vector<float>{1.0f, 4.5f, 9.25f, 14.0f, 20.0f}));
    std::vector<float> ends;
    for (int i = 0; i < 5; ++i) ends.push_back(song->End(i));
    EXPECT_EQ(ends, (std::vector<float>{4.0f, 9.0f, 13.5f, 19.0f, 21.0f}));
    EXPECT_EQ((std::vector<int>{song->Count(0), song->Count(1), song->Count(2), song->Count(3)}),
              (std::vector<int>{3, 2, 4, 0}));
    // Line 2 comes from file "3": M = 4, then 612, 615, 0, 0; the last point's cell is 0.
    EXPECT_EQ(Records(*song),
              (std::vector<int32_t>{3, 600, 610, 0, 2, 700, 0, 4, 612, 615, 0, 0, 0, 0}));
}

TEST_F(LoadSongTest, AnyWhiteSpaceSeparatesNumbers) {
    SongFiles spread = FiveLineSong();
    spread.points = "\n  5\r\n";
    spread.starts = "1.0\t4.5\n\n9.25\r\n14\v20\n";
    spread.ends = "4.0\n9.0\t\t13.5 19\f21";
    spread.lines[3] = "4\n612\t615\n0\n\n0\n";
    WriteSong(library.Path(), "spread", spread);
    WriteSong(library.Path(), "flat", FiveLineSong());

    const auto flat = Load("flat");
    const auto spreadSong = Load("spread");
    ASSERT_TRUE(flat && spreadSong);
    EXPECT_EQ(Records(*spreadSong), Records(*flat));
    EXPECT_EQ(Starts(*spreadSong), Starts(*flat));
}

TEST_F(LoadSongTest, MedleySongsComeFromTheirOwnFolder) {
    SongFiles single = FiveLineSong();
    single.lines[1] = "1 500";
    WriteSong(library.Path(), "song", single);
    WriteSong(library.Path(), "song", FiveLineSong(), /*medley=*/true);
    EXPECT_EQ(Load("song", true)->Count(0), 3);
    EXPECT_EQ(Load("song", false)->Count(0), 1);
}

TEST_F(LoadSongTest, PathsAreRelativeToTheWorkingDirectoryByDefault) {
    WriteSong(library.Path(), "歌", FiveLineSong());
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(library.Path());
    const bool loaded = CSong::Load(SongFolderPath("", false, "歌"), &problem) != nullptr;
    std::filesystem::remove(library.Path() / "歌曲/单曲/歌/qidian");
    const bool loadedWithoutStarts =
        CSong::Load(SongFolderPath("", false, "歌"), &problem) != nullptr;
    std::filesystem::current_path(previous);

    EXPECT_TRUE(loaded);
    EXPECT_FALSE(loadedWithoutStarts);
    EXPECT_EQ(problem.strMessage, "歌曲数据文件“歌曲/单曲/歌/qidian”不存在。");
    EXPECT_EQ(problem.Describe(), "歌曲/单曲/歌/qidian: 不存在");
}

TEST_F(LoadSongTest, MissingLineFileGivesTheTemplateMessageAndReadsNoFurther) {
    SongFiles files = FiveLineSong();
    files.lines.erase(4);
    files.lines[5] = "not read";
    WriteSong(library.Path(), "song", files);
    EXPECT_FALSE(Load("song"));
    EXPECT_EQ(problem.strMessage, "模板数据为空，请重新录制！");
    EXPECT_EQ(problem.icon, platform::MessageIcon::Information);
    EXPECT_FALSE(problem.bBeep);
    EXPECT_EQ(problem.strFile, library.Path().string() + "/歌曲/单曲/song/4");
    EXPECT_EQ(problem.strProblem, "不存在（模板数据为空，请重新录制！）");
    // The problem comes back as a value: nothing is shown while loading.
    EXPECT_TRUE(messages.Messages().empty());
    problem.Show();
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"模板数据为空，请重新录制！"});
    EXPECT_EQ(messages.Beeps(), 0);
}

TEST_F(LoadSongTest, TheUnusedLastPointMayEndBeforeItStarts) {
    SongFiles files = FiveLineSong();
    files.ends = "4.0 9.0 13.5 19 3";
    WriteSong(library.Path(), "song", files);
    EXPECT_TRUE(Load("song"));
}

TEST_F(LoadSongTest, ALineLongerThanTheSungSequenceIsValid) {
    SongFiles files{"2", "0 40", "35 41", {{1, "2500"}}};
    for (int i = 0; i < 2500; ++i) files.lines[1] += " 650";
    WriteSong(library.Path(), "long", files);
    const auto song = Load("long");
    ASSERT_TRUE(song);
    EXPECT_EQ(song->Count(0), 2500);
    EXPECT_EQ(song->Records()[2500], 650);
}

// Each damaged song: which file is changed, what it holds, and the problem the message names.
struct DamagedSong {
    const char* name;
    const char* file;      // "断点", "qidian", "endpoint" or a line number
    const char* contents;  // nullptr: the file is removed; "/": it becomes a folder
    const char* problem;   // the message is "歌曲数据文件“<path>”" + problem + "。"
};

std::ostream& operator<<(std::ostream& out, const DamagedSong& song) { return out << song.name; }

class DamagedSongTest : public LoadSongTest, public ::testing::WithParamInterface<DamagedSong> {};

TEST_P(DamagedSongTest, IsRefusedWithAMessageNamingTheFile) {
    const DamagedSong& damage = GetParam();
    const auto folder = WriteSong(library.Path(), "song", FiveLineSong());
    const auto path = folder / damage.file;
    if (!damage.contents) {
        std::filesystem::remove(path);
    } else if (std::string(damage.contents) == "/") {
        std::filesystem::remove(path);
        std::filesystem::create_directory(path);
    } else {
        testing_support::WriteFile(path, damage.contents);
    }

    EXPECT_FALSE(Load("song"));
    EXPECT_EQ(problem.strMessage, "歌曲数据文件“" + path.string() + "”" + damage.problem + "。");
    EXPECT_EQ(problem.strFile, path.string());
    EXPECT_TRUE(messages.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadData, DamagedSongTest,
    ::testing::Values(
        DamagedSong{"PointsMissing", "断点", nullptr, "不存在"},
        DamagedSong{"StartsMissing", "qidian", nullptr, "不存在"},
        DamagedSong{"EndsAFolder", "endpoint", "/", "是一个文件夹，不是文件"},
        DamagedSong{"PointsEmpty", "断点", " \n", "是空的，应当写有点数"},
        DamagedSong{"PointsNotANumber", "断点", "five", "：点数“five”不是整数"},
        DamagedSong{"PointsFraction", "断点", "5.0", "：点数“5.0”不是整数"},
        DamagedSong{"PointsTooLarge", "断点", "99999999999", "：点数“99999999999”超出范围"},
        DamagedSong{"OnePoint", "断点", "1", "：点数为 1，至少要有 2 个点（一句歌词）"},
        DamagedSong{"NegativePoints", "断点", "-4", "：点数为 -4，至少要有 2 个点（一句歌词）"},
        DamagedSong{"FewerStarts", "qidian", "1 2 3", "：应有 5 个时间，只找到 3 个"},
        DamagedSong{"FewerEnds", "endpoint", "", "：应有 5 个时间，只找到 0 个"},
        DamagedSong{"StartWithUnit", "qidian", "1.0 4.5s 9 14 20", "：第 2 个时间“4.5s”不是数字"},
        DamagedSong{"StartNaN", "qidian", "nan 4.5 9 14 20", "：第 1 个时间“nan”不是数字"},
        DamagedSong{"EndHuge", "endpoint", "4 9 1e39 19 21", "：第 3 个时间“1e39”超出范围"},
        DamagedSong{"StartAfterEnd", "qidian", "1.0 9.5 9.25 14 20",
                    "：第 2 句的开始时间 9.5 秒晚于“endpoint”中的结束时间 9 秒"},
        DamagedSong{"LineEmpty", "2", "", "是空的，应当写有数值个数"},
        DamagedSong{"LineCountNegative", "2", "-2 700 0", "：开头的数值个数为 -2，不能为负数"},
        DamagedSong{"LineShort", "3", "4 612 615", "：应有 4 个音高数值，只找到 2 个"},
        DamagedSong{"LineValueText", "1", "3 600 6l0 0", "：第 2 个音高数值“6l0”不是整数"},
        DamagedSong{"LineValueNotUtf8", "1", "3 600 \xB0\xA1 0",
                    "：第 2 个音高数值一段内容不是整数"},
        DamagedSong{"LineValueOverflow", "1", "3 600 4294967296 0",
                    "：第 2 个音高数值“4294967296”超出范围"},
        DamagedSong{"LineValueNotAPitch", "4", "1 -200000",
                    "：第 1 个音高数值 -200000 超出范围（-100000 到 100000）"}),
    [](const auto& instance) { return std::string(instance.param.name); });

}  // namespace
}  // namespace engine
