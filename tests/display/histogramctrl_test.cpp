#include "display/histogramctrl.h"

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

#include "engine/pitchcompare.h"
#include "platform/messages.h"
#include "tests/support/songwriter.h"

namespace {

const QColor kReference(0, 130, 66);
const QColor kNear(189, 189, 0);
const QColor kHit(10, 192, 14);
const QColor kFar(43, 0, 0);
const QColor kStrip(26, 62, 70);
const QColor kBar(64, 0, 128);
const QColor kLyric(162, 162, 162);

constexpr int kWidth = 800;
constexpr int kHeight = 110;

class HistogramCtrlTest : public ::testing::Test {
protected:
    HistogramCtrlTest() {
        parent.resize(kWidth, 600);
        display.SetLibraryFolder(library.Path().string());
        display.SetSongSource([] { return CHistogramCtrl::SongChoice{"song", false}; });
    }

    // One line of 700s from 10 s to 20 s (and an unused last point), playback inside its window.
    void Start(const std::string& lyric = "\xB8\xE8") {
        testing_support::WriteFile(library.Path() / "歌曲/单曲/song/Lyric", lyric);
        ASSERT_TRUE(display.Create(&parent, QRect(0, 444, kWidth, kHeight), 1000));
        display.SetReferenceData(blocks.data(), starts, ends, 2);
        display.SetLineCounts(counts);
        display.SetPlaybackTime(10.0f);
    }

    QColor At(int x, int y) const { return display.Surface().pixelColor(x, y); }
    bool ColumnHas(int x, int top, int bottom, const QColor& colour) const {
        for (int y = top; y <= bottom; ++y)
            if (At(x, y) == colour) return true;
        return false;
    }

    testing_support::TemporaryFolder library;
    platform::MessageCapture messages;
    QWidget parent;
    CHistogramCtrl display;
    std::vector<int32_t> blocks = {6, 700, 700, 700, 0, 640, 0};
    float starts[2] = {10.0f, 30.0f};
    float ends[2] = {20.0f, 31.0f};
    int counts[2] = {6, 0};
};

TEST_F(HistogramCtrlTest, CreateMakesABlackSurfaceAndStartsTicking) {
    Start();
    EXPECT_EQ(display.objectName(), "1000");
    EXPECT_EQ(display.geometry(), QRect(0, 444, kWidth, kHeight));
    EXPECT_EQ(display.Surface().size(), QSize(kWidth, kHeight));
    EXPECT_EQ(At(400, 50), QColor(Qt::black));
    EXPECT_TRUE(display.IsTicking());
    EXPECT_FALSE(display.CreateSurface());  // one exists already
    EXPECT_EQ(display.LeadTicks(), 250.0f);

    display.DestroyDisplay();
    EXPECT_FALSE(display.IsTicking());
    EXPECT_TRUE(display.Surface().isNull());
    EXPECT_TRUE(display.Create(&parent, QRect(0, 444, kWidth, kHeight), 1000));  // anew
    EXPECT_FALSE(display.Surface().isNull());
}

TEST_F(HistogramCtrlTest, DotsEnterAtTheRightAndScrollThreePixelsATick) {
    Start();
    const int y = engine::DisplayY(700, kHeight);
    display.DrawTick();
    EXPECT_EQ(At(kWidth - 50, y), kReference);
    EXPECT_EQ(display.FramesFed(), 1);
    display.DrawTick();
    EXPECT_EQ(At(kWidth - 53, y), kReference);  // the first dot, moved on
    EXPECT_EQ(At(kWidth - 50, y), kReference);  // the second
    EXPECT_EQ(At(kWidth - 50, y - 10), QColor(Qt::black));
    EXPECT_EQ(display.FramesFed(), 2);
}

TEST_F(HistogramCtrlTest, NothingIsFedBeforeTheLinesWindow) {
    Start();
    display.SetPlaybackTime(1.0f);  // 10 s less the 3.875 s lead is still ahead
    for (int i = 0; i < 5; ++i) display.DrawTick();
    EXPECT_EQ(display.FramesFed(), 0);
    EXPECT_FALSE(ColumnHas(kWidth - 50, 0, kHeight - 1, kReference));
}

TEST_F(HistogramCtrlTest, TheMarkerTakesTheColourOfTheComparison) {
    Start();
    struct Case {
        int nearFlag, hitFlag, farFlag;
        QColor colour;
    };
    for (const Case& c : {Case{1, 0, 0, kNear}, Case{0, 1, 0, kHit}, Case{0, 0, 1, kFar},
                          Case{1, 1, 0, kHit}, Case{1, 1, 1, kFar}, Case{0, 0, 0, kReference}}) {
        display.SetPitchMarker(40, c.nearFlag, c.hitFlag, c.farFlag);
        display.DrawTick();
        // The chevron runs from (20, 47) to the tip (50, 40); at x = 40 it lies near y = 42.
        EXPECT_TRUE(ColumnHas(40, 40, 45, c.colour))
            << c.nearFlag << c.hitFlag << c.farFlag;
    }
}

TEST_F(HistogramCtrlTest, TheStripAndBarFromTheSecondTickOn) {
    Start();
    display.DrawTick();
    EXPECT_EQ(At(25, 20), QColor(Qt::black));
    display.DrawTick();
    EXPECT_EQ(At(25, 20), kStrip);
    EXPECT_EQ(At(5, 100), kStrip);
    EXPECT_EQ(At(15, 50), kBar);
    EXPECT_EQ(At(15, 5), kStrip);
    EXPECT_EQ(At(30, 20), QColor(Qt::black));
}

TEST_F(HistogramCtrlTest, ALyricUnitIsDrawnUnderItsNote) {
    Start("\xB8\xE8\xC7\xFA");  // two characters
    // Ticks 1 and 2 draw 700, 700; the third value is followed by a rest, so the unit comes.
    int grey = 0;
    for (int tick = 0; tick < 4; ++tick) display.DrawTick();
    for (int x = 600; x < kWidth; ++x)
        for (int y = kHeight * 3 / 4; y < kHeight; ++y) grey += At(x, y) == kLyric;
    EXPECT_GT(grey, 10);
}

TEST_F(HistogramCtrlTest, APaintCopiesTheSurface) {
    Start();
    display.SetPitchMarker(60, 0, 1, 0);
    for (int i = 0; i < 3; ++i) display.DrawTick();
    const QImage shown = display.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown, display.Surface());
}

TEST_F(HistogramCtrlTest, AMissingLyricIsNamedAndTheDisplayGoesOn) {
    ASSERT_TRUE(display.Create(&parent, QRect(0, 444, kWidth, kHeight), 1000));
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_NE(messages.Messages()[0].find("歌曲/单曲/song/Lyric”不存在"), std::string::npos);
    display.SetReferenceData(blocks.data(), starts, ends, 2);
    display.SetPlaybackTime(10.0f);
    display.DrawTick();
    EXPECT_EQ(display.FramesFed(), 1);
}

}  // namespace
