// Judging songs shaped like the ones people sing: the UltraStar songs of tests/data/songs
// (public-domain melodies phrased as song files phrase them: short syllables with rests between
// them, held phrase ends, breaths, patter lines, a duet), each sung in both roles by sampled
// voices (tests/data/songs/render.py) over room noise: faithfully (solo, with vibrato, as a choir),
// late, early, in another key, an octave up, with wrong notes, as one held note, as another tune
// and not at all. Standard and Strict must be fair to the faithful singer and tell every wrong
// take from the right one; Easy is printed beside them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
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
namespace fs = std::filesystem;

// What a take is made of: a rendered performance, shifted by some seconds (late > 0), or none.
struct Take {
    const char* name;
    const char* render;  // "" for silence
    double late;
};
constexpr Take kTakes[] = {
    {"faithful", "faithful", 0.0}, {"vibrato", "vibrato", 0.0},  {"choir", "choir", 0.0},
    {"late", "faithful", 0.25},    {"early", "faithful", -0.25}, {"higher3", "higher3", 0.0},
    {"octave", "octave", 0.0},     {"wrong", "wrong", 0.0},      {"held", "held", 0.0},
    {"other", "other", 0.0},       {"silence", "", 0.0},
};

// The bounds a take's score must keep at Standard and Strict.
enum class Rule { AtLeast, AtMost, NearFaithful };
struct Bound {
    const char* take;
    Rule rule;
    float standard, strict;
};
constexpr Bound kBounds[] = {
    {"faithful", Rule::AtLeast, 85, 80},   {"vibrato", Rule::AtLeast, 85, 80},
    {"late", Rule::NearFaithful, 5, 5},    {"early", Rule::NearFaithful, 5, 5},
    {"higher3", Rule::NearFaithful, 3, 3}, {"octave", Rule::NearFaithful, 3, 3},
    {"wrong", Rule::AtMost, 60, 50},       {"held", Rule::AtMost, 35, 25},
    {"other", Rule::AtMost, 25, 15},       {"silence", Rule::AtMost, 0, 0},
};
const char* const kWrongTakes[] = {"wrong", "held", "other", "silence"};

std::string SongsData() { return std::string(QUORVEL_TEST_DATA) + "/songs"; }

// The recording of a take over room noise, as long as the song and a little more.
std::vector<int16_t> Recording(const fs::path& folder, int role, const Take& take, double seconds) {
    std::vector<int16_t> mono = RoomNoise(seconds);
    if (*take.render == '\0') return mono;
    const std::vector<int16_t> voice = DecodeVoice(
        (folder / ("role" + std::to_string(role) + "-" + take.render + ".ogg")).string());
    const auto shift = static_cast<std::ptrdiff_t>(take.late * kRate);
    for (std::ptrdiff_t i = 0; i < static_cast<std::ptrdiff_t>(mono.size()); ++i) {
        const std::ptrdiff_t from = i - shift;
        if (from >= 0 && from < static_cast<std::ptrdiff_t>(voice.size()))
            mono[static_cast<std::size_t>(i)] = static_cast<int16_t>(std::clamp<int>(
                mono[static_cast<std::size_t>(i)] + voice[static_cast<std::size_t>(from)], -32768,
                32767));
    }
    return mono;
}

float Median(std::vector<float> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0.0f : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

TEST(RealSongs, StandardAndStrictAreFairToAFaithfulSingerAndTellWrongTakes) {
    platform::MessageCapture messages;
    std::vector<fs::path> songs;
    for (const auto& entry : fs::directory_iterator(SongsData()))
        if (entry.is_directory()) songs.push_back(entry.path());
    std::sort(songs.begin(), songs.end());
    ASSERT_GE(songs.size(), 10u);

    // scores[take][level]: one per song and role.
    std::map<std::string, std::array<std::vector<float>, 3>> scores;
    std::printf("%-22s role %-9s   easy standard strict\n", "song", "take");
    for (const fs::path& folder : songs) {
        const std::string name = folder.filename().string();
        const SongRef ref{name, (folder / (name + ".txt")).string()};
        for (const int role : {1, 2}) {
            std::map<std::string, std::array<float, 3>> song;
            double seconds = 0.0;
            for (const Take& take : kTakes) {
                if (seconds == 0.0) {
                    // The faithful take comes first: the song lasts as long, and 3 s more.
                    seconds =
                        static_cast<double>(
                            DecodeVoice((folder / ("role" + std::to_string(role) + "-faithful.ogg"))
                                            .string())
                                .size()) /
                            kRate +
                        3.0;
                }
                const std::vector<int16_t> stereo = Stereo(Recording(folder, role, take, seconds));
                std::array<float, 3>& got = song[take.name];
                for (const JudgingLevel level : kJudgingLevels) {
                    CHeadlessSession session({ref}, role);
                    session.SetJudgingLevel(level);
                    const SessionResult result = session.Sing(stereo);
                    ASSERT_TRUE(result.bCompleted) << name << ": " << result.strError;
                    const auto l = static_cast<std::size_t>(level);
                    got[l] = result.fFinal;
                    scores[take.name][l].push_back(result.fFinal);
                }
                std::printf("%-22s %4d %-9s %6.1f %8.1f %6.1f\n", name.c_str(), role, take.name,
                            static_cast<double>(got[0]), static_cast<double>(got[1]),
                            static_cast<double>(got[2]));
            }
            SCOPED_TRACE(name + ", role " + std::to_string(role));
            for (const Bound& bound : kBounds) {
                for (const int l : {1, 2}) {
                    const float score = song[bound.take][static_cast<std::size_t>(l)];
                    const float limit = l == 1 ? bound.standard : bound.strict;
                    const float faithful = song["faithful"][static_cast<std::size_t>(l)];
                    SCOPED_TRACE(std::string(bound.take) + " at " +
                                 JudgingLevelName(kJudgingLevels[l]));
                    switch (bound.rule) {
                        case Rule::AtLeast:
                            EXPECT_GE(score, limit);
                            break;
                        case Rule::AtMost:
                            EXPECT_LE(score, limit);
                            break;
                        case Rule::NearFaithful:
                            EXPECT_NEAR(score, faithful, limit);
                            break;
                    }
                }
            }
            for (const char* wrong : kWrongTakes)
                EXPECT_GE(song["faithful"][1], song[wrong][1] + 25.0f) << wrong;
        }
    }

    std::printf("\nmedian over %zu songs and both roles:\n%-9s   easy standard strict\n",
                songs.size(), "take");
    for (const Take& take : kTakes) {
        const auto& levels = scores[take.name];
        std::printf("%-9s %6.1f %8.1f %6.1f\n", take.name, static_cast<double>(Median(levels[0])),
                    static_cast<double>(Median(levels[1])), static_cast<double>(Median(levels[2])));
    }
    EXPECT_GE(Median(scores["faithful"][1]), 92.0f);
    EXPECT_GE(Median(scores["faithful"][2]), 88.0f);
    EXPECT_GE(Median(scores["vibrato"][1]), 92.0f);
    EXPECT_GE(Median(scores["vibrato"][2]), 88.0f);
    EXPECT_GE(Median(scores["choir"][1]), 85.0f);
    EXPECT_GE(Median(scores["choir"][2]), 80.0f);
}

}  // namespace
}  // namespace engine
