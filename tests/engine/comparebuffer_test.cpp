// The per-buffer comparison and the evaluation loop, driven buffer by buffer with a scripted
// display.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "engine/alignment.h"
#include "engine/pitchcompare.h"
#include "engine/singingengine.h"
#include "engine/song.h"
#include "platform/messages.h"
#include "platform/virtualplayer.h"
#include "tests/support/songwriter.h"

namespace engine {
namespace {

using Values = std::vector<int32_t>;

struct Marker {
    int y, nearFlag, hitFlag, farFlag;
    bool operator==(const Marker&) const = default;
};

class ScriptedView : public CNullEngineView {
public:
    void SetPitchMarker(int y, int n, int h, int f) override { markers.push_back({y, n, h, f}); }
    void SetLineBarPos(int position) override { lineBar.push_back(position); }
    void SetGradeText(const std::string& text) override { grades.push_back(text); }
    void OnLineScored(const LineReport& report) override { reports.push_back(report); }

    std::vector<Marker> markers;
    std::vector<int> lineBar;
    std::vector<std::string> grades;
    std::vector<LineReport> reports;
};

constexpr int kHeight = 110;

class CompareBufferTest : public ::testing::Test {
protected:
    CompareBufferTest() : engine(view) {
        reference.assign(24, 700);  // M = 24, so estimates are taken from p = 3 on
    }

    void Compare(const Values& pitch, int voiced, int p = 5) {
        engine.CompareBuffer(reference.data(), static_cast<int>(reference.size()), pitch.data(),
                             static_cast<int>(pitch.size()), voiced, p);
    }
    Values Sung() const { return engine.Sung(); }

