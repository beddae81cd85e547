// Reads whitespace-separated decimal numbers from the text of a song data file.
//
// Numbers are separated by any run of blanks, tabs, line breaks, vertical tabs or form feeds.
// Unlike formatted input, a token is taken whole: "4.0" is not an integer and "1.5s" is not a
// number, so a damaged file is reported instead of being half-read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace engine {

class CNumberScanner {
public:
    enum class Result {
        Ok,          // the value was read
        End,         // no token is left
        NotANumber,  // the token is not a number of the kind asked for
        OutOfRange,  // an integer beyond 32 bits, or a float that is not finite
    };

    explicit CNumberScanner(std::string_view text) : m_text(text) {}

    // A decimal integer with an optional sign.
    Result NextInt(int32_t& value);
    // A decimal floating-point number such as "12", "-0.5", ".25" or "1e2"; a value beyond
    // single precision is OutOfRange.
    Result NextFloat(float& value);

    // The token read by the last call, for messages.
    std::string_view LastToken() const { return m_token; }

private:
    bool NextToken();

    std::string_view m_text;
    std::size_t m_nPosition = 0;
    std::string_view m_token;
};

// The token as a message can show it: at most 24 bytes of valid UTF-8 with no control
// characters, or an empty string when it is not that.
std::string PrintableToken(std::string_view token);

}  // namespace engine
