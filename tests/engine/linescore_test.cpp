#include "engine/linescore.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/alignment.h"

namespace engine {
namespace {

using Values = std::vector<int32_t>;

TEST(MapAlignCost, WorkedNumbers) {
    EXPECT_EQ(MapAlignCost(140.0f, 40), 90.0f);  // e = 0.35
    EXPECT_EQ(MapAlignCost(496.0f, 40), 67.0f);  // e = 1.24
    EXPECT_EQ(MapAlignCost(0.0f, 40), 100.0f);
    EXPECT_EQ(MapAlignCost(2000.0f, 40), 10.0f);  // e = 5
    EXPECT_EQ(MapAlignCost(kAlignFailed, 40), 0.0f);
    EXPECT_EQ(MapAlignCost(kAlignFailed * 1.04f, 40), 0.0f);
    EXPECT_EQ(MapAlignCost(10.0f, 0), 0.0f);
}

TEST(MapAlignCost, FallsFromOneHundredToTenWithoutRising) {
    float previous = 100.0f;
    for (int cost = 0; cost <= 1600; ++cost) {
        const float score = MapAlignCost(static_cast<float>(cost), 40);
        ASSERT_LE(score, previous) << "cost " << cost;
        ASSERT_GE(score, 10.0f);
        ASSERT_EQ(score, static_cast<float>(static_cast<int>(score)));
        previous = score;
    }
}

TEST(LineScore, WorkedNumbers) {
    EXPECT_FLOAT_EQ(LineScore(20, 6, 200, 90.0f), 91.0f);  // 46 + 45
    EXPECT_EQ(LineScore(30, 0, 200, 100.0f), 100.0f);      // 110 is clamped
    EXPECT_EQ(LineScore(0, 0, 200, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(LineScore(0, 3, 16, 0.0f), 25.0f);  // a near miss counts half, truncated
    EXPECT_EQ(LineScore(5, 5, 0, 90.0f), 0.0f);
}

TEST(GradeWord, Thresholds) {
    EXPECT_STREQ(GradeWord(100.0f), "Perfect");
    EXPECT_STREQ(GradeWord(85.0f), "Perfect");
    EXPECT_STREQ(GradeWord(84.99f), "Great");
    EXPECT_STREQ(GradeWord(70.0f), "Great");
    EXPECT_STREQ(GradeWord(69.99f), "Good");
    EXPECT_STREQ(GradeWord(60.0f), "Good");
    EXPECT_STREQ(GradeWord(59.99f), "Poor");
    EXPECT_STREQ(GradeWord(20.0f), "Poor");
    EXPECT_STREQ(GradeWord(19.99f), "Miss");
    EXPECT_STREQ(GradeWord(0.0f), "Miss");
}

Values Clean(Values sung, int m, int* cut = nullptr) {
    const int32_t record[1] = {m};
    const int n = CleanSungSequence(record, sung.data());
    if (cut) *cut = n;
    return sung;
}

TEST(CleanSungSequence, PairSmoothingThenIslands) {
    Values sung = {0, 0, 700, 0, 650, 652, 660, 0};
    sung.resize(30, 0);
    Values smoothedOnly = Clean({0, 0, 700, 0, 650, 652, 660, 0}, 8);  // 20 or fewer: no islands
    EXPECT_EQ(smoothedOnly, (Values{0, 0, 700, 0, 651, 655, 655, 0}));
    EXPECT_EQ(Clean(sung, 30), Values(30, 0));
}

TEST(CleanSungSequence, IslandsOfFiveAndMoreStay) {
    Values sung(30, 0);
    for (int i = 10; i < 15; ++i) sung[i] = 600 + 20 * i;  // five voiced, steps of two semitones
    EXPECT_EQ(Clean(sung, 30), sung);
}

TEST(CleanSungSequence, LeadingBlipIsCutUpToTheLastEarlySilence) {
    Values sung(30, 600);
    for (int i = 0; i < 30; ++i) sung[i] = 600 + 20 * (i % 3);  // no pair smoothing
    sung[0] = 700;
    sung[1] = 0;
    sung[6] = 0;
    int cut = -1;
    const Values cleaned = Clean(sung, 30, &cut);
    EXPECT_EQ(cut, 6);
    for (int i = 0; i <= 6; ++i) EXPECT_EQ(cleaned[i], 0) << i;
    EXPECT_EQ(cleaned[7], sung[7]);
}

TEST(CleanSungSequence, WorksOnlyOverTheRecordsLengthAndTheCapacity) {
    Values sung(40, 0);
    sung[33] = 650;  // an island beyond M = 30 is not looked at
    EXPECT_EQ(Clean(sung, 30)[33], 650);

    // A record longer than the sung sequence's capacity: nothing past it is touched.
    Values big(kSungCapacity + 8, 0);
    big[kSungCapacity + 2] = 650;
    const int32_t record[1] = {kSungCapacity + 100};
    EXPECT_EQ(CleanSungSequence(record, big.data()), 0);
    EXPECT_EQ(big[kSungCapacity + 2], 650);
}

}  // namespace
}  // namespace engine
