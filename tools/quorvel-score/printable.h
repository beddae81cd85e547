// Names from outside (song names, paths) as one row of the commands' text output shows them.
#pragma once

#include <string>
#include <string_view>

namespace tools {

// The text with every control character escaped, so that it cannot break a row or a column:
// "\n", "\r" and "\t" as those two characters, any other byte below 0x20 and 0x7F as "\xNN".
// Everything else, UTF-8 included, is kept as it is.
std::string Printable(std::string_view text);

// The text as a JSON string, quotes included: '"' and '\\' escaped, control bytes as \u00NN.
std::string JsonString(std::string_view text);

}  // namespace tools
