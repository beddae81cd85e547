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

}  // namespace
}  // namespace engine
