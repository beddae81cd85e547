#include "engine/histogrammodel.h"
#include "engine/pitchcompare.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/messages.h"
#include "tests/support/songwriter.h"

namespace engine {
namespace {

using testing_support::TemporaryFolder;
using testing_support::WriteFile;

constexpr int kWidth = 800;  // the main dialog's display band
constexpr int kHeight = 110;
constexpr int kLyricTop = 3 * kHeight / 4;
constexpr int kFeedX = kWidth - 30;  // base x of a lyric unit on a tick that drew a dot

// Code page 936 bytes of 歌, 曲 and 乐.
const std::string kGe = "\xB8\xE8";
const std::string kQu = "\xC7\xFA";
const std::string kLe = "\xC0\xD6";

// A song in arrays of exactly the size the data has (the records without the engine's trailing
// cell), so that AddressSanitizer reports any read past them.
struct Song {
    Song(const std::vector<std::vector<int32_t>>& lines, float start, float end)
        : points(static_cast<int>(lines.size()) + 1), starts(points, start), ends(points, end) {
        for (const auto& values : lines) {
            blocks.push_back(static_cast<int32_t>(values.size()));
            blocks.insert(blocks.end(), values.begin(), values.end());
            counts.push_back(static_cast<int>(values.size()));
        }
        counts.push_back(0);
        blocks.shrink_to_fit();
        counts.shrink_to_fit();
    }
    int points;
    std::vector<float> starts, ends;
    std::vector<int32_t> blocks;
    std::vector<int> counts;
};

class HistogramModelTest : public ::testing::Test {
protected:
    HistogramModelTest() {
        model.SetLibraryFolder(library.Path().string());
        model.Restart();
    }

    void Use(const Song& song) {
        model.SetReferenceData(song.blocks.data(), song.starts.data(), song.ends.data(),
                               song.points);
        model.SetLineCounts(song.counts.data());
    }

    void LoadLyric(const std::string& bytes) {
        WriteFile(library.Path() / "歌曲" / "单曲" / "song" / "Lyric", bytes);
        ASSERT_TRUE(model.LoadLyrics("song", false));
    }

    std::vector<HistogramTick> Run(int ticks) {
        std::vector<HistogramTick> out;
        for (int i = 0; i < ticks; ++i) out.push_back(model.Tick());
        return out;
    }

    static std::vector<std::string> Units(const std::vector<HistogramTick>& ticks) {
        std::vector<std::string> units;
        for (const HistogramTick& tick : ticks)
            if (tick.bLyric) units.push_back(tick.strLyric);
        return units;
    }

