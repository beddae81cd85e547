#include "engine/alignment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

namespace engine {
namespace {

using Values = std::vector<int32_t>;

float Align(Values a, Values b, float bound = kAlignFailed) {
    return AlignPitch(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                      bound);
}

TEST(CentrePitch, SubtractsTheTruncatedMeanOfVoicedValues) {
    Values v = {600, 0, 610, 620, 631};  // mean 615.25
    CentrePitch(v.data(), 5);
    EXPECT_EQ(v, (Values{-15, 0, -5, 5, 16}));
    Values negative = {-3, 0, -4};  // mean −3.5: add trunc(3.5) = 3
    CentrePitch(negative.data(), 3);
    EXPECT_EQ(negative, (Values{0, 0, -1}));
    Values silent = {0, 0, 0};
    CentrePitch(silent.data(), 3);
    EXPECT_EQ(silent, (Values{0, 0, 0}));
}

TEST(ShiftVoiced, LeavesSilenceAlone) {
    Values v = {0, 570, 0, 690};
    ShiftVoiced(v.data(), 4, 120);
    EXPECT_EQ(v, (Values{0, 690, 0, 810}));
}

TEST(AlignPitch, IdenticalLinesCostNothingAndAreCentred) {
    Values a = {600, 610, 620, 630}, b = a;
    EXPECT_EQ(AlignPitch(a.data(), 4, b.data(), 4, kAlignFailed), 0.0f);
    EXPECT_EQ(a, (Values{-15, -5, 5, 15}));
    EXPECT_EQ(b, (Values{-15, -5, 5, 15}));
}

TEST(AlignPitch, KeyOffsetCostsNothing) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pitch(500, 700);
    for (int round = 0; round < 20; ++round) {
        Values b(60);
        for (size_t j = 0; j < b.size(); ++j)
            b[j] = round % 3 == 0 && j % 5 == 0 ? 0 : pitch(random);  // some rounds with rests
        Values sung(45);
        for (size_t i = 0; i < sung.size(); ++i) sung[i] = b[i + i / 3];  // a different tempo
        Values raised = sung;
        ShiftVoiced(raised.data(), static_cast<int>(raised.size()), 40);
        const float cost = Align(sung, b);
        ASSERT_LT(cost, kAlignFailed) << "round " << round;
        EXPECT_EQ(cost, Align(raised, b)) << "round " << round;
    }
}

TEST(AlignPitch, TooFewVoicedValuesFailWithoutTouchingEither) {
    Values a = {600, 0, 620, 0, 0, 640, 0, 0, 0, 0};
    Values b = {600, 610, 620, 630, 640, 650, 660, 670, 680, 690};
    const Values a0 = a, b0 = b;
    EXPECT_EQ(AlignPitch(a.data(), 10, b.data(), 10, kAlignFailed), kAlignFailed);  // 3 ≤ 10 / 2
    EXPECT_EQ(AlignPitch(b.data(), 10, a.data(), 10, kAlignFailed), kAlignFailed);  // both ways
    EXPECT_EQ(a, a0);
    EXPECT_EQ(b, b0);
    EXPECT_EQ(Align({0, 0}, {0, 0}), kAlignFailed);
}

TEST(AlignPitch, UnequalVoicedCountsArePenalisedBothWays) {
    // Fewer sung values: A {0, 0} against B {10, 0, −10} once centred. Row 0 reaches columns 0 and
    // 1 (costs 10 and 0); row 1 costs 10 at column 1 and at column 2. Final 10, r = 2 / 3:
    // 10 × 0.8 + 10 / (2 / 3) × 0.2 = 11.
    EXPECT_NEAR(Align({600, 600}, {610, 600, 590}), 11.0, 1e-4);
    // More sung values: A {10, 0, −10} against B {0, 0}. Row 0 reaches column 0 (cost 10), row 1
    // nothing, row 2 column 1 from row 0 (10 + 10). Final 20, r = 1.5: 16 + 20 × 1.5 × 0.2 = 22.
    EXPECT_NEAR(Align({610, 600, 590}, {600, 600}), 22.0, 1e-4);
}

TEST(AlignPitch, SingleSungValueReachesEveryColumn) {
    // One voiced value each way, so both centre to 0 wherever the reference's note lies.
    EXPECT_EQ(Align({650}, {620, 0, 0, 0}), 0.0f);
    EXPECT_EQ(Align({650}, {0, 0, 0, 620}), 0.0f);
    EXPECT_EQ(Align({0}, {0, 0, 0, 620}), kAlignFailed);  // nothing voiced to align
}

TEST(AlignPitch, HalfLengthLineFollowsAtSlopeTwo) {
    // Ten sung values against twenty reference values, two voiced reference values per sung one:
    // the path must climb two columns a row from the first column to the last.
    Values b(20), a(10);
    for (int j = 0; j < 20; ++j) b[j] = j % 2 ? 0 : 500 + 10 * j;
    for (int i = 0; i < 10; ++i) a[i] = b[2 * i];
    EXPECT_EQ(Align(a, b), 0.0f);
}

TEST(AlignPitch, SungLineOverTwiceTheReferenceStaysInsideItsRows) {
    // 11 sung values (6 voiced) against 4: the band's lower edge runs past the rows' end, and no
    // end cell can be reached. Under AddressSanitizer a margin write past the row would be
    // reported.
    const Values a = {600, 0, 610, 0, 620, 0, 630, 0, 640, 0, 650};
    EXPECT_GE(Align(a, {600, 610, 620, 630}), kAlignFailed);
}

TEST(AlignPitch, EarlyAbandonAboveTheBound) {
    Values b(50), a(50);
    for (int j = 0; j < 50; ++j) {
        b[j] = 500 + (j % 10) * 20;
        a[j] = 700 - (j % 10) * 20;
    }
    const float full = Align(a, b);
    ASSERT_GT(full, 100.0f);
    ASSERT_LT(full, kAlignFailed);
    EXPECT_EQ(Align(a, b, 50.0f), kAlignFailed);
    EXPECT_EQ(Align(a, b, full), full);
}

}  // namespace
}  // namespace engine
