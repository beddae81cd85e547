#include "engine/ultrastarreference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/ultrastarfile.h"

namespace engine {
namespace {

UltraStarFile Read(const std::string& text) {
    UltraStarFile file;
    UltraStarProblem problem;
    EXPECT_TRUE(ReadUltraStarFile(text, file, problem)) << problem.strProblem;
    return file;
}

// The reference value of MIDI note m.
int32_t Value(int midi) { return 10 * midi + 120; }

std::vector<int> LyricIndices(const UltraStarLine& line) {
    std::vector<int> indices;
    for (const auto& lyric : line.lyrics) indices.push_back(lyric.nIndex);
    return indices;
}

// BPM 300 and GAP 1000: beat b is at 1 + 0.05 b seconds. Pitch 5 is MIDI 65, whose octave
// below (53) lies in 48…59, so k = −1.
TEST(UltraStarReferenceTest, OneNoteGivesOneLineOfItsValue) {
    const UltraStarFile file = Read("#BPM:300\n#GAP:1000\n: 0 3 5 la\n");
    const std::vector<UltraStarLine> lines = UltraStarReference(file, 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_DOUBLE_EQ(lines[0].dStart, 1.0);
    EXPECT_DOUBLE_EQ(lines[0].dEnd, 1.15);
    EXPECT_EQ(lines[0].nFirstBeat, 0);
    EXPECT_EQ(lines[0].nLastBeatEnd, 3);
    EXPECT_EQ(UltraStarOctaveShift(file, 0), -1);
    // 0.15 s at one value per 15 ms: 10 values, the last at 1.135 s, all in the note.
    EXPECT_EQ(lines[0].values, std::vector<int32_t>(10, Value(53)));
    ASSERT_EQ(lines[0].lyrics.size(), 1u);
    EXPECT_EQ(lines[0].lyrics[0].strText, "la");
    EXPECT_EQ(lines[0].lyrics[0].nIndex, 0);
}

// BPM 1000 and GAP 0: a beat lasts exactly one value (15 ms), and the times of values 4, 8 and
// 12 equal the times of beats 4, 8 and 12 to the last bit.
TEST(UltraStarReferenceTest, ANoteCoversItsStartButNotItsEnd) {
    // Pitches 0 and 12: lower median 60, k = −1, so the notes sound as MIDI 48 and 60.
    UltraStarFile file = Read("#BPM:1000\n: 0 4 0 a\n: 4 4 12 b\n");
    std::vector<UltraStarLine> lines = UltraStarReference(file, 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].values, (std::vector<int32_t>{Value(48), Value(48), Value(48), Value(48),
                                                     Value(60), Value(60), Value(60), Value(60)}));
    EXPECT_EQ(LyricIndices(lines[0]), (std::vector<int>{0, 4}));

    // A rest from beat 4 to 8: value 4 (at the end of a) is a rest, value 8 is in b.
    file = Read("#BPM:1000\n: 0 4 0 a\n: 8 4 12 b\n");
    lines = UltraStarReference(file, 0);
    ASSERT_EQ(lines.size(), 1u);
    const int32_t a = Value(48), b = Value(60);
    EXPECT_EQ(lines[0].values, (std::vector<int32_t>{a, a, a, a, 0, 0, 0, 0, b, b, b, b}));
    EXPECT_EQ(LyricIndices(lines[0]), (std::vector<int>{0, 8}));
}

TEST(UltraStarReferenceTest, ValueCountRoundsHalvesUpAndIsAtLeastTwo) {
    // BPM 2000: a beat is 7.5 ms, half a value. 5 beats are 2.5 values, 21 beats 10.5.
    struct Case {
        int nBeats;
        std::size_t nValues;
    };
    for (const Case c : {Case{5, 3}, Case{21, 11}, Case{1, 2}, Case{2, 2}, Case{0, 2}}) {
        SCOPED_TRACE(c.nBeats);
        const UltraStarFile file = Read("#BPM:2000\n: 0 " + std::to_string(c.nBeats) + " 0 x\n");
        const std::vector<UltraStarLine> lines = UltraStarReference(file, 0);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].values.size(), c.nValues);
    }
    // One beat of BPM 1000 is one value: the second value, at the note's end, is a rest.
    const UltraStarFile file = Read("#BPM:1000\n: 0 1 0 x\n");
    EXPECT_EQ(UltraStarReference(file, 0)[0].values, (std::vector<int32_t>{Value(48), 0}));
}

