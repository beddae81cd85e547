#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

// "歌曲" in code page 936 and in UTF-8.
const std::string kSongsGbk = "\xB8\xE8\xC7\xFA";
const std::string kSongsUtf8 = "歌曲";

TEST(CodePage, ConvertsBothWays) {
    std::string out;
    ASSERT_TRUE(Cp936ToUtf8(kSongsGbk, out));
    EXPECT_EQ(out, kSongsUtf8);
    ASSERT_TRUE(Utf8ToCp936(kSongsUtf8, out));
    EXPECT_EQ(out, kSongsGbk);
    ASSERT_TRUE(Cp936ToUtf8("abc 12", out));
    EXPECT_EQ(out, "abc 12");
    ASSERT_TRUE(Cp936ToUtf8("", out));
    EXPECT_EQ(out, "");
}

TEST(CodePage, LongTextCrossesTheConversionBuffer) {
    std::string gbk, utf8;
    for (int i = 0; i < 3000; ++i) gbk += kSongsGbk + " ";
    ASSERT_TRUE(Cp936ToUtf8(gbk, utf8));
    EXPECT_EQ(utf8.size(), 3000u * 7);
    std::string back;
    ASSERT_TRUE(Utf8ToCp936(utf8, back));
    EXPECT_EQ(back, gbk);
}

TEST(CodePage, RefusesInvalidInput) {
    std::string out = "stale";
    EXPECT_FALSE(Cp936ToUtf8("\xB8", out));  // a lead byte cut off at the end
    EXPECT_EQ(out, "");
    EXPECT_FALSE(Cp936ToUtf8("\xFF\xFF", out));
    EXPECT_FALSE(Utf8ToCp936("\xE6\xAD", out));          // a cut-off UTF-8 sequence
    EXPECT_FALSE(Utf8ToCp936("\xF0\x9F\x8E\xA4", out));  // a character code page 936 lacks
    EXPECT_TRUE(IsValidUtf8(kSongsUtf8));
    EXPECT_FALSE(IsValidUtf8(kSongsGbk));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));  // overlong
}

TEST(CodePage, TextFilesOfEitherEncodingBecomeCodePage936) {
    std::string out;
    ASSERT_TRUE(TextToCp936(kSongsGbk + " la", out));
    EXPECT_EQ(out, kSongsGbk + " la");
    ASSERT_TRUE(TextToCp936(kSongsUtf8 + " la", out));
    EXPECT_EQ(out, kSongsGbk + " la");
    ASSERT_TRUE(TextToCp936("plain", out));
    EXPECT_EQ(out, "plain");
    EXPECT_FALSE(TextToCp936("\xFF\xFE\x00", out));
    EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace platform
