#include "engine/histogrammodel.h"
#include "engine/pitchcompare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "engine/songfolder.h"
#include "platform/codepage.h"
#include "platform/messages.h"
#include "tests/support/songwriter.h"

namespace engine {
namespace {

using testing_support::TemporaryFolder;
using testing_support::WriteFile;

constexpr int kWidth = 800;  // the main dialog's display band
constexpr int kHeight = 110;
constexpr int kLyricTop = 3 * kHeight / 4;
constexpr int kTipX = 50;  // the marker tip

// Code page 936 bytes of 歌, 曲 and 乐.
const std::string kGe = "\xB8\xE8";
const std::string kQu = "\xC7\xFA";
const std::string kLe = "\xC0\xD6";

// A unit as the lyric file holds it (code page 936): the display gives it in UTF-8.
std::string Cp936(const std::string& utf8) {
    std::string bytes;
    EXPECT_TRUE(platform::Utf8ToCp936(utf8, bytes)) << utf8;
    return bytes;
}

SongRef LibrarySong(const std::filesystem::path& library, const std::string& name, bool medley) {
    return {name, SongFolderPath(library.string(), medley, name)};
}

// A song of the given lines: line k starts at starts[k] seconds; the last point closes the song.
struct Song {
    Song(const std::vector<std::vector<int32_t>>& lines, std::vector<float> lineStarts)
        : points(static_cast<int>(lines.size()) + 1), values(lines) {
        starts = std::move(lineStarts);
        starts.resize(static_cast<std::size_t>(points), starts.empty() ? 0.0f : starts.back());
        for (std::size_t k = 0; k < lines.size(); ++k)
            ends.push_back(starts[k] + 0.015f * static_cast<float>(lines[k].size()));
        ends.push_back(ends.empty() ? 0.0f : ends.back());
    }
    // The lines one after the other from `start` seconds, without gaps.
    Song(const std::vector<std::vector<int32_t>>& lines, float start)
        : Song(lines, BackToBack(lines, start)) {}

    static std::vector<float> BackToBack(const std::vector<std::vector<int32_t>>& lines,
                                         float start) {
        std::vector<float> out;
        double at = start;
        for (const auto& line : lines) {
            out.push_back(static_cast<float>(at));
            at += 0.015 * static_cast<double>(line.size());
        }
        return out;
    }

    // When the music plays value `index` of `line`, in milliseconds.
    int64_t TimeMs(int line, int index) const {
        return std::llround(static_cast<double>(starts[static_cast<std::size_t>(line)]) * 1000.0) +
               15 * index;
    }
    bool StartsANote(int line, int index) const {
        const auto& v = values[static_cast<std::size_t>(line)];
        return v[static_cast<std::size_t>(index)] != 0 &&
               (index == 0 || v[static_cast<std::size_t>(index) - 1] == 0);
    }

    // The song as the session shares it.
    std::shared_ptr<const CSong> Shared() const {
        return std::make_shared<const CSong>(starts, ends, values);
    }

    int points;
    std::vector<std::vector<int32_t>> values;
    std::vector<float> starts, ends;
};

// What the control's surface shows, kept as the dots and lyric units on it: each frame moves
// what is there left by its scroll (a scroll of the whole width clears it) and adds its own.
struct Picture {
    explicit Picture(int w) : width(w) {}
    void Apply(const HistogramFrame& frame) {
        if (frame.nScroll >= width) {
            dots.clear();
            units.clear();
        } else {
            for (HistogramDot& dot : dots) dot.nX -= frame.nScroll;
            for (HistogramLyric& unit : units) unit.nX -= frame.nScroll;
            std::erase_if(dots, [](const HistogramDot& dot) { return dot.nX < -3; });
            std::erase_if(units, [this](const HistogramLyric& unit) { return unit.nX < -width; });
        }
        dots.insert(dots.end(), frame.dots.begin(), frame.dots.end());
        units.insert(units.end(), frame.lyrics.begin(), frame.lyrics.end());
    }
    int width;
    std::vector<HistogramDot> dots;
    std::vector<HistogramLyric> units;
};

class HistogramModelTest : public ::testing::Test {
protected:
    HistogramModelTest() { model.Restart(); }

    void Use(const Song& song) { model.SetSong(song.Shared()); }