TEST(UltraStarReferenceTest, OctaveShiftPutsTheLowerMedianIn48To59) {
    struct Case {
        std::vector<int> pitches;  // of normal notes, in order
        int nShift;
    };
    const Case cases[] = {
        {{-13}, 1},
        {{-12}, 0},
        {{-1}, 0},
        {{0}, -1},
        {{11}, -1},
        {{12}, -2},
        {{-60}, 4},
        {{60}, -6},
        {{0, 12}, -1},          // even count: the lower of the two middle notes
        {{12, 0, 12, 24}, -2},  // 60 72 72 84: the lower middle note is 72
        {{24, -24, 0}, -1},     // sorted before the median is taken
    };
    for (const Case& c : cases) {
        std::string text = "#BPM:100\n";
        for (std::size_t i = 0; i < c.pitches.size(); ++i)
            text += ": " + std::to_string(2 * i) + " 1 " + std::to_string(c.pitches[i]) + " x\n";
        const UltraStarFile file = Read(text);
        SCOPED_TRACE(text);
        EXPECT_EQ(UltraStarOctaveShift(file, 0), c.nShift);
        // Each note sounds at its own MIDI number moved by the same octaves.
        const UltraStarLine line = UltraStarReference(file, 0).at(0);
        EXPECT_EQ(line.values.front(), Value(60 + c.pitches.front() + 12 * c.nShift));
    }
}

TEST(UltraStarReferenceTest, OnlyNormalAndGoldenNotesAreJudged) {
    // BPM 1000: four values per note. Only the ':' and '*' notes count for the median, and a
    // long note counts once, like a short one.
    const UltraStarFile file = Read(
        "#BPM:1000\n"
        ": 0 4 0 normal\n"
        "* 4 4 12 golden\n"
        "F 8 4 30 free\n"
        "R 12 4 30 rap\n"
        "G 16 4 30 goldenrap\n"
        "- 20\n"
        ": 20 40 0 long\n"
        ": 60 1 12 short\n"
        ": 62 1 12 ~ \n");
    EXPECT_EQ(UltraStarOctaveShift(file, 0), -2);  // 60 72 60 72 72: lower median 72
    const std::vector<UltraStarLine> lines = UltraStarReference(file, 0);
    ASSERT_EQ(lines.size(), 2u);
    std::vector<int32_t> expected(20, 0);
    std::fill(expected.begin(), expected.begin() + 4, Value(36));
    std::fill(expected.begin() + 4, expected.begin() + 8, Value(48));
    EXPECT_EQ(lines[0].values, expected);
    EXPECT_EQ(LyricIndices(lines[0]), (std::vector<int>{0, 4, 8, 12, 16}));
    const UltraStarNoteType types[] = {UltraStarNoteType::Normal, UltraStarNoteType::Golden,
                                       UltraStarNoteType::Freestyle, UltraStarNoteType::Rap,
                                       UltraStarNoteType::GoldenRap};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(lines[0].lyrics[i].type, types[i]);
    EXPECT_EQ(lines[1].lyrics[2].strText, "~ ");
    EXPECT_EQ(lines[1].nFirstBeat, 20);
    EXPECT_EQ(lines[1].nLastBeatEnd, 63);
}

TEST(UltraStarReferenceTest, LyricOfANoteBetweenTwoValues) {
    // BPM 2000, a beat of 7.5 ms: b (beats 4–5, 30–37.5 ms) starts at value 2; c (37.5–45 ms)
    // lies between values 2 and 3 and takes 3, the first value after its start; the empty
    // note at the very end would take value 6 and is held at the last value, 5.
    const UltraStarFile file =
        Read("#BPM:2000\n: 0 4 0 a\n: 4 1 0 b\n: 5 1 0 c\n: 6 6 0 d\n: 12 0 0 e\n");
    const std::vector<UltraStarLine> lines = UltraStarReference(file, 0);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].values.size(), 6u);  // 90 ms
    EXPECT_EQ(LyricIndices(lines[0]), (std::vector<int>{0, 2, 3, 3, 5}));
}

TEST(UltraStarReferenceTest, EachPartHasItsOwnLinesAndShift) {
    const UltraStarFile file = Read(
        "#BPM:1000\n#GAP:500\n"
        "P1\n: 0 2 0 a\n- 3\n: 4 2 0 b\n"
        "P2\n: 10 2 -24 c\n");
    ASSERT_EQ(file.parts.size(), 2u);
    const std::vector<UltraStarLine> first = UltraStarReference(file, 0);
    const std::vector<UltraStarLine> second = UltraStarReference(file, 1);
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_DOUBLE_EQ(first[1].dStart, 0.5 + 4 * 0.015);
    EXPECT_DOUBLE_EQ(second[0].dStart, 0.5 + 10 * 0.015);
    EXPECT_EQ(first[0].values, (std::vector<int32_t>{Value(48), Value(48)}));
    EXPECT_EQ(UltraStarOctaveShift(file, 1), 1);  // MIDI 36 goes up to 48
    EXPECT_EQ(second[0].values, (std::vector<int32_t>{Value(48), Value(48)}));
    EXPECT_TRUE(UltraStarReference(file, 2).empty());
}

}  // namespace
}  // namespace engine
