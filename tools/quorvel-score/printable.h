// Names from outside (song names, paths) as one row of the commands' text output shows them.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace tools {

// The text with every control character escaped, so that it cannot break a row or a column:
// "\n", "\r" and "\t" as those two characters, any other byte below 0x20 and 0x7F as "\xNN".
// Everything else, UTF-8 included, is kept as it is.
std::string Printable(std::string_view text);

// The text as a JSON string, quotes included: '"' and '\\' escaped, control bytes as \u00NN.
std::string JsonString(std::string_view text);

// A command's exit status once its output is flushed: status when everything was written, else
// 2, said on err (a full disk, a closed pipe).
int OutputStatus(std::ostream& out, std::ostream& err, int status);

}  // namespace tools