    void LoadLyric(const std::string& bytes) {
        WriteFile(library.Path() / "歌曲" / "单曲" / "song" / "Lyric", bytes);
        ASSERT_TRUE(model.LoadLyrics(LibrarySong(library.Path(), "song", false)));
    }

    void Restart() {
        model.Restart();
        clock = 0;
    }

    // Calls Advance every 15 ms from the last call up to `until` ms; every frame, copied.
    std::vector<HistogramFrame> RunUntil(int until) {
        std::vector<HistogramFrame> frames;
        while (clock + 15 <= until) {
            clock += 15;
            frames.push_back(model.Advance(clock));
        }
        return frames;
    }

    std::vector<std::string> UnitsUntil(int until) {
        std::vector<std::string> units;
        for (const HistogramFrame& frame : RunUntil(until))
            for (const HistogramLyric& unit : frame.lyrics) units.push_back(Cp936(unit.strText));
        return units;
    }

    TemporaryFolder library;
    platform::MessageCapture messages;
    CHistogramModel model{kWidth, kHeight};
    int clock = 0;
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

// Worked numbers: the lines at 1 s, back to back (1000, 1015, 1030, 1045 ms and 1060, 1075 ms).
// The first frame after the start draws the whole picture: at 15 ms every value lies within the
// 3.5 s lead and sits at 50 + (time − 15) / 5, from x = 247 on.
TEST_F(HistogramModelTest, FirstPictureShowsEveryValueAlreadyInView) {
    const Song song({{0, 600, 600, 0}, {700, 0}}, 1.0f);
    Use(song);
    const HistogramFrame& frame = model.Advance(15);
    EXPECT_EQ(frame.nScroll, kWidth);  // the picture is cleared first
    std::vector<int> values, xs;
    for (const HistogramDot& dot : frame.dots) {
        values.push_back(dot.nValue);
        xs.push_back(dot.nX);
        EXPECT_EQ(dot.nY, DisplayY(dot.nValue, kHeight));
    }
    EXPECT_EQ(values, (std::vector<int>{0, 600, 600, 0, 700, 0}));  // every value of every line
    EXPECT_EQ(xs, (std::vector<int>{247, 250, 253, 256, 259, 262}));

    const HistogramFrame& next = model.Advance(30);
    EXPECT_EQ(next.nScroll, 3);
    EXPECT_TRUE(next.dots.empty());
}

// A line at 10 s and one at 12 s. A value enters when the feed edge (x = 750, 3.5 s ahead of the
// clock) has reached it, at x = 50 + (time − step time) / 5; during the gap nothing enters.
TEST_F(HistogramModelTest, DotsEnterAtTheFeedEdgeAndNoneInAGap) {
    const Song song({{600, 600}, {700}}, std::vector<float>{10.0f, 12.0f});
    Use(song);
    std::vector<int> calls, xs, lines;
    const std::vector<HistogramFrame> frames = RunUntil(12000);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        for (const HistogramDot& dot : frames[i].dots) {
            calls.push_back(15 * static_cast<int>(i + 1));
            xs.push_back(dot.nX);
            lines.push_back(dot.nLine);
        }
    }
    // 10000 ms enters at the step of 6510 ms (6495 + 3500 is short of it): x = 50 + 3490 / 5.
    EXPECT_EQ(calls, (std::vector<int>{6510, 6525, 8505}));
    EXPECT_EQ(xs, (std::vector<int>{748, 748, 749}));
    EXPECT_EQ(lines, (std::vector<int>{0, 0, 1}));
}

TEST_F(HistogramModelTest, StepsOfTheClockMoveThePicture) {
    const Song song({{600}}, 100.0f);
    Use(song);
    EXPECT_EQ(model.Advance(14).nScroll, kWidth);  // the first frame draws everything
    EXPECT_EQ(model.Advance(14).nScroll, 0);       // the same step
    EXPECT_EQ(model.Advance(15).nScroll, 3);
    EXPECT_EQ(model.Advance(29).nScroll, 0);
    EXPECT_EQ(model.Advance(60).nScroll, 9);  // a late call catches up: three steps at once
    EXPECT_EQ(model.Advance(991).nScroll, 3 * (66 - 4));
    EXPECT_EQ(model.Advance(6000).nScroll, kWidth);  // longer than the picture: all anew
}

TEST_F(HistogramModelTest, AClockThatGoesBackMovesNothingUntilItHasCaughtUp) {
    const Song song({{600, 610, 620, 630, 640, 650}}, 4.0f);
    Use(song);
    RunUntil(510);  // 4000 ms has entered (510 + 3500)
    const HistogramFrame& back = model.Advance(200);
    EXPECT_EQ(back.nScroll, 0);
    EXPECT_TRUE(back.dots.empty());
    EXPECT_EQ(model.Advance(509).nScroll, 0);
    const HistogramFrame& on = model.Advance(525);
    EXPECT_EQ(on.nScroll, 3);
    ASSERT_EQ(on.dots.size(), 1u);  // each value once: 4015 ms, the next one due
    EXPECT_EQ(on.dots[0].nIndex, 1);
}

// Arrays of exactly the song's size and clock values from one end of the range to the other.
TEST_F(HistogramModelTest, AnyClockValueIsSafe) {
    const Song song({{600, 0, 610}, {}, {620, 630}}, std::vector<float>{0.5f, 1.0f, 2.0f});
    Use(song);
    LoadLyric(kGe + kQu);
    for (int round = 0; round < 2; ++round) {
        for (int now : {INT_MIN, -1, 0, INT_MAX, INT_MAX, 5, INT_MIN + 14, INT_MAX - 14, 1000}) {
            const HistogramFrame& frame = model.Advance(now);
            EXPECT_GE(frame.nScroll, 0);
            EXPECT_LE(frame.nScroll, kWidth);
            for (const HistogramDot& dot : frame.dots) {
                EXPECT_GE(dot.nX, -3);
                EXPECT_LT(dot.nX, kWidth + 3);
            }
        }
        Restart();
    }
}

TEST_F(HistogramModelTest, NextSongStartsOverFromItsFirstValue) {
    const Song first({{600, 0}, {610, 0}}, 0.5f);
    Use(first);
    RunUntil(5000);

    const Song next({{450, 0}, {0}}, 2.0f);
    Use(next);
    Restart();  // its clock starts at 0 again
    const HistogramFrame& frame = model.Advance(15);
    EXPECT_EQ(frame.nScroll, kWidth);  // the last song's picture is gone
    ASSERT_EQ(frame.dots.size(), 3u);
    EXPECT_EQ(frame.dots[0].nValue, 450);
    EXPECT_EQ(frame.dots[0].nX, kTipX + (2000 - 15) / 5);
}

// The requirement in full: over a long song, with and without gaps between the lines and with
// clocks that come late, every dot on the picture lies within one step (3 px, 15 ms) of where
// its time puts it, every value in view is on the picture exactly once, and every note in view
// has its own lyric unit under its first dot.
struct ClockCase {
    const char* name;
    int width;
    bool gaps;       // 0.5 to 3 s between the lines
    int firstCall;   // ms
    int interval;    // ms between the calls
    int stallEvery;  // a stall after every this many ms (0: never)
    int stall;       // ms without a call
    int clockChunk;  // the position moves in chunks of this many ms
};
void PrintTo(const ClockCase& c, std::ostream* out) { *out << c.name; }

class HistogramTimingTest : public ::testing::TestWithParam<ClockCase> {
protected:
    // 80 lines of 30 to 120 values: notes of 2 to 12 values, 0 to 4 silent values between.
    static Song MakeSong(bool gaps) {
        std::mt19937 random(20240611);
        auto between = [&random](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(random);
        };
        std::vector<std::vector<int32_t>> lines(80);
        std::vector<float> starts;
        double at = 1.0173;  // the first line is in view from the first frame on
        for (auto& line : lines) {
            const int count = between(30, 120);
            while (static_cast<int>(line.size()) < count) {
                line.insert(line.end(), static_cast<std::size_t>(between(0, 4)), 0);
                line.insert(line.end(), static_cast<std::size_t>(between(2, 12)),
                            between(450, 850));
            }
            line.resize(static_cast<std::size_t>(count));
            starts.push_back(static_cast<float>(at));
            at += 0.015 * count;
            if (gaps) at += between(500, 3000) / 1000.0;
        }
        return Song(lines, starts);
    }