    ScriptedView view;
    CSingingEngine engine;
    Values reference;
};

TEST_F(CompareBufferTest, FirstVoicedBufferSetsTheKeyAndCountsANearMiss) {
    Compare({0, 0, 650, 650, 650, 650, 650, 650}, 1);
    EXPECT_EQ(engine.Nears(), 1);
    EXPECT_EQ(engine.Hits(), 0);
    EXPECT_EQ(engine.KeyOffset(), -50);
    EXPECT_EQ(engine.FirstVoiced(), 2);
    EXPECT_EQ(Sung(), Values(6, 650));  // from the first voiced frame on
    EXPECT_TRUE(view.lineBar.empty());
    EXPECT_EQ(view.markers.back(), (Marker{DisplayY(650, kHeight), 1, 0, 0}));

    // The next buffer is judged with that key: 700 − 50 = 650 is a hit, the reference is kept.
    Compare(Values(8, 650), 2);
    EXPECT_EQ(engine.Hits(), 1);
    const Values after = Sung();
    ASSERT_EQ(after.size(), 14u);
    EXPECT_EQ(Values(after.begin() + 6, after.end()), Values(8, 700));
    EXPECT_EQ(view.markers.back(), (Marker{DisplayY(700, kHeight), 0, 1, 0}));
    // (0 / 2 + 1) × 8 / 24 × 100 = 33
    EXPECT_EQ(view.lineBar.back(), 33);
}

TEST_F(CompareBufferTest, SilenceAgainstASilentReferenceIsAHitWhileTheLineHasOneVoicedBuffer) {
    reference[5] = 0;
    Compare(Values(8, 0), 1);
    EXPECT_EQ(engine.Hits(), 1);
    EXPECT_EQ(Sung(), Values(8, 0));
    EXPECT_EQ(view.lineBar.size(), 1u);
    EXPECT_EQ(view.markers.back().hitFlag, 1);
}

TEST_F(CompareBufferTest, SingingOverARestIsAHitThatKeepsTheSungValues) {
    reference[5] = 0;
    const Values pitch = {640, 650, 660, 0, 650, 650, 650, 650};
    Compare(pitch, 3);
    EXPECT_EQ(engine.Hits(), 1);
    EXPECT_EQ(Sung(), pitch);
    EXPECT_EQ(engine.PrevVoiced(), true);
}

TEST_F(CompareBufferTest, KeyOffsetComesFromTheSecondAndThirdEstimates) {
    for (int32_t sung : {660, 640, 630, 630}) Compare(Values(8, sung), 2, 5);
    EXPECT_EQ(engine.KeyEstimates(), 3);
    EXPECT_EQ(engine.KeyOffset(), -65);  // (−60 − 70) / 2

    CSingingEngine other(view);
    for (int32_t d : {660, 850, 630, 630}) {
        const Values pitch(8, d);
        other.CompareBuffer(reference.data(), 24, pitch.data(), 8, 2, 5);
    }
    EXPECT_EQ(other.KeyOffset(), -35);  // the 150 estimate counts as 0: (0 − 70) / 2
}

TEST_F(CompareBufferTest, EstimatesWaitForTheFirstTwelfthOfTheLine) {
    Compare(Values(8, 660), 2, /*p=*/2);  // 2 ≤ 24 / 12
    EXPECT_EQ(engine.KeyEstimates(), 0);
    Compare(Values(8, 660), 2, /*p=*/3);
    EXPECT_EQ(engine.KeyEstimates(), 1);
}

TEST_F(CompareBufferTest, IndexOutsideTheRecordIsANeutralFarPoint) {
    for (int p : {0, 24, -3, 40}) Compare(Values(8, 700), 2, p);
    Compare(Values(8, 700), /*voiced=*/0, 5);
    EXPECT_EQ(engine.Hits() + engine.Nears() + static_cast<int>(engine.Sung().size()), 0);
    for (const Marker& marker : view.markers) EXPECT_EQ(marker, (Marker{kHeight / 2, 0, 0, 1}));
}

TEST_F(CompareBufferTest, SilenceRightAfterSingingShowsAtTheReferenceOnce) {
    Compare(Values(8, 700), 2);
    Compare(Values(8, 0), 2);
    EXPECT_EQ(view.markers.back(), (Marker{DisplayY(700, kHeight), 0, 1, 0}));
    Compare(Values(8, 0), 2);
    EXPECT_EQ(view.markers.back(), (Marker{kHeight / 2, 0, 0, 1}));
    EXPECT_EQ(engine.Hits(), 1);
    EXPECT_EQ(static_cast<int>(engine.Sung().size()), 8);

    // A rest under the marker: the value two further on gives the height.
    reference[5] = 0;
    reference[7] = 760;
    Compare(Values(8, 700), 2);
    Compare(Values(8, 0), 2);
    EXPECT_EQ(view.markers.back(), (Marker{DisplayY(760, kHeight), 0, 1, 0}));
}

TEST_F(CompareBufferTest, TheSungSequenceStopsAtItsCapacity) {
    for (int i = 0; i < 300; ++i) Compare(Values(8, 700), 2);
    EXPECT_EQ(static_cast<int>(engine.Sung().size()), kSungCapacity);
    EXPECT_EQ(engine.Hits(), 300);
}

TEST(ShowIdlePitch, UsesTheDivisor800OrFourFifthsOfTheHeight) {
    ScriptedView view;
    CSingingEngine engine(view);
    const Values voiced = {0, 700, 720, 0};
    engine.ShowIdlePitch(voiced.data(), 4);
    const Values silent(8, 0);
    engine.ShowIdlePitch(silent.data(), 8);
    // mean 710: trunc((36 − 36 × 710 / 800) × 5) = trunc(20.25) = 20
    EXPECT_EQ(view.markers, (std::vector<Marker>{{20, 0, 0, 1}, {88, 0, 0, 1}}));
}

// Between lines the marker shows the singer's pitch as sung: a 440 Hz tone in both channels of
// the stereo capture reads 690, whichever level judges the lines.
TEST(ShowIdlePitch, ATonesPitchBetweenLinesIsItsOwn) {
    Values stereo(kCaptureSamples);
    for (int i = 0; i < kCaptureSamples / 2; ++i)
        stereo[2 * i] = stereo[2 * i + 1] =
            static_cast<int32_t>(8000 * std::sin(2 * M_PI * 440.0 * i / 8000.0));
    const std::vector<int16_t> samples(stereo.begin(), stereo.end());
    for (const JudgingLevel level : kJudgingLevels) {
        ScriptedView view;
        CSingingEngine engine(view);
        engine.SetJudgingLevel(level);
        engine.StartRun(false);
        engine.BeginSong(std::make_shared<const CSong>(std::vector<float>{5.0f, 6.0f},
                                                       std::vector<float>{5.5f, 7.0f},
                                                       std::vector<std::vector<int32_t>>{{700}}));
        engine.HandleBuffer(samples.data(), kCaptureBufferBytes, 120);
        ASSERT_EQ(view.markers.size(), 1u) << JudgingLevelName(level);
        EXPECT_NEAR(view.markers[0].y, IdleDisplayY(690, kHeight), 1) << JudgingLevelName(level);
    }
}

TEST(PitchCompare, Helpers) {
    const Values values = {0, 0, 610, 0, 620, 631};
    EXPECT_EQ(FirstVoicedFrame(values.data(), 6), 2);
    EXPECT_EQ(FirstVoicedFrame(values.data(), 2), 0);
    EXPECT_EQ(MeanVoicedPitch(values.data(), 6), 620);  // 1861 / 3
    EXPECT_EQ(MeanVoicedPitch(values.data(), 2), 0);
    const Values ref = {700, 0, 500};
    EXPECT_EQ(EstimateKeyOffset(650, 0, ref.data(), 3), -50);
    EXPECT_EQ(EstimateKeyOffset(800, 0, ref.data(), 3), 100);
    EXPECT_EQ(EstimateKeyOffset(801, 0, ref.data(), 3), 0);
    EXPECT_EQ(EstimateKeyOffset(650, 1, ref.data(), 3), 0);
    EXPECT_EQ(EstimateKeyOffset(0, 2, ref.data(), 3), 0);
    EXPECT_EQ(DisplayY(800, 110), 36);
    EXPECT_EQ(DisplayY(1000, 110), 0);
    EXPECT_EQ(DisplayY(0, 110), 180);
    EXPECT_EQ(DisplayY(650, 110), 63);  // trunc((36 − 23.4) × 5)
}

// The loop, buffer by buffer, on a song written to a temporary library.
class EvaluationLoopTest : public ::testing::Test {
protected:
    EvaluationLoopTest() : engine(view) {
        player.Open("music.mp3");
        player.Play();
    }

