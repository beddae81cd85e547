// The hand-over ring between an audio callback and the delivery thread.
#include "platform/blockring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

std::string PopString(CBlockRing& ring, int32_t& stamp) {
    std::vector<char> out(64);
    const std::size_t count = ring.Pop(out.data(), out.size(), stamp);
    return std::string(out.data(), count);
}

TEST(BlockRing, BlocksComeOutWholeInOrderWithTheirStampsAcrossTheWrap) {
    CBlockRing ring(10, 3);
    int32_t stamp = 0;
    EXPECT_EQ(PopString(ring, stamp), "");  // empty
    ASSERT_TRUE(ring.Push("abcdef", 6, 100));
    ASSERT_TRUE(ring.Push("gh", 2, 200));
    EXPECT_FALSE(ring.Push("ijk", 3, 300)) << "10 bytes hold 8 + 3 only by overrunning";
    EXPECT_EQ(PopString(ring, stamp), "abcdef");
    EXPECT_EQ(stamp, 100);
    ASSERT_TRUE(ring.Push("ijklmn", 6, 300));  // wraps round the end of the bytes
    ASSERT_TRUE(ring.Push("o", 1, 400));
    EXPECT_FALSE(ring.Push("p", 1, 500)) << "three blocks are the most it holds";
    EXPECT_EQ(PopString(ring, stamp), "gh");
    EXPECT_EQ(stamp, 200);
    EXPECT_EQ(PopString(ring, stamp), "ijklmn");
    EXPECT_EQ(stamp, 300);
    EXPECT_EQ(PopString(ring, stamp), "o");
    EXPECT_EQ(ring.Dropped(), 2);
    ASSERT_TRUE(ring.Push("qr", 2, 600));
    ring.Clear();
    EXPECT_EQ(PopString(ring, stamp), "");
}

TEST(BlockRing, AWriterAndAReaderAtFullSpeedLoseNothingTheyKeep) {
    // Every block holds its own number in every byte; what is not dropped arrives whole and in
    // order (ThreadSanitizer checks the hand-over itself).
    CBlockRing ring(4096, 64);
    constexpr int kBlocks = 20000;
    std::thread writer([&] {
        std::vector<char> block(97);
        for (int i = 0; i < kBlocks; ++i) {
            std::fill(block.begin(), block.end(), static_cast<char>(i % 128));
            const std::size_t count = 1 + static_cast<std::size_t>(i % 97);
            while (!ring.Push(block.data(), count, i)) std::this_thread::yield();
        }
    });
    std::vector<char> out(128);
    int expected = 0;
    bool whole = true;
    while (expected < kBlocks) {
        int32_t stamp = -1;
        const std::size_t count = ring.Pop(out.data(), out.size(), stamp);
        if (count == 0) {
            std::this_thread::yield();
            continue;
        }
        whole = whole && stamp == expected &&
                count == 1 + static_cast<std::size_t>(expected % 97) &&
                std::all_of(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(count),
                            [&](char c) { return c == static_cast<char>(expected % 128); });
        ++expected;
    }
    writer.join();
    EXPECT_TRUE(whole);
}

}  // namespace
}  // namespace platform
