// The judging levels on sampled-voice performances (tests/data/voice, rendered by fluidsynth from
// MIDI): a song of four 5-second lines sung faithfully, two semitones higher, 0.3 s late, an
// octave up, with every fourth note a minor third off, as one held note, as another tune, and not
// at all; in both roles, at every level. Easy is the judging the program has always had and stays
// as lenient as it was; Standard and Strict must tell the wrong performances from the right ones.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/headlesssession.h"
#include "engine/judginglevel.h"
#include "platform/messages.h"
#include "platform/virtualplayer.h"
#include "tests/support/performance.h"
#include "tests/support/pitchaccuracy.h"

namespace engine {
namespace {

using namespace testing_support;

// The song of the recordings: one line per row, "start pitch:values …".
std::vector<Line> ReadSong(const std::string& path) {
    std::ifstream in(path);
    std::vector<Line> melody;
    std::string row;
    while (std::getline(in, row)) {
        std::istringstream words(row);
        Line line{};
        words >> line.start;
        int pitch = 0, values = 0;
        char colon = 0;
        while (words >> pitch >> colon >> values) line.notes.push_back({pitch, values});
        melody.push_back(line);
    }
    return melody;
}

struct Bounds {
    const char* performance;
    bool atLeast;  // the scores must reach the bounds (else stay at or below them)
    float standard;
    float strict;
};

class JudgingLevels : public ::testing::Test {
protected:
    void SetUp() override {
        melody = ReadSong(VoiceData("song.txt"));
        ASSERT_EQ(melody.size(), 4u);
        WriteSong(library.Path(), "song", SongFilesOf(melody));
    }

    float Score(const std::vector<int16_t>& mono, int role, JudgingLevel level) {
        CHeadlessSession session({"song"}, role, library.Path().string());
        session.SetJudgingLevel(level);
        const SessionResult result = session.Sing(Stereo(mono));
        EXPECT_TRUE(result.bCompleted) << result.strError;
        EXPECT_EQ(result.nLines, 4);
        return result.fFinal;
    }

