// Whole songs sung by made-up singers through the headless session, as the dialog sings them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "engine/headlesssession.h"
#include "engine/judginglevel.h"
#include "platform/messages.h"
#include "tests/support/performance.h"

namespace engine {
namespace {

using namespace testing_support;

class Performance : public ::testing::Test {
protected:
    void SetUp() override {
        melody = MakeMelody(6, 5, /*seed=*/11);
        WriteSong(library.Path(), "song", SongFilesOf(melody));
    }

    SessionResult SingSong(const Singer& singer, int role = 1) {
        CHeadlessSession session({"song"}, role, library.Path().string());
        const double seconds = melody.back().End() + 3.0;
        return session.Sing(Stereo(Sing(melody, seconds, singer)));
    }

    static int Count(const SessionResult& result, const std::string& grade) {
        int count = 0;
        for (const auto& song : result.songs)
            for (const auto& line : song.lines) count += line.strGrade == grade;
        return count;
    }

    TemporaryFolder library;
    std::vector<Line> melody;
    platform::MessageCapture messages;  // the missing lyric's message and the traces
};

TEST_F(Performance, FaithfulSingingIsPerfectOnMostLines) {
    const SessionResult result = SingSong(Singer{});
    ASSERT_TRUE(result.bCompleted) << result.strError;
    ASSERT_EQ(result.nLines, 6);
    EXPECT_GE(Count(result, "Perfect"), 4);
    EXPECT_GE(result.fFinal, 85.0f);
    // The final score is the mean of the line scores.
    float sum = 0.0f;
    for (const auto& line : result.songs[0].lines) sum += line.fScore;
    EXPECT_FLOAT_EQ(result.fFinal, sum / 6.0f);
}

TEST_F(Performance, TheSecondRoleSingsEightSemitonesLower) {
    Singer second;
    second.nOffset = 80;
    const SessionResult result = SingSong(second, /*role=*/2);
    ASSERT_TRUE(result.bCompleted) << result.strError;
    EXPECT_GE(result.fFinal, 80.0f);
}

TEST_F(Performance, AKeyTwoSemitonesHigherStillScoresHigh) {
    const SessionResult faithful = SingSong(Singer{});
    Singer higher;
    higher.semitones = 2.0;
    CHeadlessSession session({"song"}, 1, library.Path().string());
    const SessionResult result =
        session.Sing(Stereo(Sing(melody, melody.back().End() + 3.0, higher)));
    ASSERT_TRUE(result.bCompleted) << result.strError;
    EXPECT_GE(result.fFinal, 85.0f);
    EXPECT_GE(result.fFinal, faithful.fFinal - 10.0f);
    // The singer's key is found: about 20 tenths of a semitone above the reference.
    EXPECT_NEAR(session.Engine().KeyOffset(), 20, 5);
}

TEST_F(Performance, SilenceIsAMissOnEveryLine) {
    CHeadlessSession session({"song"}, 1, library.Path().string());
    const SessionResult result =
        session.Sing(std::vector<int16_t>(static_cast<std::size_t>(2 * kRate * 10), 0));
    ASSERT_TRUE(result.bCompleted) << result.strError;
    EXPECT_EQ(result.nLines, 6);
    EXPECT_EQ(Count(result, "Miss"), 6);
    EXPECT_EQ(result.fFinal, 0.0f);
    for (const auto& line : result.songs[0].lines) {
        EXPECT_EQ(line.nSung, 0);
        EXPECT_FALSE(line.bAligned);
    }
}

TEST_F(Performance, RandomNotesScoreClearlyBelowTheMelody) {
    const SessionResult faithful = SingSong(Singer{});
    Singer random;
    random.randomNotes = true;
    random.seed = 5;
    const SessionResult result = SingSong(random);
    ASSERT_TRUE(result.bCompleted) << result.strError;
    EXPECT_LT(result.fFinal, faithful.fFinal - 25.0f);
}

TEST_F(Performance, AMedleyAveragesOverTheLinesOfAllFourSongs) {
    // Songs of 6, 9, 11 and 5 points: 5 + 8 + 10 + 4 = 27 lines.
    const int lines[4] = {5, 8, 10, 4};
    std::vector<std::vector<Line>> melodies;
    std::vector<int16_t> recording;
    std::vector<std::string> names;
    for (int s = 0; s < 4; ++s) {
        melodies.push_back(MakeMelody(lines[s], 3, 20 + s, 4.5));
        names.push_back("song" + std::to_string(s));
        WriteSong(library.Path(), names.back(), SongFilesOf(melodies.back()), /*medley=*/true);
    }
    // The singer sings song 1 and stays silent in the other songs.
    recording = Stereo(Sing(melodies[0], melodies[0].back().End() + 2.0, Singer{}));
    CHeadlessSession session(names, 1, library.Path().string());
    const SessionResult result = session.Sing(recording);
    ASSERT_TRUE(result.bCompleted) << result.strError;
    ASSERT_EQ(result.songs.size(), 4u);
    EXPECT_EQ(result.nLines, 27);
    float sum = 0.0f;
    for (int s = 0; s < 4; ++s) {
        EXPECT_EQ(result.songs[s].strName, names[s]);
        EXPECT_EQ(static_cast<int>(result.songs[s].lines.size()), lines[s]);
        for (const auto& line : result.songs[s].lines) sum += line.fScore;
    }
    EXPECT_GT(sum, 0.0f);
    EXPECT_FLOAT_EQ(result.fFinal, sum / 27.0f);
}

TEST_F(Performance, ASongThatFailsToLoadDoesNotStart) {
    testing_support::WriteFile(library.Path() / "歌曲/单曲/song/2", "");
    CHeadlessSession session({"song"}, 1, library.Path().string());
    const SessionResult result = session.Sing(std::vector<int16_t>(2 * kRate, 0));
    EXPECT_FALSE(result.bCompleted);
    EXPECT_NE(result.strError.find("歌曲/单曲/song/2"), std::string::npos) << result.strError;
    EXPECT_EQ(result.nLines, 0);
    EXPECT_EQ(session.Engine().Song(), nullptr);
}

TEST_F(Performance, AMedleyEndsWhenItsNextSongFailsToLoad) {
    const std::vector<std::string> names = {"m0", "m1", "m2", "m3"};
    for (int s = 0; s < 4; ++s) {
        WriteSong(library.Path(), names[s], SongFilesOf(MakeMelody(2, 2, 30 + s, 4.5)), true);
    }
    testing_support::WriteFile(library.Path() / "歌曲/串烧歌曲/m2/断点", "zero");
    CHeadlessSession session(names, 1, library.Path().string());
    const SessionResult result = session.Sing({});
    EXPECT_FALSE(result.bCompleted);
    EXPECT_EQ(result.songs.size(), 2u);
    EXPECT_EQ(result.nLines, 4);
    EXPECT_NE(result.strError.find("m2/断点"), std::string::npos) << result.strError;
    EXPECT_EQ(session.Engine().Song(), nullptr);
}

// The record of every judged buffer, kept for the review, agrees with what the engine counted:
// at every level, for a faithful, a transposed and a late singer.
TEST_F(Performance, TheBufferRecordAgreesWithTheLineCounts) {
    Singer higher, late;
    higher.semitones = 2.0;
    late.early = -0.3;
    for (const JudgingLevel level : kJudgingLevels) {
        for (const Singer& singer : {Singer{}, higher, late}) {
            CHeadlessSession session({"song"}, 1, library.Path().string());
            session.SetJudgingLevel(level);
            const SessionResult result =
                session.Sing(Stereo(Sing(melody, melody.back().End() + 3.0, singer)));
            ASSERT_TRUE(result.bCompleted) << result.strError;
            const SongResult& song = result.songs.at(0);
            ASSERT_TRUE(song.song);
            const int32_t* record = song.song->Records();
            int hits = 0, nears = 0, sung = 0, line = 0, judged = 0;
            auto close = [&](const LineReport& report) {
                EXPECT_EQ(hits, report.nHits) << JudgingLevelName(level) << " line " << line;
                EXPECT_EQ(nears, report.nNears) << JudgingLevelName(level) << " line " << line;
                EXPECT_EQ(sung, report.nSung) << JudgingLevelName(level) << " line " << line;
                EXPECT_GT(judged, 10);
                hits = nears = sung = judged = 0;
                record += record[0] + 1;
                ++line;
            };
            for (const BufferReport& buffer : song.buffers) {
                while (buffer.nLine > line) close(song.lines.at(static_cast<std::size_t>(line)));
                ++judged;
                hits += buffer.bCountedHit;
                nears += buffer.bCountedNear;
                sung += buffer.nAppended;
                EXPECT_FALSE(buffer.bCountedHit && !buffer.bHit);
                EXPECT_FALSE(buffer.bCountedNear && !buffer.bNear);
                const bool inside = buffer.nRefIndex >= 0 && buffer.nRefIndex < record[0];
                EXPECT_EQ(buffer.nRefValue, inside ? record[1 + buffer.nRefIndex] : 0);
            }
            close(song.lines.back());
            EXPECT_EQ(line, static_cast<int>(song.lines.size()));
        }
    }
}

// Practising a line after singing the song: the accompaniment starts 2 s before the line on the
// song's 0.6 s grid, the line takes up what the song had learnt of the singer when it reached it,
// and the singer sings what they sang there in the song. Every attempt scores the line exactly as
// the whole song did, buffer by buffer, at every level and for every singer.
TEST_F(Performance, APractisedLineScoresAsInTheWholeSong) {
    Singer higher, late;
    higher.semitones = 2.0;
    late.early = -0.3;
    for (const JudgingLevel level : kJudgingLevels) {
        for (const Singer& singer : {Singer{}, higher, late}) {
            const std::vector<int16_t> whole =
                Stereo(Sing(melody, melody.back().End() + 3.0, singer));
            CHeadlessSession session({"song"}, 1, library.Path().string());
            session.SetJudgingLevel(level);
            const SessionResult run = session.Sing(whole);
            ASSERT_TRUE(run.bCompleted) << run.strError;
            const SongResult& song = run.songs.at(0);
            for (const int line : {1, 4, 5}) {
                SCOPED_TRACE(std::string(JudgingLevelName(level)) + " line " +
                             std::to_string(line) + " " + std::to_string(singer.semitones) +
                             " semitones, " + std::to_string(singer.early) + " s early");
                const int from = PracticeStartMs(*song.song, line);
                EXPECT_EQ(from % 600, 0);
                EXPECT_LE(from, std::lround(song.song->Start(line) * 1000) - 2000);
                EXPECT_GT(from, std::lround(song.song->Start(line) * 1000) - 2600);
                // The take: what the singer sang from the moment the music started.
                const std::vector<int16_t> take(whole.begin() + std::ptrdiff_t(from) * 8 * 2,
                                                whole.end());
                ASSERT_GT(song.carries.size(), std::size_t(line));
                const LineCarry& carry = song.carries[std::size_t(line)];
                ASSERT_EQ(carry.nLine, line);
                const SessionResult practice = session.Practise(take, line, 2, &carry);
                ASSERT_TRUE(practice.bCompleted) << practice.strError;
                ASSERT_EQ(practice.attempts.size(), 2u);
                ASSERT_EQ(practice.songs.size(), 2u);
                const LineReport& expected = song.lines.at(std::size_t(line));
                std::vector<BufferReport> expectedBuffers;
                for (const BufferReport& buffer : song.buffers)
                    if (buffer.nLine == line) expectedBuffers.push_back(buffer);
                for (const SongResult& attempt : practice.songs) {
                    ASSERT_EQ(attempt.lines.size(), 1u);
                    const LineReport& got = attempt.lines[0];
                    EXPECT_EQ(got.nLine, line);
                    EXPECT_EQ(got.fScore, expected.fScore);
                    EXPECT_EQ(got.nHits, expected.nHits);
                    EXPECT_EQ(got.nNears, expected.nNears);
                    EXPECT_EQ(got.nSung, expected.nSung);
                    ASSERT_EQ(attempt.buffers.size(), expectedBuffers.size());
                    for (std::size_t b = 0; b < expectedBuffers.size(); ++b) {
                        EXPECT_EQ(attempt.buffers[b].nClockMs, expectedBuffers[b].nClockMs);
                        EXPECT_EQ(attempt.buffers[b].bHit, expectedBuffers[b].bHit);
                        EXPECT_EQ(attempt.buffers[b].nRefIndex, expectedBuffers[b].nRefIndex);
                    }
                }
                EXPECT_EQ(practice.attempts[0], expected.fScore);
                EXPECT_EQ(practice.attempts[1], expected.fScore);
            }
        }
    }
}

}  // namespace
}  // namespace engine