    TemporaryFolder library;
    platform::MessageCapture messages;
    CHistogramModel model{kWidth, kHeight};
};

struct MappingCase {
    int value;
    int height;
    int y;
};
void PrintTo(const MappingCase& c, std::ostream* out) {
    *out << c.value << " at height " << c.height;
}

class HistogramDisplayYTest : public ::testing::TestWithParam<MappingCase> {};

TEST_P(HistogramDisplayYTest, UsesAWholeThirdOfTheHeight) {
    EXPECT_EQ(DisplayY(GetParam().value, GetParam().height), GetParam().y);
}

INSTANTIATE_TEST_SUITE_P(WorkedNumbers, HistogramDisplayYTest,
                         ::testing::Values(MappingCase{800, 110, 36}, MappingCase{1000, 110, 0},
                                           MappingCase{0, 110,
                                                       180},  // silence lies below the display
                                           MappingCase{610, 110, 70},  // (36 − 21.96) × 5 = 70.2
                                           MappingCase{0, 100, 165},   // A = 33
                                           MappingCase{1250, 110, -45}));

TEST_F(HistogramModelTest, LeadOfTheMainDisplay) {
    EXPECT_FLOAT_EQ(model.LeadTicks(), 250.0f);
    EXPECT_FLOAT_EQ(model.LeadSeconds(), 3.875f);
}

struct WindowCase {
    const char* name;
    float time;
    bool fed;
};
void PrintTo(const WindowCase& c, std::ostream* out) { *out << c.name; }

class HistogramFeedWindowTest : public HistogramModelTest,
                                public ::testing::WithParamInterface<WindowCase> {};

// The line's window runs from 10 s less the lead (3.875 s) to 20 s, both ends included.
TEST_P(HistogramFeedWindowTest, FeedsOnlyInsideTheLineWindow) {
    const Song song({{600, 610, 620, 630, 0}, {0}}, 10.0f, 20.0f);
    Use(song);
    model.SetPlaybackTime(GetParam().time);
    for (const HistogramTick& tick : Run(3)) EXPECT_EQ(tick.bDot, GetParam().fed);
    EXPECT_EQ(model.FramesFed(), GetParam().fed ? 3 : 0);
}

INSTANTIATE_TEST_SUITE_P(Times, HistogramFeedWindowTest,
                         ::testing::Values(WindowCase{"BeforeEveryLine", 0.0f, false},
                                           WindowCase{"JustBeforeTheLead", 6.12f, false},
                                           WindowCase{"AtTheLead", 6.125f, true},
                                           WindowCase{"AtTheEnd", 20.0f, true},
                                           WindowCase{"AfterTheEnd", 20.01f, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HistogramModelTest, LineBeforeTheLastStopsBeforeItsFinalValue) {
    const Song song({{0, 600, 600, 0}, {700, 0}}, 0.0f, 100.0f);
    Use(song);
    LoadLyric(kGe + kQu);
    model.SetPlaybackTime(1.0f);

    const std::vector<HistogramTick> ticks = Run(4);
    std::vector<int> values;
    for (const HistogramTick& tick : ticks) {
        ASSERT_TRUE(tick.bDot);
        EXPECT_EQ(tick.nDotX, kWidth - 50);
        EXPECT_EQ(tick.nDotY, DisplayY(tick.nDotValue, kHeight));
        values.push_back(tick.nDotValue);
    }
    EXPECT_EQ(values, (std::vector<int>{0, 600, 600, 700}));  // the final 0 of line 0 is skipped

    EXPECT_FALSE(ticks[0].bLyric);
    ASSERT_TRUE(ticks[1].bLyric);  // the note 600 600 ends with the next value: k = 3
    EXPECT_EQ(ticks[1].strLyric, kGe);
    EXPECT_EQ(ticks[1].nLyricX, kFeedX - 3 * 3 - 10);
    EXPECT_EQ(ticks[1].nLyricY, kLyricTop);
    // Line 1's first note ends next; its length counts from the line's start again: k = 1.
    ASSERT_TRUE(ticks[2].bLyric);
    EXPECT_EQ(ticks[2].strLyric, kQu);
    EXPECT_EQ(ticks[2].nLyricX, kFeedX - 3 * 1 - 10);
    EXPECT_EQ(model.FeedLine(), 1);
    EXPECT_EQ(model.FramesFed(), 4);
}

TEST_F(HistogramModelTest, LastLineDrawsEveryValueThenStaysOnItsEnd) {
    const Song song({{600, 0}, {500, 700}}, 0.0f, 100.0f);
    Use(song);
    model.SetPlaybackTime(1.0f);

    std::vector<int> values;
    for (const HistogramTick& tick : Run(6)) {
        ASSERT_TRUE(tick.bDot);
        values.push_back(tick.nDotValue);
    }
    EXPECT_EQ(values, (std::vector<int>{600, 500, 700, 0, 0, 0}));
    EXPECT_EQ(model.FeedLine(), 1);
    EXPECT_EQ(model.FramesFed(), 6);
}

TEST_F(HistogramModelTest, UnitChosenWithoutADotStartsAtTheLeftEdge) {
    const Song song({{600, 0}, {0, 0}}, 50.0f, 60.0f);
    Use(song);
    LoadLyric(kGe + kQu);
    // Before the window the feed stays on the note, so each tick takes the next unit.
    const std::vector<HistogramTick> ticks = Run(2);
    ASSERT_TRUE(ticks[0].bLyric && ticks[1].bLyric);
    EXPECT_FALSE(ticks[0].bDot || ticks[1].bDot);
    EXPECT_EQ(ticks[0].strLyric, kGe);
    EXPECT_EQ(ticks[0].nLyricX, -3 * 1 - 10);
    EXPECT_EQ(ticks[1].strLyric, kQu);
    EXPECT_EQ(ticks[1].nLyricX, -3 * 25 - 10);  // the same note ends again: k = 0 becomes 25
}

struct LyricCase {
    const char* name;
    std::string file;
    std::vector<std::string> units;
};
void PrintTo(const LyricCase& c, std::ostream* out) { *out << c.name; }

class HistogramLyricUnitTest : public HistogramModelTest,
                               public ::testing::WithParamInterface<LyricCase> {};

// Six notes of two values each, every one followed by a silent value.
TEST_P(HistogramLyricUnitTest, EachNoteTakesTheNextUnit) {
    const Song song(
        {{600, 600, 0, 610, 610, 0, 620, 620, 0, 630, 630, 0, 640, 640, 0, 650, 650, 0}}, 0.0f,
        100.0f);
    Use(song);
    LoadLyric(GetParam().file);
    EXPECT_TRUE(messages.Messages().empty());
    model.SetPlaybackTime(1.0f);

    const std::vector<HistogramTick> ticks = Run(18);
    EXPECT_EQ(Units(ticks), GetParam().units);
    for (const HistogramTick& tick : ticks) {
        if (!tick.bLyric) continue;
        EXPECT_EQ(tick.nLyricX, kFeedX - 3 * 2 - 10);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HistogramLyricUnitTest,
    ::testing::Values(
        LyricCase{
            "WordBetweenCharacters", kGe + kQu + " ok " + kLe, {kGe, kQu, "ok", kLe, kLe, kLe}},
        LyricCase{"ShortLyricRepeatsItsLastCharacter", kGe + kQu, {kGe, kQu, kQu, kQu, kQu, kQu}},
        LyricCase{"TwoWordsInARow", kGe + " ab cd " + kQu, {kGe, "ab", "cd", kQu, kQu, kQu}},
        LyricCase{"WordWithoutClosingSpaceUsesUpTheText",
                  kGe + " okay",
                  {kGe, "okay", "ay", "ay", "ay", "ay"}},
        LyricCase{"SpaceAsTheFirstByteOpensNoWord", " ok ", {" o", "k ", "k ", "k ", "k ", "k "}},
        LyricCase{"LineBreaksRunTogether",
                  kGe + "\r\n" + kQu + "\n" + kLe,
                  {kGe, kQu, kLe, kLe, kLe, kLe}},
        LyricCase{"ZeroByteEndsTheText",
                  kGe + kQu + std::string(1, '\0') + kLe,
                  {kGe, kQu, kQu, kQu, kQu, kQu}},
        LyricCase{"Utf8IsConvertedToGbk", "歌曲 ok 乐", {kGe, kQu, "ok", kLe, kLe, kLe}},
        LyricCase{"OnlyLineBreaksDrawNothing", "\r\n\r\n", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HistogramModelTest, EmptyLyricFileIsReportedAndDrawsNoText) {
    const Song song({{600, 0, 610, 0, 620, 0}}, 0.0f, 100.0f);
    Use(song);
    WriteFile(library.Path() / "歌曲" / "单曲" / "song" / "Lyric", "");
    EXPECT_TRUE(model.LoadLyrics("song", false));
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"文件为空!"});
    model.SetPlaybackTime(1.0f);
    EXPECT_TRUE(Units(Run(8)).empty());
}

TEST_F(HistogramModelTest, EmptySongNameChangesNothing) {
    const Song song({{600, 0, 610, 0, 620, 0}}, 0.0f, 100.0f);
    Use(song);
    LoadLyric(kGe + kQu + kLe);
    model.SetPlaybackTime(1.0f);
    EXPECT_EQ(Units(Run(2)), std::vector<std::string>{kGe});

    EXPECT_FALSE(model.LoadLyrics("", false));
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"请打开歌曲列表，选择要演唱的曲目"});
    EXPECT_EQ(Units(Run(2)), std::vector<std::string>{kQu});  // not back at the first character
}

TEST_F(HistogramModelTest, LyricStartsOverOnRestartAndOnLoad) {
    const Song song({{600, 0, 610, 0, 620, 0, 630, 0, 640, 0}}, 0.0f, 100.0f);
    Use(song);
    LoadLyric(kGe + " ok " + kQu);
    model.SetPlaybackTime(1.0f);
    EXPECT_EQ(Units(Run(4)), (std::vector<std::string>{kGe, "ok"}));

    LoadLyric(kLe + " ab " + kQu);  // the word search starts over too
    EXPECT_EQ(Units(Run(4)), (std::vector<std::string>{kLe, "ab"}));
    model.Restart();
    model.SetPlaybackTime(1.0f);
    EXPECT_EQ(Units(Run(2)), std::vector<std::string>{kLe});
}

TEST_F(HistogramModelTest, MedleySongsComeFromTheMedleyFolder) {
    WriteFile(library.Path() / "歌曲" / "单曲" / "song" / "Lyric", kGe);
    WriteFile(library.Path() / "歌曲" / "串烧歌曲" / "song" / "Lyric", kLe);
    ASSERT_TRUE(model.LoadLyrics("song", true));
    EXPECT_EQ(model.Lyric(), kLe);
    ASSERT_TRUE(model.LoadLyrics("song", false));
    EXPECT_EQ(model.Lyric(), kGe);
}

struct ProblemCase {
    const char* name;
    void (*prepare)(const std::filesystem::path& singleFolder);
    bool medley;
    const char* shownFolder;  // below the library
    const char* problem;
};
void PrintTo(const ProblemCase& c, std::ostream* out) { *out << c.name; }

class HistogramLyricProblemTest : public HistogramModelTest,
                                  public ::testing::WithParamInterface<ProblemCase> {};

TEST_P(HistogramLyricProblemTest, NamesTheFileAndLeavesNoLyric) {
    const Song song({{600, 0, 610, 0}}, 0.0f, 100.0f);
    Use(song);
    LoadLyric(kGe + kQu);  // the previous song's lyric must not stay
    std::filesystem::remove(library.Path() / "歌曲" / "单曲" / "song" / "Lyric");
    GetParam().prepare(library.Path() / "歌曲" / "单曲" / "song");

    EXPECT_FALSE(model.LoadLyrics("song", GetParam().medley));
    const std::string file =
        library.Path().string() + "/歌曲/" + GetParam().shownFolder + "/song/Lyric";
    EXPECT_EQ(messages.Messages(),
              std::vector<std::string>{"歌词文件“" + file + "”" + GetParam().problem + "。"});
    EXPECT_TRUE(model.Lyric().empty());
    model.SetPlaybackTime(1.0f);
    EXPECT_TRUE(Units(Run(6)).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, HistogramLyricProblemTest,
    ::testing::Values(
        ProblemCase{"Missing", [](const std::filesystem::path&) {}, false, "单曲", "不存在"},
        ProblemCase{"MissingInTheMedleyFolder",
                    [](const std::filesystem::path& folder) { WriteFile(folder / "Lyric", "ok"); },
                    true, "串烧歌曲", "不存在"},
        ProblemCase{"AFolder",
                    [](const std::filesystem::path& folder) {
                        std::filesystem::create_directories(folder / "Lyric");
                    },
                    false, "单曲", "是一个文件夹，不是文件"},
        ProblemCase{"NeitherGbkNorUtf8",
                    [](const std::filesystem::path& folder) {
                        WriteFile(folder / "Lyric", "ok\xFF\xFE\x80");
                    },
                    false, "单曲", "既不是 GBK（代码页 936）文本，也不是 UTF-8 文本"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HistogramModelPathTest, WorkingDirectoryLibraryNamesTheRelativePath) {
    platform::MessageCapture messages;
    CHistogramModel model(kWidth, kHeight);
    EXPECT_FALSE(model.LoadLyrics("no song by this name", false));
    EXPECT_EQ(messages.Messages(),
              std::vector<std::string>{"歌词文件“歌曲/单曲/no song by this name/Lyric”不存在。"});
}

struct NoLineCase {
    const char* name;
    bool onePoint;  // N = 1 instead of no reference data at all
};
void PrintTo(const NoLineCase& c, std::ostream* out) { *out << c.name; }

class HistogramNoLineTest : public HistogramModelTest,
                            public ::testing::WithParamInterface<NoLineCase> {};

// Arrays of no element: AddressSanitizer reports any read of a value, a time or a count.
TEST_P(HistogramNoLineTest, DrawsOnlyTheMarkerAndTheStrip) {
    const auto blocks = std::make_unique<int32_t[]>(0);
    const auto starts = std::make_unique<float[]>(0);
    const auto ends = std::make_unique<float[]>(0);
    const auto counts = std::make_unique<int[]>(0);
    if (GetParam().onePoint) {
        model.SetReferenceData(blocks.get(), starts.get(), ends.get(), 1);
        model.SetLineCounts(counts.get());
    }
    model.SetPlaybackTime(1.0f);

    const std::vector<HistogramTick> ticks = Run(4);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_FALSE(ticks[i].bDot);
        EXPECT_FALSE(ticks[i].bLyric);
        EXPECT_EQ(ticks[i].nMarkerY, 80);
        EXPECT_EQ(ticks[i].pen, MarkerPen::Far);
        EXPECT_EQ(ticks[i].bStrip, i > 0);
    }
    EXPECT_EQ(model.FramesFed(), 0);
    EXPECT_EQ(model.FeedLine(), 0);
    EXPECT_EQ(model.MarkerLine(), 0);
}

INSTANTIATE_TEST_SUITE_P(Songs, HistogramNoLineTest,
                         ::testing::Values(NoLineCase{"NoReferenceData", false},
                                           NoLineCase{"OnePoint", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HistogramModelTest, MarkerIsFarAfterRestartUntilTheFirstPitch) {
    EXPECT_EQ(model.Tick().pen, MarkerPen::Far);
    model.SetPitchMarker(30, 0, 1, 0);
    const HistogramTick hit = model.Tick();
    EXPECT_EQ(hit.pen, MarkerPen::Hit);
    EXPECT_EQ(hit.nMarkerY, 30);
    model.Restart();
    const HistogramTick restarted = model.Tick();
    EXPECT_EQ(restarted.pen, MarkerPen::Far);
    EXPECT_EQ(restarted.nMarkerY, 80);
    EXPECT_FALSE(restarted.bStrip);
}

struct PenCase {
    int nearFlag, hitFlag, farFlag;
    MarkerPen pen;
};
void PrintTo(const PenCase& c, std::ostream* out) {
    *out << "near " << c.nearFlag << " hit " << c.hitFlag << " far " << c.farFlag;
}

class HistogramMarkerPenTest : public HistogramModelTest,
                               public ::testing::WithParamInterface<PenCase> {};

TEST_P(HistogramMarkerPenTest, FarBeatsHitBeatsNear) {
    const PenCase& c = GetParam();
    model.SetPitchMarker(44, c.nearFlag, c.hitFlag, c.farFlag);
    EXPECT_EQ(model.Tick().pen, c.pen);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, HistogramMarkerPenTest,
    ::testing::Values(PenCase{0, 0, 0, MarkerPen::Reference}, PenCase{1, 0, 0, MarkerPen::Near},
                      PenCase{0, 1, 0, MarkerPen::Hit}, PenCase{0, 0, 1, MarkerPen::Far},
                      PenCase{1, 1, 0, MarkerPen::Hit}, PenCase{1, 0, 1, MarkerPen::Far},
                      PenCase{0, 1, 1, MarkerPen::Far}, PenCase{1, 1, 1, MarkerPen::Far}));

struct MarkerLineCase {
    const char* name;
    bool giveCounts;
    std::vector<int> counts;  // what the main window holds; the records have 3, 2 and 4 values
};
void PrintTo(const MarkerLineCase& c, std::ostream* out) { *out << c.name; }

class HistogramMarkerLineTest : public HistogramModelTest,
                                public ::testing::WithParamInterface<MarkerLineCase> {};

// Every tick draws a dot, so FramesFed counts ticks until the marker line changes: once it has
// passed the lead (250) plus the marker line's frames it drops back to 250.
TEST_P(HistogramMarkerLineTest, ChangesWhenTheLineHasPassedTheMarker) {
    const Song song({{600, 610, 620}, {630, 640}, {650, 660, 670, 680}}, 0.0f, 1000.0f);
    model.SetReferenceData(song.blocks.data(), song.starts.data(), song.ends.data(), song.points);
    if (GetParam().giveCounts) model.SetLineCounts(GetParam().counts.data());
    model.SetPlaybackTime(1.0f);

    const std::vector<int>& counts = GetParam().counts;
    int expectedLine = 0;
    int expectedFed = 0;
    for (int tick = 1; tick <= 250 + counts[0] + counts[1] + 2 * counts[2]; ++tick) {
        ASSERT_TRUE(model.Tick().bDot);
        if (++expectedFed - 250 >= counts[expectedLine]) {
            expectedFed = 250;
            if (expectedLine < 2) ++expectedLine;
        }
        ASSERT_EQ(model.MarkerLine(), expectedLine) << "tick " << tick;
        ASSERT_EQ(model.FramesFed(), expectedFed) << "tick " << tick;
    }
    EXPECT_EQ(model.MarkerLine(), 2);  // the last line; it never goes further
}

INSTANTIATE_TEST_SUITE_P(Counts, HistogramMarkerLineTest,
                         ::testing::Values(MarkerLineCase{"FromTheRecords", false, {3, 2, 4}},
                                           MarkerLineCase{"FromTheMainWindow", true, {3, 2, 4, 0}},
                                           MarkerLineCase{
                                               "MainWindowCountsWin", true, {10, 1, 6, 0}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HistogramModelTest, NextSongFeedsFromItsFirstLine) {
    const Song first({{600, 0}, {610, 0}}, 0.0f, 100.0f);
    Use(first);
    model.SetPlaybackTime(1.0f);
    Run(3);
    ASSERT_EQ(model.FeedLine(), 1);

    const Song next({{450, 0}, {0}}, 5.0f, 10.0f);
    Use(next);
    model.Restart();  // the time is back at 0, before the window
    EXPECT_FALSE(model.Tick().bDot);
    model.SetPlaybackTime(2.0f);
    const HistogramTick tick = model.Tick();
    ASSERT_TRUE(tick.bDot);
    EXPECT_EQ(tick.nDotValue, 450);
    EXPECT_EQ(model.FramesFed(), 1);
}

TEST_F(HistogramModelTest, RestartWithoutNewDataStaysInsideTheRecords) {
    const Song song({{600, 0}, {610, 0}, {620, 630}}, 0.0f, 100.0f);
    Use(song);
    model.SetPlaybackTime(1.0f);
    for (int round = 0; round < 2; ++round) {
        for (const HistogramTick& tick : Run(10)) {
            ASSERT_TRUE(tick.bDot);
            EXPECT_TRUE(tick.nDotValue == 0 || (tick.nDotValue >= 600 && tick.nDotValue <= 630))
                << tick.nDotValue;
        }
        model.Restart();
        model.SetPlaybackTime(1.0f);
    }
}

}  // namespace
}  // namespace engine