    TemporaryFolder library;
    std::vector<Line> melody;
    platform::MessageCapture messages;  // the missing lyric's message and the traces
};

TEST_F(JudgingLevels, StandardAndStrictTellWrongNotesFromRightOnesInBothRoles) {
    const Bounds table[] = {
        {"faithful", true, 95, 90}, {"higher", true, 90, 85}, {"late", true, 85, 80},
        {"octave", true, 90, 85},   {"wrong", false, 80, 70}, {"drone", false, 35, 25},
        {"other", false, 30, 20},   {"silence", false, 0, 0}, {"noise", false, 0, 0},
    };
    std::printf("role performance    easy standard strict\n");
    for (const int role : {1, 2}) {
        std::map<std::string, float> easy, standard;
        for (const Bounds& row : table) {
            const std::string name = row.performance;
            std::vector<int16_t> mono;
            if (name == "silence")
                mono.assign(26 * kRate, 0);
            else if (name == "noise")
                mono = RoomNoise(26.0);
            else
                mono = DecodeVoice(VoiceData("role" + std::to_string(role) + "-" + name + ".ogg"));
            const float scores[3] = {Score(mono, role, JudgingLevel::Easy),
                                     Score(mono, role, JudgingLevel::Standard),
                                     Score(mono, role, JudgingLevel::Strict)};
            std::printf("%4d %-11s %6.1f %8.1f %6.1f\n", role, row.performance,
                        static_cast<double>(scores[0]), static_cast<double>(scores[1]),
                        static_cast<double>(scores[2]));
            SCOPED_TRACE("role " + std::to_string(role) + ", " + name);
            if (row.atLeast) {
                EXPECT_GE(scores[1], row.standard);
                EXPECT_GE(scores[2], row.strict);
            } else {
                EXPECT_LE(scores[1], row.standard);
                EXPECT_LE(scores[2], row.strict);
            }
            easy[name] = scores[0];
            standard[name] = scores[1];
        }
        // Easy stays the judging it always was: right singing scores high, and it is lenient with a
        // held note and with wrong notes, which the stricter levels are not.
        EXPECT_GE(easy["faithful"], 95.0f);
        EXPECT_GE(easy["wrong"], 85.0f);
        EXPECT_GE(easy["drone"], 70.0f);
        EXPECT_GT(easy["drone"], standard["drone"] + 30.0f);
        EXPECT_EQ(easy["silence"], 0.0f);
    }
}

// Sings a made-up voice into the engine directly, buffer i stamped 120 (i + 1) ms, and keeps
// every line's score and the clock it was scored at.
struct Scored {
    std::vector<float> scores;
    std::vector<int> clocks;
};
class CScoringView : public CNullEngineView {
public:
    void OnLineScored(const LineReport& report) override {
        scored.scores.push_back(report.fScore);
        scored.clocks.push_back(clock);
    }
    Scored scored;
    int clock = 0;
};
Scored SingDirectly(const std::vector<Line>& melody, const std::vector<int16_t>& mono,
                    JudgingLevel level) {
    std::vector<float> starts, ends;
    std::vector<std::vector<int32_t>> records;
    for (const Line& line : melody) {
        starts.push_back(static_cast<float>(line.start));
        ends.push_back(static_cast<float>(line.End()));
        records.emplace_back();
        for (const Note& note : line.notes)
            records.back().insert(records.back().end(), note.nValues, note.nPitch);
    }
    starts.push_back(ends.back() + 1.0f);
    ends.push_back(ends.back() + 2.0f);
    CScoringView view;
    CSingingEngine engine(view);
    engine.SetJudgingLevel(level);
    engine.StartRun(false);
    engine.BeginSong(std::make_shared<const CSong>(starts, ends, records));
    platform::CVirtualPlayer player;
    player.Open("", {});
    player.PlayFrom(0);
    const std::vector<int16_t> stereo = Stereo(mono);
    for (std::size_t first = 0; first + 1920 <= stereo.size(); first += 1920) {
        view.clock += 120;
        player.SetClock(view.clock);
        engine.PollPlaybackTime(player);
        if (engine.HandleBuffer(stereo.data() + first, 3840, view.clock) !=
            CSingingEngine::Step::Singing)
            break;
    }
    return view.scored;
}

// Phrasings real songs have: one held note, lines shorter than a capture buffer, a long phrase
// only partly sung. Each level scores every line whose time has come, and Standard and Strict
// give a held note sung as written full marks and score what was not sung as not sung.
TEST(Phrasings, EveryLineIsScoredWhenItsTimeComes) {
    platform::MessageCapture messages;
    // One phrase of one note held for 3 s.
    const std::vector<Line> held = {{2.0, {{660, 200}}}};
    // 300 phrases of one 50 ms note each, 0.1 s apart, from 1 s.
    std::vector<Line> brief;
    for (int i = 0; i < 300; ++i) brief.push_back({1.0 + 0.1 * i, {{i % 2 ? 640 : 700, 3}}});
    // A phrase of 120 s, sung for its first 30 s only.
    std::vector<Line> long_ = {{1.0, {}}};
    for (int i = 0; i < 240; ++i) long_[0].notes.push_back({600 + 10 * (i % 7), 33});
    std::vector<Line> quarter = long_;
    quarter[0].notes.resize(60);

    struct Case {
        const char* name;
        const std::vector<Line>& melody;
        const std::vector<Line>& sung;
        float atLeast, atMost;  // at Standard and Strict
    };
    const Case cases[] = {
        {"one held note", held, held, 95.0f, 100.0f},
        {"lines shorter than a buffer", brief, brief, 0.0f, 100.0f},
        {"a long phrase sung for a quarter", long_, quarter, 0.0f, 30.0f},
    };
    for (const Case& c : cases) {
        const double seconds = c.melody.back().End() + 2.0;
        const std::vector<int16_t> mono = Sing(c.sung, seconds, Singer{});
        for (const JudgingLevel level : kJudgingLevels) {
            SCOPED_TRACE(std::string(c.name) + " at " + JudgingLevelName(level));
            const Scored scored = SingDirectly(c.melody, mono, level);
            ASSERT_EQ(scored.scores.size(), c.melody.size());
            // Scored when its time comes: the last line within a second of its end.
            EXPECT_LE(scored.clocks.back(), (c.melody.back().End() + 1.0) * 1000);
            float mean = 0.0f;
            for (const float score : scored.scores) mean += score / scored.scores.size();
            std::printf("%-34s %-8s %6.1f\n", c.name, JudgingLevelName(level),
                        static_cast<double>(mean));
            if (level == JudgingLevel::Easy) continue;
            EXPECT_GE(mean, c.atLeast);
            EXPECT_LE(mean, c.atMost);
        }
    }
}

}  // namespace
}  // namespace engine