    // Each note's own unit: note n shows the character 0xB0, 0xA1 + n % 94.
    static std::string Unit(int note) {
        return std::string{static_cast<char>(0xB0), static_cast<char>(0xA1 + note % 94)};
    }
};

TEST_P(HistogramTimingTest, EveryDotReachesTheTipWhenTheMusicPlaysIt) {
    const ClockCase& c = GetParam();
    const Song song = MakeSong(c.gaps);
    const int feedX = std::max(c.width - 50, kTipX);

    // Every value in the song's order, with its time and, for a note's first value, the note.
    struct Value {
        int line, index;
        int64_t timeMs;
        int note;  // −1: not a note's first value
    };
    std::vector<Value> order;
    std::vector<int> firstOfLine;
    int notes = 0;
    for (int k = 0; k < song.points - 1; ++k) {
        firstOfLine.push_back(static_cast<int>(order.size()));
        for (int j = 0; j < static_cast<int>(song.values[k].size()); ++j)
            order.push_back({k, j, song.TimeMs(k, j), song.StartsANote(k, j) ? notes++ : -1});
    }
    std::string lyric;
    for (int n = 0; n < notes; ++n) lyric += Unit(n);

    TemporaryFolder library;
    WriteFile(library.Path() / "歌曲" / "单曲" / "song" / "Lyric", lyric);
    CHistogramModel display(c.width, kHeight);
    ASSERT_TRUE(display.LoadLyrics(LibrarySong(library.Path(), "song", false)));
    display.SetSong(song.Shared());
    display.Restart();

    Picture picture(c.width);
    std::vector<int> dotsOn(order.size()), unitsOn(order.size());
    const int64_t songEnd = order.back().timeMs + 1000;
    int failures = 0;
    for (int64_t call = c.firstCall; call <= songEnd && failures < 5;) {
        const int now = static_cast<int>(call / c.clockChunk * c.clockChunk);
        picture.Apply(display.Advance(now));
        auto ideal = [now](int64_t timeMs) {
            return kTipX + static_cast<double>(timeMs - now) / 5;
        };
        auto fail = [&](const Value& v, const char* what) {
            ++failures;
            ADD_FAILURE() << "at " << now << " ms, line " << v.line << " value " << v.index << " ("
                          << v.timeMs << " ms): " << what;
        };

        for (const HistogramDot& dot : picture.dots) {
            const std::size_t at = static_cast<std::size_t>(firstOfLine[dot.nLine] + dot.nIndex);
            ++dotsOn[at];
            if (std::abs(dot.nX - ideal(order[at].timeMs)) > 3)
                fail(order[at], "dot off by over 3 px");
            if (dot.nValue != song.values[dot.nLine][dot.nIndex] ||
                dot.nY != DisplayY(dot.nValue, kHeight))
                fail(order[at], "dot of another value or height");
        }
        for (const HistogramLyric& unit : picture.units) {
            const std::size_t at = static_cast<std::size_t>(firstOfLine[unit.nLine] + unit.nIndex);
            ++unitsOn[at];
            if (order[at].note < 0) {
                fail(order[at], "lyric unit at no note's first value");
                continue;
            }
            if (Cp936(unit.strText) != Unit(order[at].note))
                fail(order[at], "another note's lyric unit");
            if (std::abs(unit.nX + 3 - ideal(order[at].timeMs)) > 3 || unit.nY != kLyricTop)
                fail(order[at], "lyric unit not under its note");
        }
        // Every value and unit whose place lies on the picture is there, once.
        const auto from = std::partition_point(order.begin(), order.end(),
                                               [&](const Value& v) { return ideal(v.timeMs) < 2; });
        const auto to = std::partition_point(
            from, order.end(), [&](const Value& v) { return ideal(v.timeMs) <= feedX - 10; });
        for (auto v = from; v != to; ++v) {
            const std::size_t at = static_cast<std::size_t>(v - order.begin());
            if (dotsOn[at] != 1) fail(*v, "dot in view not drawn once");
            if (v->note >= 0 && unitsOn[at] != 1) fail(*v, "lyric unit in view not drawn once");
        }
        for (const HistogramDot& dot : picture.dots)
            if (dotsOn[static_cast<std::size_t>(firstOfLine[dot.nLine] + dot.nIndex)] > 1)
                fail(order[static_cast<std::size_t>(firstOfLine[dot.nLine] + dot.nIndex)],
                     "dot drawn twice");
        for (const HistogramDot& dot : picture.dots)
            dotsOn[static_cast<std::size_t>(firstOfLine[dot.nLine] + dot.nIndex)] = 0;
        for (const HistogramLyric& unit : picture.units)
            unitsOn[static_cast<std::size_t>(firstOfLine[unit.nLine] + unit.nIndex)] = 0;

        const int64_t next = call + c.interval;
        if (c.stallEvery > 0 && call / c.stallEvery != next / c.stallEvery)
            call = next + c.stall;
        else
            call = next;
    }
    EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, HistogramTimingTest,
    ::testing::Values(ClockCase{"Every15Ms", kWidth, false, 15, 15, 0, 0, 1},
                      ClockCase{"Every15MsWithGaps", kWidth, true, 7, 15, 0, 0, 1},
                      ClockCase{"Every16Ms", kWidth, false, 16, 16, 0, 0, 1},
                      ClockCase{"Every16MsWithGaps", kWidth, true, 16, 16, 0, 0, 1},
                      ClockCase{"Stalls200Ms", kWidth, false, 15, 15, 2000, 200, 1},
                      ClockCase{"Stalls200MsWithGaps", kWidth, true, 15, 15, 2000, 200, 1},
                      ClockCase{"Stalls5SecondsWithGaps", kWidth, true, 15, 15, 20000, 5000, 1},
                      ClockCase{"PositionIn21MsChunks", kWidth, true, 15, 15, 0, 0, 21},
                      ClockCase{"OddWidth", 333, true, 16, 16, 3000, 200, 1},
                      ClockCase{"FeedEdgeAtTheTip", 90, true, 15, 15, 0, 0, 1}),
    [](const auto& instance) { return std::string(instance.param.name); });

// Four notes; the lyric unit of each is drawn with the note's first dot, just left of it.
TEST_F(HistogramModelTest, ALyricUnitIsDrawnUnderItsNotesFirstDot) {
    const Song song({{0, 600, 600, 0, 610}, {620, 620, 0, 630}}, 10.0f);
    Use(song);
    LoadLyric(kGe + kQu + kLe + kGe);
    int units = 0;
    for (const HistogramFrame& frame : RunUntil(12000)) {
        for (const HistogramLyric& unit : frame.lyrics) {
            ++units;
            EXPECT_TRUE(song.StartsANote(unit.nLine, unit.nIndex));
            const auto dot = std::find_if(frame.dots.begin(), frame.dots.end(), [&](const auto& d) {
                return d.nLine == unit.nLine && d.nIndex == unit.nIndex;
            });
            ASSERT_NE(dot, frame.dots.end());
            EXPECT_EQ(unit.nX, dot->nX - 3);
            EXPECT_EQ(unit.nY, kLyricTop);
        }
    }
    EXPECT_EQ(units, 4);
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
        {{600, 600, 0, 610, 610, 0, 620, 620, 0, 630, 630, 0, 640, 640, 0, 650, 650, 0}}, 10.0f);
    Use(song);
    LoadLyric(GetParam().file);
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_EQ(UnitsUntil(12000), GetParam().units);
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
    [](const auto& instance) { return std::string(instance.param.name); });

TEST_F(HistogramModelTest, EmptyLyricFileIsReportedAndDrawsNoText) {
    const Song song({{600, 0, 610, 0, 620, 0}}, 1.0f);
    Use(song);
    WriteFile(library.Path() / "歌曲" / "单曲" / "song" / "Lyric", "");
    EXPECT_TRUE(model.LoadLyrics(LibrarySong(library.Path(), "song", false)));
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"文件为空!"});
    EXPECT_TRUE(UnitsUntil(3000).empty());
}

