// The code page of 8-bit text that neither carries a byte-order mark nor names its encoding, found
// with uchardet (libuchardet), for a reader that would otherwise take such text for CP1252.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The iconv name of the code page the text is written in: "CP1252" for West European text,
// "UTF-8" for UTF-8 text with a few invalid bytes, or the one uchardet names ("KOI8-R",
// "WINDOWS-1251", "GB18030", …; "CP932" for Shift-JIS). "" when the detector is unsure: it names
// nothing usable, or names another code page for text that CP1252 reads well (on a short West
// European text it often guesses a Central European one). Only code pages that iconv knows and
// that read ASCII bytes as ASCII are named.
std::string DetectCodePage(std::string_view text);

}  // namespace platform