    void Load(const testing_support::SongFiles& files) {
        const auto folder = testing_support::WriteSong(library.Path(), "song", files);
        const auto song = CSong::Load(folder.string(), nullptr);
        ASSERT_TRUE(song);
        engine.StartRun(false);
        engine.BeginSong(song);
    }
    // A buffer at playback time t (the poller's, in whole milliseconds) whose first channel holds
    // a tone (or silence).
    CSingingEngine::Step Buffer(float t, double hz = 0.0) {
        for (int f = 0; f < kCaptureSamples / 2; ++f) {
            const auto v =
                static_cast<int16_t>(hz > 0 ? 8000 * std::sin(2 * M_PI * hz * f / 8000) : 0);
            buffer[2 * f] = buffer[2 * f + 1] = v;  // both channels, as a microphone gives them
        }
        player.SetClock(static_cast<int>(std::lround(t * 1000.0)));
        engine.PollPlaybackTime(player);
        const CSingingEngine::Step step = engine.HandleBuffer(buffer.data(), bytes, clockMs);
        if (step == CSingingEngine::Step::Finished) ++finished;
        return step;
    }

    testing_support::TemporaryFolder library;
    platform::MessageCapture messages;
    ScriptedView view;
    CSingingEngine engine;
    platform::CVirtualPlayer player;
    std::vector<int16_t> buffer = std::vector<int16_t>(kCaptureSamples);
    uint32_t bytes = kCaptureBufferBytes;
    int32_t clockMs = platform::kNoClockStamp;
    int finished = 0;
};

TEST_F(EvaluationLoopTest, ShortBuffersAreTracedAndDropped) {
    Load({"2", "1 9", "2 10", {{1, "3 700 700 700"}}});
    bytes = 3000;
    Buffer(1.5f);
    EXPECT_EQ(messages.Traces(), std::vector<std::string>{"No useful data\n"});
    EXPECT_TRUE(view.markers.empty());
}

TEST_F(EvaluationLoopTest, ALineConsumesItsFullBuffersThenItsRemainder) {
    // 12.00 s to 15.30 s: 52800 samples, 27 full buffers and a remainder of 960.
    Load({"3", "12.00 20 30", "15.30 25 31", {{1, "1 700"}, {2, "1 700"}}});
    for (int i = 0; i < 27; ++i) {
        Buffer(12.0f + 0.1f * i);  // the clock may lag the capture a little
        EXPECT_EQ(engine.Take(), kCaptureSamples);
    }
    EXPECT_EQ(engine.LineSamples(0), 52800);
    EXPECT_EQ(engine.LineBuffers(), 27);
    EXPECT_EQ(engine.LineRemainder(), 960);
    Buffer(14.95f);
    EXPECT_EQ(engine.Take(), 960);  // 480 engine samples
    Buffer(14.99f);
    EXPECT_EQ(engine.Take(), 960);
    EXPECT_EQ(engine.Line(), 0);
    Buffer(15.01f);  // past 15.30 − 0.3: the line is scored
    EXPECT_EQ(engine.Line(), 1);
    EXPECT_EQ(view.grades, std::vector<std::string>{"Miss"});
}

TEST_F(EvaluationLoopTest, ARemainderOfAtMost512SamplesIsNotTracked) {
    // 0.5 s: 8000 samples, four full buffers and a remainder of 320: 160 engine samples.
    Load({"3", "1 5 9", "1.5 9 10", {{1, "1 700"}, {2, "1 700"}}});
    for (int i = 0; i < 4; ++i) Buffer(1.0f + 0.04f * i, 440);
    EXPECT_EQ(view.markers.size(), 4u);
    Buffer(1.19f, 440);
    EXPECT_EQ(engine.Take(), 320);
    EXPECT_EQ(view.markers.size(), 4u);  // nothing compared
}

TEST(ReferenceIndexTest, FloorsTheMillisecondsOfTheBufferCentreSinceTheLineStart) {
    // floor((P − L − 60 − S) / 15), S the start rounded to the millisecond.
    EXPECT_EQ(ReferenceIndex(1060, 0, 1.0f), 0);
    EXPECT_EQ(ReferenceIndex(1074, 0, 1.0f), 0);
    EXPECT_EQ(ReferenceIndex(1075, 0, 1.0f), 1);
    EXPECT_EQ(ReferenceIndex(1059, 0, 1.0f), -1);  // −1 for −14 … −1, not 0
    EXPECT_EQ(ReferenceIndex(1046, 0, 1.0f), -1);
    EXPECT_EQ(ReferenceIndex(1044, 0, 1.0f), -2);
    EXPECT_EQ(ReferenceIndex(1210, 150, 1.0f), 0);  // the latency moves the buffer earlier
    // 2.0005 s rounds to 2001 ms; 12.3 as a float is 12.30000019 s, 12300 ms.
    EXPECT_EQ(ReferenceIndex(2061 + 15, 0, 2.0005f), 1);
    EXPECT_EQ(ReferenceIndex(12360 + 14, 0, 12.3f), 0);
    // Far outside the line the index stays an int.
    EXPECT_EQ(ReferenceIndex(INT64_MAX / 2, 0, 0.0f), INT_MAX);
    EXPECT_EQ(ReferenceIndex(INT64_MIN / 2, 1000, 3e9f), INT_MIN);
}

TEST_F(EvaluationLoopTest, TheIndexComesFromTheBufferStampOrElseThePollersTime) {
    std::string record = "100";
    for (int i = 0; i < 100; ++i) record += " 700";
    Load({"2", "1 20", "9 21", {{1, record}}});
    clockMs = 1360;  // (1360 − 60 − 1000) / 15 = 20
    Buffer(1.0f, 440);
    EXPECT_EQ(engine.RefIndex(), 20);
    engine.SetLatencyMs(120);  // (1480 − 120 − 60 − 1000) / 15 = 20
    clockMs = 1480;
    Buffer(1.1f, 440);
    EXPECT_EQ(engine.RefIndex(), 20);
    clockMs = platform::kNoClockStamp;  // fed by hand: the poller's 1.45 s
    Buffer(1.45f, 440);
    EXPECT_EQ(engine.RefIndex(), (1450 - 120 - 60 - 1000) / 15);
    engine.SetLatencyMs(5000);  // held to the largest latency taken
    EXPECT_EQ(engine.LatencyMs(), kMaxLatencyMs);
    engine.SetLatencyMs(-3);
    EXPECT_EQ(engine.LatencyMs(), 0);
}

TEST_F(EvaluationLoopTest, BeforeTheLineOnlyTheIdleMarkerMoves) {
    Load({"2", "5 9", "8 10", {{1, "3 700 700 700"}}});
    Buffer(1.0f, 440);
    ASSERT_EQ(view.markers.size(), 1u);
    EXPECT_EQ(view.markers[0].farFlag, 1);
    EXPECT_LT(view.markers[0].y, kHeight * 4 / 5);  // a voice: above the resting height
    EXPECT_EQ(engine.BuffersUsed(), 0);
    EXPECT_EQ(engine.VoicedBuffers(), 0);
}

TEST_F(EvaluationLoopTest, TheGradeStaysUntilTheMiddleOfTheNextLine) {
    Load({"3", "1 3 20", "2 5 21", {{1, "1 700"}, {2, "1 700"}}});
    Buffer(1.8f);  // line 0 ends
    EXPECT_EQ(view.grades, std::vector<std::string>{"Miss"});
    Buffer(3.5f);
    Buffer(4.0f);  // the middle of line 1: not past it yet
    EXPECT_EQ(view.grades.size(), 1u);
    Buffer(4.01f);
    EXPECT_EQ(view.grades, (std::vector<std::string>{"Miss", " "}));
}

TEST_F(EvaluationLoopTest, ASingleSongEndsWithTheMeanOfItsLines) {
    // 11 points, 10 lines, nothing sung: every line 0, the mean 0 over 10 lines.
    testing_support::SongFiles files{"11", "", "", {}};
    for (int i = 0; i < 11; ++i) {
        files.starts += std::to_string(1 + i) + " ";
        files.ends += std::to_string(1.5 + i) + " ";
        if (i < 10) files.lines[i + 1] = "2 700 700";
    }
    Load(files);
    for (int i = 0; i < 10; ++i) Buffer(1.3f + i);
    EXPECT_EQ(view.reports.size(), 10u);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(engine.Total(), 0.0f);
    // The final score also goes to the trace output, where scripts driving the program read it.
    EXPECT_EQ(messages.Traces(), std::vector<std::string>{"final score: 0.0\n"});
}

TEST(JudgeLine, EveryLineAlignsAllItSang) {
    Values record(401, 700);
    record[0] = 400;
    std::vector<int32_t> scratch;
    // 135 sung values against 400 voiced ones: the alignment runs and fails (too few), so only
    // the hit term counts: 3 × 8 / 135 × 100 × 0.5.
    Values sung(kSungCapacity, 0);
    std::fill_n(sung.begin(), 135, 700);
    LineJudgement line = JudgeLine(record.data(), sung.data(), 135, 3, 0, scratch);
    EXPECT_TRUE(line.bAligned);
    EXPECT_GE(line.fCost, kAlignFailed);
    EXPECT_FLOAT_EQ(line.fScore, 3 * 8 / 135.0f * 100 * 0.5f);
    // The alignment centres a copy: the record stays as it was.
    std::fill_n(sung.begin(), 400, 690);
    line = JudgeLine(record.data(), sung.data(), 400, 3, 0, scratch);
    EXPECT_TRUE(line.bAligned);
    EXPECT_LT(line.fCost, kAlignFailed);
    EXPECT_EQ(record, [] {
        Values expected(401, 700);
        expected[0] = 400;
        return expected;
    }());
}

}  // namespace
}  // namespace engine