// Notes at 10000, 10030, 10060 … ms: each enters 3.5 s before, on the first step at or after it.
TEST_F(HistogramModelTest, EmptySongNameChangesNothing) {
    const Song song({{600, 0, 610, 0, 620, 0}}, 10.0f);
    Use(song);
    LoadLyric(kGe + kQu + kLe);
    EXPECT_EQ(UnitsUntil(6525), std::vector<std::string>{kGe});

    EXPECT_FALSE(model.LoadLyrics(LibrarySong(library.Path(), "", false)));
    EXPECT_EQ(messages.Messages(), std::vector<std::string>{"请打开歌曲列表，选择要演唱的曲目"});
    EXPECT_EQ(UnitsUntil(6555), std::vector<std::string>{kQu});  // not back at the first one
}

TEST_F(HistogramModelTest, LyricStartsOverOnRestartAndOnLoad) {
    const Song song({{600, 0, 610, 0, 620, 0, 630, 0, 640, 0}}, 10.0f);
    Use(song);
    LoadLyric(kGe + " ok " + kQu);
    EXPECT_EQ(UnitsUntil(6555), (std::vector<std::string>{kGe, "ok"}));

    LoadLyric(kLe + " ab " + kQu);  // the word search starts over too
    EXPECT_EQ(UnitsUntil(6615), (std::vector<std::string>{kLe, "ab"}));
    Restart();
    EXPECT_EQ(UnitsUntil(6525), std::vector<std::string>{kLe});
}

