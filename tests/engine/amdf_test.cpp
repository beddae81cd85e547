#include "engine/amdf.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace engine {
namespace {

// Sums in 64 bits, independently of either kernel.
std::vector<int64_t> Reference(const std::vector<int16_t>& x, int firstLag) {
    const int n = static_cast<int>(x.size());
    std::vector<int64_t> d(n, -1);
    for (int k = firstLag; k < n; ++k) {
        int64_t sum = 0;
        for (int t = 0; t + k < n; ++t) sum += std::llabs(int64_t{x[t]} - x[t + k]);
        d[k] = sum;
    }
    return d;
}

std::vector<int64_t> Table(const std::vector<int16_t>& x, int firstLag, AmdfKernel kernel) {
    const int n = static_cast<int>(x.size());
    std::vector<int32_t> d(n, -1);
    AmdfTable(x.data(), n, firstLag, d.data(), kernel);
    return {d.begin(), d.end()};
}

struct Frame {
    int length;
    int range;  // samples are drawn from [-range, range - 1]
};

class AmdfKernels : public testing::TestWithParam<std::tuple<AmdfKernel, Frame>> {};

TEST_P(AmdfKernels, MatchTheReferenceSumsExactly) {
    const auto [kernel, frame] = GetParam();
    if (!IsAmdfKernelAvailable(kernel)) GTEST_SKIP() << "this CPU has no AVX2";
    std::mt19937 random(frame.length * 7919 + frame.range);
    std::uniform_int_distribution<int> sample(-frame.range, frame.range - 1);
    for (int round = 0; round < 20; ++round) {
        std::vector<int16_t> x(frame.length);
        for (auto& s : x) s = static_cast<int16_t>(sample(random));
        if (round == 1) std::fill(x.begin(), x.end(), -32768);
        if (round == 2)
            for (int t = 0; t < frame.length; ++t) x[t] = t % 2 ? 32767 : -32768;
        for (int firstLag : {0, 9}) {
            if (firstLag >= frame.length) continue;
            ASSERT_EQ(Table(x, firstLag, kernel), Reference(x, firstLag))
                << "round " << round << " first lag " << firstLag;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    LengthsAndLevels, AmdfKernels,
    testing::Combine(testing::Values(AmdfKernel::Plain, AmdfKernel::Avx2),
                     testing::Values(Frame{1, 32768}, Frame{15, 100}, Frame{16, 32768},
                                     Frame{17, 16384}, Frame{33, 16385}, Frame{255, 32768},
                                     Frame{256, 8706}, Frame{256, 16384}, Frame{256, 32768},
                                     Frame{257, 20000}, Frame{1000, 32768})));

TEST(AmdfTable, LongestFrameDoesNotOverflow) {
    std::vector<int16_t> x(kMaxAmdfLength);
    for (int t = 0; t < kMaxAmdfLength; ++t) x[t] = t % 2 ? 32767 : -32768;
    std::vector<int32_t> d(kMaxAmdfLength);
    AmdfTable(x.data(), kMaxAmdfLength, 1, d.data());
    EXPECT_EQ(d[1], int64_t{kMaxAmdfLength - 1} * 65535);  // every term is full scale
    EXPECT_EQ(d[2], 0);
    EXPECT_EQ(d[kMaxAmdfLength - 1], 65535);
}

TEST(AmdfTable, WritesOnlyFromTheFirstLagOn) {
    std::vector<int16_t> x(64, 5);
    std::vector<int32_t> d(64, -7);
    AmdfTable(x.data(), 64, 10, d.data());
    for (int k = 0; k < 10; ++k) EXPECT_EQ(d[k], -7);
    for (int k = 10; k < 64; ++k) EXPECT_EQ(d[k], 0);
}

}  // namespace
}  // namespace engine
