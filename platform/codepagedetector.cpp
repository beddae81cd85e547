#include "platform/codepagedetector.h"

#include <uchardet.h>

#include <memory>
#include <type_traits>

#include "platform/codepage.h"

namespace platform {
namespace {

// CP1252's bytes beyond ASCII that are signs rather than letters (€ † ‰ • ™ ¡ ¢ £ ¥ § © ® ° ± ²
// ³ ¹ ¼ ¿ × ÷ and the like), and the five it leaves undefined.
constexpr std::string_view kCp1252Signs =
    "\x80\x81\x86\x87\x88\x89\x8D\x8F\x90\x95\x98\x99\x9D\xA1\xA2\xA3\xA4\xA5\xA6\xA7\xA8\xA9\xAC"
    "\xAE\xAF\xB0\xB1\xB2\xB3\xB6\xB8\xB9\xBC\xBD\xBE\xBF\xD7\xF7";
// Its quotes, apostrophes, dashes, the ellipsis, the middle dot and the spaces: they stand
// between words, and sometimes within one ("l’été", "don´t").
constexpr std::string_view kCp1252Punctuation =
    "\x82\x84\x85\x8B\x91\x92\x93\x94\x96\x97\x9B\xA0\xAB\xAD\xB4\xB7\xBB";

enum class Kind { Other, AsciiLetter, Letter, Sign };

Kind KindOf(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80)
        return (byte | 0x20) >= 'a' && (byte | 0x20) <= 'z' ? Kind::AsciiLetter : Kind::Other;
    if (kCp1252Punctuation.find(c) != std::string_view::npos) return Kind::Other;
    return kCp1252Signs.find(c) != std::string_view::npos ? Kind::Sign : Kind::Letter;
}

bool IsLetter(char c) {
    const Kind kind = KindOf(c);
    return kind == Kind::AsciiLetter || kind == Kind::Letter;
}

// Whether CP1252 reads the text badly: it has a word (letters and signs together) of two or more
// bytes beyond ASCII without an ASCII letter, as every word of Cyrillic, Greek or East Asian text
// is, or a sign between two letters ("Prze¿yj" for Polish "Przeżyj"). West European text,
// whose words mix a few accented letters with plain ones, has neither.
bool Cp1252ReadsBadly(std::string_view text) {
    std::size_t high = 0;  // bytes beyond ASCII in the word so far
    bool ascii = false;    // whether the word has an ASCII letter
    for (std::size_t i = 0; i < text.size(); ++i) {
        const Kind kind = KindOf(text[i]);
        if (kind == Kind::Other) {
            if (high >= 2 && !ascii) return true;
            high = 0;
            ascii = false;
            continue;
        }
        if (kind == Kind::Sign && i > 0 && i + 1 < text.size() && IsLetter(text[i - 1]) &&
            IsLetter(text[i + 1]))
            return true;
        if (kind == Kind::AsciiLetter)
            ascii = true;
        else
            ++high;
    }
    return high >= 2 && !ascii;
}

// uchardet's name for the text's encoding: "ASCII", "UTF-8", "WINDOWS-1252", …, or "" when it
// finds none. Debian 12's uchardet (0.0.7) does not say how sure it is of its name.
std::string Uchardet(std::string_view text) {
    const std::unique_ptr<std::remove_pointer_t<uchardet_t>, decltype(&uchardet_delete)> detector(
        uchardet_new(), &uchardet_delete);
    if (!detector || uchardet_handle_data(detector.get(), text.data(), text.size()) != 0) return {};
    uchardet_data_end(detector.get());
    const char* name = uchardet_get_charset(detector.get());
    return name ? name : "";
}

// Whether iconv knows the encoding and reads every printable ASCII byte as itself: the reader's
// "#", ":", digits and "~" must stay what they are (UTF-16 does not, nor glibc's SHIFT_JIS, which
// reads the backslash as a yen sign and "~" as an overline).
bool ReadsAsciiAsAscii(const std::string& name) {
    std::string ascii, out;
    for (char c = ' '; c < 0x7F; ++c) ascii += c;
    return ConvertText("UTF-8", name.c_str(), ascii, out) == Conversion::Ok && out == ascii;
}

}  // namespace

std::string DetectCodePage(std::string_view text) {
    std::string found = Uchardet(text);
    if (found == "UTF-8") return found;
    if (found == "WINDOWS-1252" || found == "ISO-8859-1") return "CP1252";
    // Japanese text: Windows' Shift-JIS, which keeps ASCII as it is.
    if (found == "SHIFT_JIS") found = "CP932";
    if (found.empty() || found == "ASCII" || !ReadsAsciiAsAscii(found) || !Cp1252ReadsBadly(text))
        return {};
    return found;
}

}  // namespace platform