// After a stall the units of the notes that passed meanwhile are used up with them.
TEST_F(HistogramModelTest, AStallKeepsTheLyricInStepWithTheNotes) {
    std::vector<int32_t> line;
    for (int note = 0; note < 200; ++note) line.insert(line.end(), {600, 600, 0, 0});
    const Song song({line}, 1.0f);  // note n at 1000 + 60 n ms
    Use(song);
    std::string lyric;
    for (int note = 0; note < 200; ++note) lyric += note % 2 ? kGe : kQu;
    LoadLyric(lyric);
    model.Advance(15);
    // At 6 s the notes up to 6 + 3.5 s have entered: the last one in view is note 141, at 9460 ms.
    const HistogramFrame& frame = model.Advance(6000);
    ASSERT_EQ(frame.nScroll, kWidth);
    ASSERT_FALSE(frame.lyrics.empty());
    EXPECT_EQ(frame.lyrics.back().nIndex, 4 * 141);
    EXPECT_EQ(Cp936(frame.lyrics.back().strText), kGe);
    EXPECT_EQ(Cp936(frame.lyrics[frame.lyrics.size() - 2].strText), kQu);
}

// A song file that gives every note its syllable: each unit enters with the value it names, also
// under a rest (a freestyle note has no pitch values), several at one value in their order, and
// none is taken from a Lyric file; a new start shows them again from the first.
TEST_F(HistogramModelTest, ASongsOwnSyllablesEnterWithTheirValues) {
    SongInfo info;
    info.bOwnLyrics = true;
    info.lyrics = {{{0, "Ca"}, {2, "fé "}, {4, "¡ay!"}, {4, "~"}}, {{1, "Жу"}}};
    const auto song = std::make_shared<const CSong>(
        std::vector<float>{10.0f, 10.1f, 11.0f}, std::vector<float>{10.09f, 10.13f, 11.0f},
        std::vector<std::vector<int32_t>>{{600, 600, 610, 0, 0, 0}, {0, 620}}, info);
    WriteFile(library.Path() / "歌曲" / "单曲" / "song" / "Lyric", kGe + kQu + kLe);
    ASSERT_TRUE(model.LoadLyrics(LibrarySong(library.Path(), "song", false)));
    model.SetSong(song);

    std::vector<std::pair<std::string, int>> seen;  // text, index
    for (const HistogramFrame& frame : RunUntil(7000))
        for (const HistogramLyric& unit : frame.lyrics) {
            seen.emplace_back(unit.strText, unit.nIndex);
            // Under the left edge of its value's dot, drawn in the same frame.
            const auto dot = std::find_if(frame.dots.begin(), frame.dots.end(), [&](const auto& d) {
                return d.nLine == unit.nLine && d.nIndex == unit.nIndex;
            });
            ASSERT_NE(dot, frame.dots.end()) << unit.strText;
            EXPECT_EQ(unit.nX, dot->nX - 3) << unit.strText;
        }
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, int>>{
                        {"Ca", 0}, {"fé ", 2}, {"¡ay!", 4}, {"~", 4}, {"Жу", 1}}));

    Restart();
    seen.clear();
    for (const HistogramFrame& frame : RunUntil(6600))
        for (const HistogramLyric& unit : frame.lyrics)
            seen.emplace_back(unit.strText, unit.nIndex);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), (std::pair<std::string, int>{"Ca", 0}));
}

