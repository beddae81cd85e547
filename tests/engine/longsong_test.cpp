// A 4-minute song of 80 lines, sung in time with the music by a faithful singer: every buffer is
// judged against the value the music plays at its centre from the first line to the last, so
// each line scores as well as it does in a short song.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/headlesssession.h"
#include "platform/messages.h"
#include "tests/support/performance.h"

namespace engine {
namespace {

using namespace testing_support;

constexpr double kSongSeconds = 240.0;

// The 80-line song of the benchmark: lines of 5 notes of about 2.9 s from 5 s on.
std::vector<Line> FourMinuteMelody() {
    std::vector<Line> melody = MakeMelody(80, 5, 42);
    while (melody.back().End() > kSongSeconds - 3.0) melody.pop_back();
    return melody;
}

// A headless session that keeps every judged buffer.
class RecordingSession : public CHeadlessSession {
public:
    using CHeadlessSession::CHeadlessSession;
    void OnBufferJudged(const BufferReport& report) override { buffers.push_back(report); }
    std::vector<BufferReport> buffers;
};

class LongSong : public ::testing::Test {
protected:
    // Sings a recording of the melody (made by `singer`) into the song `name` made of `lines`,
    // with the microphone latency given.
    SessionResult SingSong(const std::string& name, const std::vector<Line>& lines,
                           const std::vector<int16_t>& stereo, int latencyMs = 0,
                           RecordingSession* record = nullptr) {
        WriteSong(library.Path(), name, SongFilesOf(lines));
        RecordingSession own({name}, 1, library.Path().string());
        RecordingSession& session = record ? *record : own;
        session.SetLatencyMs(latencyMs);
        return session.Sing(stereo);
    }
    static std::vector<int16_t> Recording(const std::vector<Line>& melody, const Singer& singer) {
        return Stereo(Sing(melody, melody.back().End() + 3.0, singer));
    }

    // The melody sung as one song, and the same recording sung into songs of five of its lines
    // each. A song's last line aligns 2 s less, so the short songs overlap by a line and each line
    // is compared where it is not the last. Every line must score as it does in a short song.
    void CompareWithShortSongs(const std::vector<Line>& melody, const Singer& singer,
                               int latencyMs) {
        const std::vector<int16_t> stereo = Recording(melody, singer);
        const SessionResult whole = SingSong("long", melody, stereo, latencyMs);
        ASSERT_TRUE(whole.bCompleted) << whole.strError;
        ASSERT_EQ(whole.nLines, static_cast<int>(melody.size()));
        double difference = 0.0, shortSum = 0.0;
        std::size_t compared = 0;
        for (std::size_t first = 0; first + 1 < melody.size(); first += 4) {
            const std::size_t count = std::min<std::size_t>(5, melody.size() - first);
            const std::vector<Line> part(
                melody.begin() + static_cast<std::ptrdiff_t>(first),
                melody.begin() + static_cast<std::ptrdiff_t>(first + count));
            const SessionResult alone =
                SingSong("part" + std::to_string(first), part, stereo, latencyMs);
            ASSERT_TRUE(alone.bCompleted) << alone.strError;
            const std::size_t lines = first + count == melody.size() ? count : count - 1;
            for (std::size_t l = 0; l < lines; ++l) {
                const float inSong = whole.songs[0].lines[first + l].fScore;
                const float inPart = alone.songs[0].lines[l].fScore;
                EXPECT_NEAR(inSong, inPart, 5.0f) << "line " << first + l + 1;
                difference += std::abs(inSong - inPart);
                shortSum += inPart;
                ++compared;
            }
        }
        ASSERT_EQ(compared, melody.size());
        const double n = static_cast<double>(compared);
        EXPECT_LT(difference / n, 0.5) << "mean difference of a line's score";
        // The whole song scores as the same singer does on the five-line songs.
        EXPECT_NEAR(whole.fFinal, shortSum / n, 3.0);
        EXPECT_GE(whole.fFinal, 85.0f);
    }

    TemporaryFolder library;
    platform::MessageCapture messages;  // the missing lyrics' messages and the traces
};

TEST_F(LongSong, EveryLineScoresAsInAShortSong) {
    CompareWithShortSongs(FourMinuteMelody(), Singer{}, 0);
}

TEST_F(LongSong, EveryLineScoresAsInAShortSongWithGapsBetweenLines) {
    CompareWithShortSongs(WithGaps(FourMinuteMelody(), 7, 0.5, 3.0), Singer{}, 0);
}

TEST_F(LongSong, ALateMicrophoneIsJudgedAtTheMusicsMomentWithItsLatency) {
    // The microphone hands the sound over 150 ms late; the latency says so.
    Singer late;
    late.early = -0.150;
    const std::vector<Line> melody = FourMinuteMelody();
    CompareWithShortSongs(melody, late, 150);
    CompareWithShortSongs(WithGaps(melody, 9, 0.5, 3.0), late, 150);
    // Without the latency the same recording is judged 150 ms off and scores lower.
    const std::vector<Line> opening = FirstLines(melody, 20);
    const std::vector<int16_t> stereo = Recording(opening, late);
    const SessionResult withLatency = SingSong("latency", opening, stereo, 150);
    const SessionResult without = SingSong("nolatency", opening, stereo, 0);
    ASSERT_TRUE(withLatency.bCompleted && without.bCompleted);
    EXPECT_GT(withLatency.fFinal, without.fFinal + 2.0f);
}

TEST_F(LongSong, EveryBufferIsJudgedAgainstTheValueAtItsCentre) {
    for (const bool gaps : {false, true}) {
        const std::vector<Line> melody =
            gaps ? WithGaps(FourMinuteMelody(), 3, 0.5, 3.0) : FourMinuteMelody();
        RecordingSession session({"long"}, 1, library.Path().string());
        const SessionResult result =
            SingSong("long", melody, Recording(melody, Singer{}), 0, &session);
        ASSERT_TRUE(result.bCompleted) << result.strError;
        ASSERT_GT(session.buffers.size(), 1500u);
        int lastLine = -1;
        for (const BufferReport& buffer : session.buffers) {
            // Buffer i covers song time 0.12 i to 0.12 (i + 1) s and arrives at its end.
            ASSERT_EQ(buffer.nClockMs % 120, 0);
            const double centre = (buffer.nClockMs - 60) / 1000.0;
            const Line& line = melody[static_cast<std::size_t>(buffer.nLine)];
            const double playing = std::floor((centre - line.start) / kValueSeconds);
            ASSERT_NEAR(buffer.nRefIndex, playing, 1.0)
                << "line " << buffer.nLine + 1 << " at " << buffer.nClockMs << " ms";
            lastLine = std::max(lastLine, buffer.nLine);
        }
        EXPECT_EQ(lastLine, static_cast<int>(melody.size()) - 1);
    }
}

}  // namespace
}  // namespace engine
