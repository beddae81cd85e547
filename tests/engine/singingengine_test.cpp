#include "engine/singingengine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/messages.h"
#include "tests/support/songwriter.h"

namespace engine {
namespace {

using testing_support::SongFiles;
using testing_support::TemporaryFolder;
using testing_support::WriteSong;

class RecordingView : public CNullEngineView {
public:
    void SetGradeText(const std::string& text) override { grades.push_back(text); }
    std::vector<std::string> grades;
};

// Five points, four lines; the fifth start and end time belong to no line.
SongFiles FiveLineSong() {
    return {"5",
            "1.0 4.5 9.25 14 20",
            "4.0 9.0 13.5 19 21",
            {{1, "3 600 610 0"}, {2, "2 700 0"}, {3, "4 612 615 0 0"}, {4, "0"}}};
}

class LoadReferenceTest : public ::testing::Test {
protected:
    LoadReferenceTest() : engine(view) { engine.SetLibraryFolder(library.Path().string()); }

    // The N − 1 line records, each its count followed by its values.
    std::vector<int32_t> Reference() const {
        int cells = engine.m_nPoints - 1;
        for (int i = 0; i + 1 < engine.m_nPoints; ++i) cells += engine.m_pLineCounts[i];
        return {engine.m_pReference, engine.m_pReference + cells};
    }

    void ExpectNothingHeld() const {
        EXPECT_EQ(engine.m_nPoints, 0);
        EXPECT_EQ(engine.m_pStartTimes, nullptr);
        EXPECT_EQ(engine.m_pEndTimes, nullptr);
        EXPECT_EQ(engine.m_pLineSamples, nullptr);
        EXPECT_EQ(engine.m_pLineCounts, nullptr);
        EXPECT_EQ(engine.m_pReference, nullptr);
        EXPECT_EQ(engine.m_pRefRecord, nullptr);
        EXPECT_EQ(engine.m_pPitch, nullptr);
        EXPECT_EQ(engine.m_pSung, nullptr);
    }

