#include "engine/numberscanner.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

namespace engine {
namespace {

using Result = CNumberScanner::Result;

TEST(NumberScanner, IntegersAreWholeDecimalTokens) {
    CNumberScanner scanner("  +5\t-0\n2147483647 -2147483648\r\n0012");
    const std::vector<int32_t> expected = {5, 0, 2147483647, -2147483647 - 1, 12};
    for (int32_t wanted : expected) {
        int32_t value = -1;
        ASSERT_EQ(scanner.NextInt(value), Result::Ok) << scanner.LastToken();
        EXPECT_EQ(value, wanted);
    }
    int32_t value = 0;
    EXPECT_EQ(scanner.NextInt(value), Result::End);
    EXPECT_EQ(scanner.NextInt(value), Result::End);
}

TEST(NumberScanner, RejectsWhatIsNotAnInteger) {
    for (const char* text : {"4.0", "1e3", "-", "+", "12a", "0x10", "--1", "五"}) {
        CNumberScanner scanner(text);
        int32_t value = 77;
        EXPECT_EQ(scanner.NextInt(value), Result::NotANumber) << text;
        EXPECT_EQ(value, 77) << text;
        EXPECT_EQ(scanner.LastToken(), text);
    }
    for (const char* text : {"2147483648", "-2147483649", "99999999999999999999999"}) {
        CNumberScanner scanner(text);
        int32_t value = 0;
        EXPECT_EQ(scanner.NextInt(value), Result::OutOfRange) << text;
    }
}

TEST(NumberScanner, FloatsInTheirUsualSpellings) {
    CNumberScanner scanner("12 -0.5 .25 +3. 1e2 2.5E-1 0");
    for (float wanted : {12.0f, -0.5f, 0.25f, 3.0f, 100.0f, 0.25f, 0.0f}) {
        float value = -1.0f;
        ASSERT_EQ(scanner.NextFloat(value), Result::Ok) << scanner.LastToken();
        EXPECT_EQ(value, wanted);
    }
    float value = 0.0f;
    EXPECT_EQ(scanner.NextFloat(value), Result::End);
}

TEST(NumberScanner, RejectsWhatIsNotAFiniteFloat) {
    for (const char* text :
         {"inf", "-inf", "nan", "NAN", "1.5s", "1,5", "e5", ".", "-.", "0x1p3"}) {
        CNumberScanner scanner(text);
        float value = 0.0f;
        EXPECT_EQ(scanner.NextFloat(value), Result::NotANumber) << text;
    }
    for (const char* text : {"1e39", "-1e39", "1e-50"}) {
        CNumberScanner scanner(text);
        float value = 0.0f;
        EXPECT_EQ(scanner.NextFloat(value), Result::OutOfRange) << text;
    }
}

TEST(NumberScanner, FloatsDoNotFollowTheLocale) {
    // The windowed program takes its locale from the environment; a decimal comma must not
    // change how song files read.
    const char* chosen = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    if (!chosen) chosen = std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
    if (!chosen) GTEST_SKIP() << "no locale with a decimal comma is installed";
    CNumberScanner scanner("9.25");
    float value = 0.0f;
    const Result result = scanner.NextFloat(value);
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(result, Result::Ok);
    EXPECT_EQ(value, 9.25f);
}

TEST(PrintableToken, KeepsShortValidTextOnly) {
    EXPECT_EQ(PrintableToken("abc"), "abc");
    EXPECT_EQ(PrintableToken("五百"), "五百");
    EXPECT_EQ(PrintableToken("\xB0\xA1"), "");      // not UTF-8
    EXPECT_EQ(PrintableToken("a\x01"), "");         // a control character
    EXPECT_EQ(PrintableToken("\xED\xA0\x80"), "");  // an encoded surrogate
    EXPECT_EQ(PrintableToken("\xC0\xAF"), "");      // an overlong encoding
    EXPECT_EQ(PrintableToken(std::string(30, '7')), std::string(24, '7') + "…");
    EXPECT_EQ(PrintableToken("一二三四五六七八九"), "一二三四五六七八…");  // cut between characters
}

}  // namespace
}  // namespace engine