TEST_F(HistogramModelTest, MedleySongsComeFromTheMedleyFolder) {
    WriteFile(library.Path() / "歌曲" / "单曲" / "song" / "Lyric", kGe);
    WriteFile(library.Path() / "歌曲" / "串烧歌曲" / "song" / "Lyric", kLe);
    ASSERT_TRUE(model.LoadLyrics(LibrarySong(library.Path(), "song", true)));
    EXPECT_EQ(model.Lyric(), kLe);
    ASSERT_TRUE(model.LoadLyrics(LibrarySong(library.Path(), "song", false)));
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
    const Song song({{600, 0, 610, 0}}, 1.0f);
    Use(song);
    LoadLyric(kGe + kQu);  // the previous song's lyric must not stay
    std::filesystem::remove(library.Path() / "歌曲" / "单曲" / "song" / "Lyric");
    GetParam().prepare(library.Path() / "歌曲" / "单曲" / "song");

    EXPECT_FALSE(model.LoadLyrics(LibrarySong(library.Path(), "song", GetParam().medley)));
    const std::string file =
        library.Path().string() + "/歌曲/" + GetParam().shownFolder + "/song/Lyric";
    EXPECT_EQ(messages.Messages(),
              std::vector<std::string>{"歌词文件“" + file + "”" + GetParam().problem + "。"});
    EXPECT_TRUE(model.Lyric().empty());
    EXPECT_TRUE(UnitsUntil(2000).empty());
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
    [](const auto& instance) { return std::string(instance.param.name); });