    TemporaryFolder library;
    RecordingView view;
    CSingingEngine engine;
    platform::MessageCapture messages;
};

TEST_F(LoadReferenceTest, FivePointsMakeFourLines) {
    WriteSong(library.Path(), "song", FiveLineSong());
    ASSERT_TRUE(engine.LoadReference("song"));
    EXPECT_TRUE(messages.Messages().empty());

    ASSERT_EQ(engine.m_nPoints, 5);
    EXPECT_EQ(std::vector<float>(engine.m_pStartTimes, engine.m_pStartTimes + 5),
              (std::vector<float>{1.0f, 4.5f, 9.25f, 14.0f, 20.0f}));
    EXPECT_EQ(std::vector<float>(engine.m_pEndTimes, engine.m_pEndTimes + 5),
              (std::vector<float>{4.0f, 9.0f, 13.5f, 19.0f, 21.0f}));
    EXPECT_EQ(std::vector<int>(engine.m_pLineCounts, engine.m_pLineCounts + 4),
              (std::vector<int>{3, 2, 4, 0}));
    // Line 2 comes from file "3": M = 4, then 612, 615, 0, 0.
    EXPECT_EQ(Reference(), (std::vector<int32_t>{3, 600, 610, 0, 2, 700, 0, 4, 612, 615, 0, 0, 0}));
    EXPECT_EQ(engine.m_pRefRecord, engine.m_pReference);
}

TEST_F(LoadReferenceTest, WorkingArraysStartZeroed) {
    WriteSong(library.Path(), "song", FiveLineSong());
    ASSERT_TRUE(engine.LoadReference("song"));
    EXPECT_TRUE(std::all_of(engine.m_pPitch, engine.m_pPitch + kPitchCapacity,
                            [](int32_t v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(engine.m_pSung, engine.m_pSung + kSungCapacity,
                            [](int32_t v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(engine.m_pLineSamples, engine.m_pLineSamples + 5,
                            [](int v) { return v == 0; }));
}

TEST_F(LoadReferenceTest, AnyWhiteSpaceSeparatesNumbers) {
    SongFiles spread = FiveLineSong();
    spread.points = "\n  5\r\n";
    spread.starts = "1.0\t4.5\n\n9.25\r\n14\v20\n";
    spread.ends = "4.0\n9.0\t\t13.5 19\f21";
    spread.lines[3] = "4\n612\t615\n0\n\n0\n";
    WriteSong(library.Path(), "spread", spread);
    WriteSong(library.Path(), "flat", FiveLineSong());

    ASSERT_TRUE(engine.LoadReference("flat"));
    const std::vector<int32_t> flat = Reference();
    const std::vector<float> flatStarts(engine.m_pStartTimes, engine.m_pStartTimes + 5);
    ASSERT_TRUE(engine.LoadReference("spread"));
    EXPECT_EQ(Reference(), flat);
    EXPECT_EQ(std::vector<float>(engine.m_pStartTimes, engine.m_pStartTimes + 5), flatStarts);
}

TEST_F(LoadReferenceTest, MedleySongsComeFromTheirOwnFolder) {
    SongFiles single = FiveLineSong();
    single.lines[1] = "1 500";
    WriteSong(library.Path(), "song", single);
    WriteSong(library.Path(), "song", FiveLineSong(), /*medley=*/true);
    engine.m_bMedley = 1;
    ASSERT_TRUE(engine.LoadReference("song"));
    EXPECT_EQ(engine.m_pLineCounts[0], 3);
    engine.m_bMedley = 0;
    ASSERT_TRUE(engine.LoadReference("song"));
    EXPECT_EQ(engine.m_pLineCounts[0], 1);
}

TEST_F(LoadReferenceTest, PathsAreRelativeToTheWorkingDirectoryByDefault) {
    WriteSong(library.Path(), "歌", FiveLineSong());
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(library.Path());
    CSingingEngine local(view);
    const bool loaded = local.LoadReference("歌");
    std::filesystem::remove(library.Path() / "歌曲/单曲/歌/qidian");
    const bool loadedWithoutStarts = local.LoadReference("歌");
    std::filesystem::current_path(previous);

    EXPECT_TRUE(loaded);
    EXPECT_FALSE(loadedWithoutStarts);
    EXPECT_EQ(local.SongFolder("歌"), "歌曲/单曲/歌");
    EXPECT_EQ(messages.Messages(),
              std::vector<std::string>{"歌曲数据文件“歌曲/单曲/歌/qidian”不存在。"});
}

TEST_F(LoadReferenceTest, MissingLineFileShowsTheTemplateMessageAndReadsNoFurther) {
    SongFiles files = FiveLineSong();
    files.lines.erase(4);
    files.lines[5] = "not read";
    WriteSong(library.Path(), "song", files);
    EXPECT_FALSE(engine.LoadReference("song"));
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"模板数据为空，请重新录制！"});
    EXPECT_EQ(messages.Beeps(), 0);
    EXPECT_EQ(engine.LoadProblemFile(), library.Path().string() + "/歌曲/单曲/song/4");
    EXPECT_EQ(engine.LoadProblem(), "不存在（模板数据为空，请重新录制！）");
    ExpectNothingHeld();
}

TEST_F(LoadReferenceTest, FailureAfterASongReleasesThatSongToo) {
    WriteSong(library.Path(), "good", FiveLineSong());
    SongFiles bad = FiveLineSong();
    bad.lines[2] = "2 700";
    WriteSong(library.Path(), "bad", bad);
    ASSERT_TRUE(engine.LoadReference("good"));
    EXPECT_FALSE(engine.LoadReference("bad"));
    ExpectNothingHeld();
    ASSERT_TRUE(engine.LoadReference("good"));  // and a good song loads again afterwards
    EXPECT_EQ(engine.m_nPoints, 5);
}

TEST_F(LoadReferenceTest, FreeReferenceKeepsOnlyTheLineCounts) {
    WriteSong(library.Path(), "song", FiveLineSong());
    ASSERT_TRUE(engine.LoadReference("song"));
    engine.m_pRefRecord += 4;
    engine.FreeReference();
    EXPECT_EQ(engine.m_pStartTimes, nullptr);
    EXPECT_EQ(engine.m_pEndTimes, nullptr);
    EXPECT_EQ(engine.m_pLineSamples, nullptr);
    EXPECT_EQ(engine.m_pReference, nullptr);
    EXPECT_EQ(engine.m_pRefRecord, nullptr);
    EXPECT_EQ(engine.m_pPitch, nullptr);
    EXPECT_EQ(engine.m_pSung, nullptr);
    ASSERT_NE(engine.m_pLineCounts, nullptr);
    EXPECT_EQ(engine.m_pLineCounts[2], 4);
    engine.FreeReference();  // twice is harmless
}

TEST_F(LoadReferenceTest, TheUnusedLastPointMayEndBeforeItStarts) {
    SongFiles files = FiveLineSong();
    files.ends = "4.0 9.0 13.5 19 3";
    WriteSong(library.Path(), "song", files);
    EXPECT_TRUE(engine.LoadReference("song"));
}

TEST_F(LoadReferenceTest, ALineLongerThanTheSungSequenceIsValid) {
    SongFiles files{"2", "0 40", "35 41", {{1, "2500"}}};
    for (int i = 0; i < 2500; ++i) files.lines[1] += " 650";
    WriteSong(library.Path(), "long", files);
    ASSERT_TRUE(engine.LoadReference("long"));
    EXPECT_EQ(engine.m_pLineCounts[0], 2500);
    EXPECT_EQ(engine.m_pReference[2500], 650);
}

// Each damaged song: which file is changed, what it holds, and the problem the message names.
struct DamagedSong {
    const char* name;
    const char* file;      // "断点", "qidian", "endpoint" or a line number
    const char* contents;  // nullptr: the file is removed; "/": it becomes a folder
    const char* problem;   // the message is "歌曲数据文件“<path>”" + problem + "。"
};

std::ostream& operator<<(std::ostream& out, const DamagedSong& song) { return out << song.name; }

class DamagedSongTest : public LoadReferenceTest,
                        public ::testing::WithParamInterface<DamagedSong> {};

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

    EXPECT_FALSE(engine.LoadReference("song"));
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"歌曲数据文件“" + path.string() + "”" +
                                                            damage.problem + "。"});
    EXPECT_EQ(engine.LoadProblemFile(), path.string());
    ExpectNothingHeld();
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
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShowGrade, ShowsTheWordAndReturnsTheScore) {
    RecordingView view;
    CSingingEngine engine(view);
    EXPECT_EQ(engine.ShowGrade(91.0f), 91.0f);
    EXPECT_EQ(engine.ShowGrade(84.99f), 84.99f);
    EXPECT_EQ(engine.ShowGrade(19.99f), 19.99f);
    EXPECT_EQ(view.grades, (std::vector<std::string>{"Perfect", "Great", "Miss"}));
}

}  // namespace
}  // namespace engine
