#include "engine/numberscanner.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "platform/codepage.h"

namespace engine {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

bool CNumberScanner::NextToken() {
    while (m_nPosition < m_text.size() && IsSpace(m_text[m_nPosition])) ++m_nPosition;
    const std::size_t start = m_nPosition;
    while (m_nPosition < m_text.size() && !IsSpace(m_text[m_nPosition])) ++m_nPosition;
    m_token = m_text.substr(start, m_nPosition - start);
    return !m_token.empty();
}

CNumberScanner::Result CNumberScanner::NextInt(int32_t& value) {
    if (!NextToken()) return Result::End;
    std::size_t i = 0;
    bool negative = false;
    if (m_token[0] == '+' || m_token[0] == '-') negative = m_token[i++] == '-';
    if (i == m_token.size()) return Result::NotANumber;
    int64_t magnitude = 0;
    bool tooLarge = false;
    for (; i < m_token.size(); ++i) {
        const char c = m_token[i];
        if (c < '0' || c > '9') return Result::NotANumber;
        if (!tooLarge) {
            magnitude = magnitude * 10 + (c - '0');
            tooLarge = magnitude > int64_t{INT32_MAX} + 1;
        }
    }
    const int64_t result = negative ? -magnitude : magnitude;
    if (tooLarge || result > INT32_MAX) return Result::OutOfRange;
    value = static_cast<int32_t>(result);
    return Result::Ok;
}

CNumberScanner::Result CNumberScanner::NextFloat(float& value) {
    if (!NextToken()) return Result::End;
    std::string_view token = m_token;
    if (token[0] == '+') token.remove_prefix(1);
    // Only digits and a point may begin the number, which keeps "inf" and "nan" out. from_chars
    // does not depend on the locale, which the windowed program sets from the environment.
    const std::size_t digitAt = !token.empty() && token[0] == '-' ? 1 : 0;
    if (digitAt >= token.size() ||
        !((token[digitAt] >= '0' && token[digitAt] <= '9') || token[digitAt] == '.'))
        return Result::NotANumber;
    float parsed = 0.0f;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), parsed);
    if (error == std::errc::result_out_of_range) return Result::OutOfRange;
    if (error != std::errc() || end != token.data() + token.size()) return Result::NotANumber;
    if (!std::isfinite(parsed)) return Result::OutOfRange;
    value = parsed;
    return Result::Ok;
}

std::string PrintableToken(std::string_view token) {
    constexpr std::size_t kLimit = 24;
    std::size_t i = 0;
    while (i < token.size()) {
        const std::size_t length = platform::Utf8SequenceLength(token, i);
        if (length == 0) return {};
        if (length == 1 && (static_cast<unsigned char>(token[i]) < 0x20 || token[i] == 0x7F))
            return {};
        if (i + length > kLimit) return std::string(token.substr(0, i)) + "…";
        i += length;
    }
    return std::string(token);
}

}  // namespace engine