TEST(HistogramModelPathTest, WorkingDirectoryLibraryNamesTheRelativePath) {
    platform::MessageCapture messages;
    CHistogramModel model(kWidth, kHeight);
    EXPECT_FALSE(model.LoadLyrics(LibrarySong("", "no song by this name", false)));
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

TEST_P(HistogramNoLineTest, DrawsOnlyTheMarkerAndTheStrip) {
    if (GetParam().onePoint)
        model.SetSong(std::make_shared<const CSong>(std::vector<float>{1.0f},
                                                    std::vector<float>{2.0f},
                                                    std::vector<std::vector<int32_t>>{}));
    LoadLyric(kGe + kQu);

    const std::vector<HistogramFrame> frames = RunUntil(60);
    ASSERT_EQ(frames.size(), 4u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(frames[i].dots.empty());
        EXPECT_TRUE(frames[i].lyrics.empty());
        EXPECT_EQ(frames[i].nMarkerY, 80);
        EXPECT_EQ(frames[i].pen, MarkerPen::Far);
        EXPECT_EQ(frames[i].bStrip, i > 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Songs, HistogramNoLineTest,
                         ::testing::Values(NoLineCase{"NoReferenceData", false},
                                           NoLineCase{"OnePoint", true}),
                         [](const auto& instance) { return std::string(instance.param.name); });

TEST_F(HistogramModelTest, MarkerIsFarAfterRestartUntilTheFirstPitch) {
    EXPECT_EQ(model.Advance(15).pen, MarkerPen::Far);
    model.SetPitchMarker(30, 0, 1, 0);
    const HistogramFrame& hit = model.Advance(15);  // no step: the marker is drawn all the same
    EXPECT_EQ(hit.pen, MarkerPen::Hit);
    EXPECT_EQ(hit.nMarkerY, 30);
    EXPECT_TRUE(hit.bStrip);
    Restart();
    const HistogramFrame& restarted = model.Advance(15);
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
    EXPECT_EQ(model.Advance(15).pen, c.pen);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, HistogramMarkerPenTest,
    ::testing::Values(PenCase{0, 0, 0, MarkerPen::Reference}, PenCase{1, 0, 0, MarkerPen::Near},
                      PenCase{0, 1, 0, MarkerPen::Hit}, PenCase{0, 0, 1, MarkerPen::Far},
                      PenCase{1, 1, 0, MarkerPen::Hit}, PenCase{1, 0, 1, MarkerPen::Far},
                      PenCase{0, 1, 1, MarkerPen::Far}, PenCase{1, 1, 1, MarkerPen::Far}));

TEST_F(HistogramModelTest, RestartWithoutNewDataDrawsTheSameSongAgain) {
    const Song song({{600, 0}, {610, 0}, {620, 630}}, 0.5f);
    Use(song);
    for (int round = 0; round < 2; ++round) {
        const HistogramFrame& frame = model.Advance(15);
        ASSERT_EQ(frame.dots.size(), 6u) << "round " << round;
        EXPECT_EQ(frame.dots.front().nValue, 600);
        EXPECT_EQ(frame.dots.back().nValue, 630);
        RunUntil(3000);
        Restart();
    }
}

}  // namespace
}  // namespace engine
