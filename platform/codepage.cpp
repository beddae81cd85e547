#include "platform/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace platform {

Conversion ConvertText(const char* to, const char* from, std::string_view in, std::string& out) {
    out.clear();
    iconv_t converter = iconv_open(to, from);
    // iconv_open says it failed with (iconv_t) −1.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    if (converter == reinterpret_cast<iconv_t>(-1)) return Conversion::Unsupported;
    char* source = const_cast<char*>(in.data());
    std::size_t sourceLeft = in.size();
    char buffer[4096];
    bool ok = true;
    while (ok && sourceLeft > 0) {
        char* target = buffer;
        std::size_t targetLeft = sizeof buffer;
        const std::size_t result = iconv(converter, &source, &sourceLeft, &target, &targetLeft);
        out.append(buffer, static_cast<std::size_t>(target - buffer));
        // E2BIG only means the buffer is full; EILSEQ and EINVAL are invalid or cut-off input.
        ok = result != static_cast<std::size_t>(-1) || errno == E2BIG;
    }
    if (ok) {  // flush any pending shift state
        char* target = buffer;
        std::size_t targetLeft = sizeof buffer;
        ok = iconv(converter, nullptr, nullptr, &target, &targetLeft) !=
             static_cast<std::size_t>(-1);
        out.append(buffer, static_cast<std::size_t>(target - buffer));
    }
    iconv_close(converter);
    return ok ? Conversion::Ok : Conversion::Invalid;
}

std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    if (i >= s.size()) return 0;
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
    if (length > s.size() - i) return 0;
    unsigned code = lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3Fu);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

std::size_t InvalidUtf8At(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t length = Utf8SequenceLength(s, i);
        if (length == 0) return i;
        i += length;
    }
    return std::string_view::npos;
}

namespace {

// A whole conversion or nothing.
bool Convert(const char* to, const char* from, std::string_view in, std::string& out) {
    if (ConvertText(to, from, in, out) == Conversion::Ok) return true;
    out.clear();
    return false;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    std::string ignored;
    return Convert("UTF-32LE", "UTF-8", bytes, ignored);
}

bool Cp936ToUtf8(std::string_view cp936, std::string& out) {
    return Convert("UTF-8", "GBK", cp936, out);
}

bool Utf8ToCp936(std::string_view utf8, std::string& out) {
    return Convert("GBK", "UTF-8", utf8, out);
}

bool TextToCp936(std::string_view bytes, std::string& out) {
    const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii && IsValidUtf8(bytes) && Utf8ToCp936(bytes, out)) return true;
    std::string ignored;
    if (!Cp936ToUtf8(bytes, ignored)) {
        out.clear();
        return false;
    }
    out.assign(bytes);
    return true;
}

}  // namespace platform
