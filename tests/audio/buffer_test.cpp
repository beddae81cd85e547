#include "audio/buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/messages.h"

namespace {

TEST(BufferTest, OwningBufferHoldsItsSizeAndErases) {
    CBuffer buffer(1001);
    ASSERT_NE(buffer.m_pData, nullptr);
    EXPECT_EQ(buffer.m_nSize, 1001);
    EXPECT_TRUE(buffer.m_bAutoDelete);
    std::fill_n(buffer.m_pData, 1001, uint8_t(0x5A));  // the sanitizer checks all 1001 are there
    buffer.Erase();
    EXPECT_TRUE(
        std::all_of(buffer.m_pData, buffer.m_pData + 1001, [](uint8_t b) { return b == 0; }));
}

TEST(BufferTest, WrappingNullGivesAnEmptyBuffer) {
    CBuffer buffer(nullptr, 100);
    EXPECT_EQ(buffer.m_pData, nullptr);
    EXPECT_EQ(buffer.m_nSize, 0);
    EXPECT_FALSE(buffer.m_bAutoDelete);
    buffer.Erase();  // nothing to clear, nothing touched
}

TEST(BufferTest, WrappingBufferNeverReleasesOrTouchesTheMemory) {
    std::vector<uint8_t> memory(64, 0xA5);
    {
        CBuffer buffer(memory.data(), 48);
        EXPECT_EQ(buffer.m_nSize, 48);
    }
    EXPECT_EQ(memory, std::vector<uint8_t>(64, 0xA5));

    // Allocated without auto-delete: the memory outlives the buffer and is the taker's to free.
    auto* pBuffer = new CBuffer(16, false);
    uint8_t* pData = pBuffer->m_pData;
    ASSERT_NE(pData, nullptr);
    delete pBuffer;
    pData[15] = 1;  // a use after free if the buffer had released it
    delete[] pData;
}

TEST(BufferTest, NegativeSizeIsReportedAndGivesAnEmptyBuffer) {
    platform::MessageCapture capture;
    uint8_t byte = 0;
    CBuffer owning(-5), wrapping(&byte, -5);
    EXPECT_EQ(owning.m_pData, nullptr);
    EXPECT_EQ(owning.m_nSize, 0);
    EXPECT_EQ(wrapping.m_pData, nullptr);
    EXPECT_EQ(wrapping.m_nSize, 0);
    EXPECT_EQ(capture.Messages().size(), 2u);
}

}  // namespace
