// Code page 936 (GBK) text, the encoding of the lyric and help files and of the program's texts
// on disk, and its conversion to and from UTF-8, which the windows draw with.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

bool IsValidUtf8(std::string_view bytes);
// The length of the UTF-8 sequence that starts at s[i], or 0 when it is not a valid one (overlong
// forms, surrogates and code points beyond U+10FFFF are not valid).
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i);
// The offset of the first byte that does not start a valid UTF-8 sequence (overlong forms,
// surrogates and code points beyond U+10FFFF are not valid), or npos when every byte does.
std::size_t InvalidUtf8At(std::string_view bytes);

enum class Conversion { Ok, Invalid, Unsupported };
// Converts text from one encoding to another that glibc's iconv knows by name. Invalid:
// the input is not valid in `from` or holds a character `to` lacks (out then holds what came
// before the fault); Unsupported: iconv knows no such conversion.
Conversion ConvertText(const char* to, const char* from, std::string_view in, std::string& out);

// Converts between code page 936 and UTF-8. Returns false, leaving out empty, when the input is
// not valid in its encoding or holds a character the other one lacks.
bool Cp936ToUtf8(std::string_view cp936, std::string& out);
bool Utf8ToCp936(std::string_view utf8, std::string& out);

// The code page 936 bytes of a text file: a file that is UTF-8 with characters beyond ASCII
// (saved by a Linux editor) is converted; otherwise a valid code page 936 file is taken as it is.
// Returns false when the bytes are neither.
bool TextToCp936(std::string_view bytes, std::string& out);

}  // namespace platform
