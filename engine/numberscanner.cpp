#include "engine/numberscanner.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace engine {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Length of the UTF-8 sequence that starts at s[i], or 0 when it is not a valid one.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    std::size_t length;
    unsigned minimum;
    if ((lead & 0xE0) == 0xC0)
        length = 2, minimum = 0x80;
    else if ((lead & 0xF0) == 0xE0)
        length = 3, minimum = 0x800;
    else if ((lead & 0xF8) == 0xF0)
        length = 4, minimum = 0x10000;
    else
        return 0;
    if (i + length > s.size()) return 0;
    unsigned code = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
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
        const std::size_t length = Utf8Length(token, i);
        if (length == 0) return {};
        if (length == 1 && (static_cast<unsigned char>(token[i]) < 0x20 || token[i] == 0x7F))
            return {};
        if (i + length > kLimit) return std::string(token.substr(0, i)) + "…";
        i += length;
    }
    return std::string(token);
}

}  // namespace engine
