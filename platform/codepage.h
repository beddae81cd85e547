// Code page 936 (GBK) text, the encoding of the lyric and help files and of the program's texts
// on disk, and its conversion to and from UTF-8, which the windows draw with.
#pragma once

#include <string>
#include <string_view>

namespace platform {

bool IsValidUtf8(std::string_view bytes);

// Converts between code page 936 and UTF-8. Returns false, leaving out empty, when the input is
// not valid in its encoding or holds a character the other one lacks.
bool Cp936ToUtf8(std::string_view cp936, std::string& out);
bool Utf8ToCp936(std::string_view utf8, std::string& out);

// The code page 936 bytes of a text file: a file that is UTF-8 with characters beyond ASCII
// (saved by a Linux editor) is converted; otherwise a valid code page 936 file is taken as it is.
// Returns false when the bytes are neither.
bool TextToCp936(std::string_view bytes, std::string& out);

}  // namespace platform
