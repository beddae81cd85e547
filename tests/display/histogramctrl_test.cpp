#include "display/histogramctrl.h"

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "app/controlids.h"
#include "engine/pitchcompare.h"
#include "platform/messages.h"
#include "tests/support/eventually.h"
#include "tests/support/songwriter.h"

namespace {

const QColor kReference(0, 130, 66);
const QColor kNear(189, 189, 0);
const QColor kHit(10, 192, 14);
const QColor kFar(43, 0, 0);
const QColor kStrip(26, 62, 70);
const QColor kBar(64, 0, 128);
const QColor kLyric(162, 162, 162);
const QColor kBlack(Qt::black);

constexpr int kWidth = 800;
constexpr int kHeight = 110;
constexpr int kTipX = 50;
constexpr int kStripRight = 29;  // the strip covers the columns left of it

class HistogramCtrlTest : public ::testing::Test {
protected:
    HistogramCtrlTest() {
        parent.resize(kWidth, 600);
        display.SetSongSource([this] {
            return engine::SongRef{"song", (library.Path() / "歌曲/单曲/song").string()};
        });
        display.SetClock([this] { return now; });
    }

    // One line from 10 s: 700 at 10000, 10015 and 10030 ms, a rest, 640 at 10060 ms, a rest.
    void Start(const std::string& lyric = "\xB8\xE8") {
        testing_support::WriteFile(library.Path() / "歌曲/单曲/song/Lyric", lyric);
        ASSERT_TRUE(display.Create(&parent, QRect(0, 444, kWidth, kHeight), ids::kPitchDisplay));
        display.SetSong(song);
    }

    void TickAt(int ms) {
        now = ms;
        display.DrawTick();
    }

    QColor At(int x, int y) const { return display.Surface().pixelColor(x, y); }
    bool ColumnHas(int x, int top, int bottom, const QColor& colour) const {
        for (int y = top; y <= bottom; ++y)
            if (At(x, y) == colour) return true;
        return false;
    }
    // The left-most column from `from` on with the colour in row y; −1 when there is none.
    int LeftmostIn(int y, const QColor& colour, int from = kStripRight) const {
        for (int x = from; x < kWidth; ++x)
            if (At(x, y) == colour) return x;
        return -1;
    }
    // The left-most column from `from` on with the colour in the rows top to bottom.
    int LeftmostIn(int top, int bottom, const QColor& colour, int from) const {
        for (int x = from; x < kWidth; ++x)
            if (ColumnHas(x, top, bottom, colour)) return x;
        return -1;
    }

    testing_support::TemporaryFolder library;
    platform::MessageCapture messages;
    QWidget parent;
    CHistogramCtrl display;
    int now = 0;
    std::shared_ptr<const engine::CSong> song = std::make_shared<const engine::CSong>(
        std::vector<float>{10.0f, 30.0f}, std::vector<float>{10.09f, 30.0f},
        std::vector<std::vector<int32_t>>{{700, 700, 700, 0, 640, 0}});
    const int y700 = engine::DisplayY(700, kHeight);
    const int y640 = engine::DisplayY(640, kHeight);
};

TEST_F(HistogramCtrlTest, CreateMakesABlackSurfaceAndStartsTicking) {
    Start();
    EXPECT_EQ(display.objectName(), QString::number(ids::kPitchDisplay));
    EXPECT_EQ(display.geometry(), QRect(0, 444, kWidth, kHeight));
    EXPECT_EQ(display.Surface().size(), QSize(kWidth, kHeight));
    EXPECT_EQ(At(400, 50), kBlack);
    EXPECT_TRUE(display.IsTicking());
    EXPECT_FALSE(display.CreateSurface());  // one exists already

    display.DestroyDisplay();
    EXPECT_FALSE(display.IsTicking());
    EXPECT_TRUE(display.Surface().isNull());
    EXPECT_TRUE(
        display.Create(&parent, QRect(0, 444, kWidth, kHeight), ids::kPitchDisplay));  // anew
    EXPECT_FALSE(display.Surface().isNull());
}

TEST_F(HistogramCtrlTest, WithoutAClockATickDrawsNothing) {
    display.SetClock({});
    Start();
    TickAt(10000);
    QImage black(kWidth, kHeight, QImage::Format_RGB32);
    black.fill(kBlack);
    EXPECT_EQ(display.Surface(), black);
}

// The ticks come from timers of 15 and 16 ms, or stop for a while; the dots are read back from
// the surface at the end. Where the clock is 10000 ms the first 700 lies on the marker tip.
struct TickCase {
    const char* name;
    int interval;   // ms between ticks
    int stallFrom;  // no tick from this time ...
    int stallTo;    // ... until this one
    int last;       // the time of the last tick
};
void PrintTo(const TickCase& c, std::ostream* out) { *out << c.name; }

class HistogramCtrlTickTest : public HistogramCtrlTest,
                              public ::testing::WithParamInterface<TickCase> {};

TEST_P(HistogramCtrlTickTest, ADotIsOnTheMarkerTipWhenTheMusicPlaysIt) {
    const TickCase& c = GetParam();
    Start();
    for (int t = c.interval; t <= c.last; t += c.interval)
        if (t < c.stallFrom || t >= c.stallTo) TickAt(t);
    ASSERT_EQ(now, c.last);
    // A dot is 6 px wide: its left-most column is 3 left of its place. One step is 3 px.
    const double first = kTipX + (10000 - now) / 5.0;
    const double rest = kTipX + (10060 - now) / 5.0;
    EXPECT_NEAR(LeftmostIn(y700, kReference) + 3, first, 3.0);
    EXPECT_NEAR(LeftmostIn(y640, kReference) + 3, rest, 3.0);
    // The three values of 700 make one short stroke; nothing was drawn right of it in its row.
    EXPECT_LT(LeftmostIn(y700, kReference, static_cast<int>(first) + 15), 0);
    EXPECT_EQ(LeftmostIn(0, kHeight - 1, kReference, static_cast<int>(rest) + 6), -1);
}

INSTANTIATE_TEST_SUITE_P(Timers, HistogramCtrlTickTest,
                         ::testing::Values(TickCase{"Every15Ms", 15, 0, 0, 10005},
                                           TickCase{"Every16Ms", 16, 0, 0, 10000},
                                           TickCase{"Stall200Ms", 15, 9795, 9995, 10005},
                                           TickCase{"StallAcrossTheTip", 16, 9900, 10040, 10048},
                                           TickCase{"Stall5Seconds", 15, 4500, 9990, 10005}),
                         [](const auto& instance) { return std::string(instance.param.name); });

TEST_F(HistogramCtrlTest, NoDotIsDrawnInAGapBetweenLines) {
    Start();
    display.SetSong(std::make_shared<const engine::CSong>(
        std::vector<float>{10.0f, 11.0f, 11.03f}, std::vector<float>{10.03f, 11.03f, 11.03f},
        std::vector<std::vector<int32_t>>{{700, 700}, {700, 700}}));
    for (int t = 15; t <= 10005; t += 15) TickAt(t);
    // 10000 ms is at the tip, 11000 ms 200 px to the right: the columns between are black.
    EXPECT_NEAR(LeftmostIn(y700, kReference) + 3, 49.0, 3.0);
    EXPECT_NEAR(LeftmostIn(y700, kReference, 60) + 3, 249.0, 3.0);
    EXPECT_EQ(LeftmostIn(0, kHeight - 1, kReference, 60), LeftmostIn(y700, kReference, 60));
    for (int x = 60; x < 240; ++x) ASSERT_FALSE(ColumnHas(x, 0, kHeight - 1, kReference)) << x;
}

TEST_F(HistogramCtrlTest, TheNextSongStartsOnAClearedPicture) {
    Start();
    for (int t = 15; t <= 9000; t += 15) TickAt(t);
    ASSERT_GE(LeftmostIn(y700, kReference), 0);

    display.SetSong(std::make_shared<const engine::CSong>(
        std::vector<float>{2.0f, 2.015f}, std::vector<float>{2.0f, 2.015f},
        std::vector<std::vector<int32_t>>{{900}}));
    display.Restart();
    TickAt(15);
    EXPECT_EQ(LeftmostIn(y700, kReference), -1);  // the last song's dots are gone
    const int y900 = engine::DisplayY(900, kHeight);
    EXPECT_NEAR(LeftmostIn(y900, kReference) + 3, kTipX + (2000 - 15) / 5.0, 3.0);
}

TEST_F(HistogramCtrlTest, TheTimerDrawsFromTheClock) {
    Start();
    now = 10000;
    EXPECT_TRUE(testing_support::Eventually([&] {
        QCoreApplication::processEvents();
        return At(kTipX, y700) == kReference;
    }));
}

TEST_F(HistogramCtrlTest, TheMarkerTakesTheColourOfTheComparison) {
    Start();
    struct Case {
        int nearFlag, hitFlag, farFlag;
        QColor colour;
    };
    int t = 0;
    for (const Case& c : {Case{1, 0, 0, kNear}, Case{0, 1, 0, kHit}, Case{0, 0, 1, kFar},
                          Case{1, 1, 0, kHit}, Case{1, 1, 1, kFar}, Case{0, 0, 0, kReference}}) {
        display.SetPitchMarker(40, c.nearFlag, c.hitFlag, c.farFlag);
        TickAt(t += 15);
        // The chevron runs from (20, 47) to the tip (50, 40); at x = 40 it lies near y = 42.
        EXPECT_TRUE(ColumnHas(40, 40, 45, c.colour)) << c.nearFlag << c.hitFlag << c.farFlag;
    }
}

TEST_F(HistogramCtrlTest, TheStripAndBarFromTheSecondTickOn) {
    Start();
    TickAt(15);
    EXPECT_EQ(At(25, 20), kBlack);
    TickAt(30);
    EXPECT_EQ(At(25, 20), kStrip);
    EXPECT_EQ(At(5, 100), kStrip);
    EXPECT_EQ(At(15, 50), kBar);
    EXPECT_EQ(At(15, 5), kStrip);
    EXPECT_EQ(At(30, 20), kBlack);
}

// The first character sits under the first 700, the second under the 640, and both move with
// their notes.
TEST_F(HistogramCtrlTest, ALyricUnitIsDrawnUnderItsNote) {
    Start("\xB8\xE8\xC7\xFA");  // two characters
    const int top = kHeight * 3 / 4;
    for (int t = 15; t <= 6600; t += 15) TickAt(t);
    const int note = LeftmostIn(y700, kReference);
    const int unit = LeftmostIn(top, kHeight - 1, kLyric, kStripRight);
    ASSERT_GE(note, 0);
    ASSERT_GE(unit, 0);
    EXPECT_NEAR(unit, note, 4);
    // Nothing grey left of it, nor far right of the second character (15 px wide, 60 ms on).
    EXPECT_EQ(LeftmostIn(top, kHeight - 1, kLyric, note + 12 + 2 * 15 + 6), -1);

    for (int t = 6615; t <= 8400; t += 15) TickAt(t);
    EXPECT_EQ(LeftmostIn(y700, kReference), note - 3 * (8400 - 6600) / 15);
    EXPECT_EQ(LeftmostIn(top, kHeight - 1, kLyric, kStripRight), unit - 3 * (8400 - 6600) / 15);
}

TEST_F(HistogramCtrlTest, APaintCopiesTheSurface) {
    Start();
    display.SetPitchMarker(60, 0, 1, 0);
    for (int t = 6600; t <= 6630; t += 15) TickAt(t);
    const QImage shown = display.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown, display.Surface());
}

TEST_F(HistogramCtrlTest, AMissingLyricIsNamedAndTheDisplayGoesOn) {
    ASSERT_TRUE(display.Create(&parent, QRect(0, 444, kWidth, kHeight), ids::kPitchDisplay));
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_NE(messages.Messages()[0].find("歌曲/单曲/song/Lyric”不存在"), std::string::npos);
    display.SetSong(song);
    TickAt(10000);
    EXPECT_EQ(At(kTipX, y700), kReference);
    EXPECT_EQ(LeftmostIn(kHeight * 3 / 4, kHeight - 1, kLyric, 0), -1);
}

}  // namespace
