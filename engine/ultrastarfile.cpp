#include "engine/ultrastarfile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <system_error>
#include <tuple>

#include "engine/numberscanner.h"
#include "platform/codepage.h"
#include "platform/codepagedetector.h"

namespace engine {
namespace {

constexpr double kMaxSongSeconds = 6 * 60 * 60;  // no note lies beyond 6 hours of audio
constexpr double kMaxBpm = 100000;               // beats of 0.15 ms: no song is that fast
// A pitch is held within this many semitones of MIDI note 60: no melody reaches that far, and
// sums of pitches and shifts stay far inside an int.
constexpr int64_t kPitchLimit = 1000000;
constexpr int kMaxPartNumber = 99;
constexpr std::size_t kMaxRemarks = 100;  // then the rest are only counted
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD, for bytes that mean nothing

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Upper(x) == Upper(y); });
}

// Blanks, and byte-order marks (which a file put together from others carries on its lines),
// are taken off.
std::string_view TrimLeft(std::string_view s) {
    while (true) {
        if (!s.empty() && IsBlank(s.front()))
            s.remove_prefix(1);
        else if (s.starts_with(kByteOrderMark))
            s.remove_prefix(kByteOrderMark.size());
        else
            return s;
    }
}

std::string_view Trim(std::string_view s) {
    s = TrimLeft(s);
    while (true) {
        if (!s.empty() && IsBlank(s.back()))
            s.remove_suffix(1);
        else if (s.ends_with(kByteOrderMark))
            s.remove_suffix(kByteOrderMark.size());
        else
            return s;
    }
}

// The next line of text from position, without its end (LF, CRLF or a lone CR); false at the end.
bool NextLine(std::string_view text, std::size_t& position, std::string_view& line) {
    if (position >= text.size()) return false;
    const std::size_t end = text.find_first_of("\r\n", position);
    if (end == std::string_view::npos) {
        line = text.substr(position);
        position = text.size();
        return true;
    }
    line = text.substr(position, end - position);
    const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    position = end + (crlf ? 2 : 1);
    return true;
}

// The 1-based number of the line that holds text[offset], counted as NextLine splits lines.
int LineAt(std::string_view text, std::size_t offset) {
    int line = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i)
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
            ++line;
    return line;
}

// The iconv name of the 8-bit code page an #ENCODING value names ("CP1250", "cp1250",
// "windows-1250", "KOI8R", "ISO-8859-2", …), or "" when it names none (UTF-8, "Auto", nothing):
// such a file is then read as CP1252. A name of no known family goes to iconv as written.
std::string CodePageName(std::string_view value) {
    std::string key;
    for (const char c : value)
        if (IsDigit(c) || (Upper(c) >= 'A' && Upper(c) <= 'Z')) key += Upper(c);
    const auto digitsAfter = [&key](std::size_t prefix) {
        return key.size() > prefix &&
               std::all_of(key.begin() + static_cast<std::ptrdiff_t>(prefix), key.end(), IsDigit);
    };
    if (key.empty() || key == "AUTO" || key.starts_with("UTF") || key.starts_with("UCS") ||
        key.starts_with("UNICODE"))
        return {};
    if (key.starts_with("WINDOWS") && digitsAfter(7)) return "CP" + key.substr(7);
    if (key.starts_with("WIN") && digitsAfter(3)) return "CP" + key.substr(3);
    if (key.starts_with("CP") && digitsAfter(2)) return key;
    if (key == "KOI8R" || key == "KOI8U" || key == "KOI8RU") return "KOI8-" + key.substr(4);
    if (key.starts_with("ISO8859") && digitsAfter(7)) return "ISO-8859-" + key.substr(7);
    if (key.starts_with("LATIN") && digitsAfter(5)) return key;
    // Only a plain name reaches iconv: "//" and other punctuation mean options there.
    const std::string_view name = Trim(value);
    const bool plain =
        name.size() <= 32 && std::all_of(name.begin(), name.end(), [](char c) {
            return IsDigit(c) || (Upper(c) >= 'A' && Upper(c) <= 'Z') || c == '-' || c == '_';
        });
    return plain ? std::string(name) : std::string("?");
}

// The integer in token: an optional sign and decimal digits.
enum class Number { Ok, NotANumber, OutOfRange };

Number ParseInteger(std::string_view token, int64_t& value) {
    std::size_t i = 0;
    const bool negative = !token.empty() && token[0] == '-';
    if (!token.empty() && (token[0] == '-' || token[0] == '+')) i = 1;
    if (i == token.size()) return Number::NotANumber;
    uint64_t magnitude = 0;
    bool tooLarge = false;
    for (; i < token.size(); ++i) {
        if (!IsDigit(token[i])) return Number::NotANumber;
        const auto digit = static_cast<uint64_t>(token[i] - '0');
        if (magnitude > (uint64_t{1} << 62) / 5) tooLarge = true;  // beyond 2^63 / 10
        if (!tooLarge) magnitude = magnitude * 10 + digit;
        if (magnitude > (uint64_t{1} << 63)) tooLarge = true;
    }
    if (tooLarge || (!negative && magnitude == (uint64_t{1} << 63))) return Number::OutOfRange;
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return Number::Ok;
}

// A decimal number with a decimal point or a decimal comma ("120", "-12.5", "1000,25", ".5").
Number ParseDecimal(std::string_view token, double& value) {
    std::string text(token);
    std::size_t digits = 0;
    std::size_t points = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsDigit(text[i])) {
            ++digits;
        } else if (text[i] == '.' || text[i] == ',') {
            text[i] = '.';
            ++points;
        } else if (!(i == 0 && (text[i] == '-' || text[i] == '+'))) {
            return Number::NotANumber;
        }
    }
    if (digits == 0 || points > 1) return Number::NotANumber;
    const std::size_t begin = text[0] == '+' ? 1 : 0;
    double parsed = 0;
    const auto [end, error] =
        std::from_chars(text.data() + begin, text.data() + text.size(), parsed);
    if (error == std::errc::result_out_of_range) return Number::OutOfRange;
    if (error != std::errc() || end != text.data() + text.size()) return Number::NotANumber;
    value = parsed;
    return Number::Ok;
}

std::string Quoted(std::string_view token) {
    if (token.empty()) return "空值";
    const std::string shown = PrintableToken(token);
    return shown.empty() ? std::string("一段内容") : "“" + shown + "”";
}

std::string Decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

bool IsNoteType(char c) { return c == ':' || c == '*' || c == 'F' || c == 'R' || c == 'G'; }

// A line (without its leading blanks) that is a note: ':' or '*', or 'F', 'R' or 'G' followed by
// a blank or a number, so that a word such as "Refrain" is not taken for a rap note.
bool IsNoteLine(std::string_view s) {
    if (s.empty() || !IsNoteType(s[0])) return false;
    if (s[0] == ':' || s[0] == '*') return true;
    return s.size() > 1 && (IsBlank(s[1]) || IsDigit(s[1]) || s[1] == '-' || s[1] == '+');
}

UltraStarNoteType NoteType(char c) {
    switch (c) {
        case '*':
            return UltraStarNoteType::Golden;
        case 'F':
            return UltraStarNoteType::Freestyle;
        case 'R':
            return UltraStarNoteType::Rap;
        case 'G':
            return UltraStarNoteType::GoldenRap;
        default:
            return UltraStarNoteType::Normal;
    }
}

// The headers the reader keeps; any other is ignored.
enum Header {
    kTitle,
    kArtist,
    kMp3,
    kAudio,
    kCover,
    kEncoding,
    kVersion,
    kBpm,
    kGap,
    kStart,
    kEnd,
    kVideoGap,
    kRelative,
    kMedleyStartBeat,
    kMedleyEndBeat,
    kMedleyStart,
    kMedleyEnd,
    kDuetSingerP1,
    kDuetSingerP2,
    kSingerP1,
    kSingerP2,
    kYear,
    kGenre,
    kLanguage,
    kPreviewStart,
    kHeaderCount
};

// clang-format off
constexpr std::array<const char*, kHeaderCount> kHeaderNames = {
    "TITLE",     "ARTIST",          "MP3",           "AUDIO",
    "COVER",     "ENCODING",        "VERSION",       "BPM",
    "GAP",       "START",           "END",           "VIDEOGAP",
    "RELATIVE",  "MEDLEYSTARTBEAT", "MEDLEYENDBEAT", "MEDLEYSTART",
    "MEDLEYEND", "DUETSINGERP1",    "DUETSINGERP2",  "P1",
    "P2",        "YEAR",            "GENRE",         "LANGUAGE",
    "PREVIEWSTART"};
// clang-format on

// "2", "2.1" or "2.1.0", with or without a leading "v", into major, minor and patch (missing ones
// stay 0).
bool ParseVersion(std::string_view text, std::array<int64_t, 3>& version) {
    if (!text.empty() && Upper(text[0]) == 'V') text.remove_prefix(1);
    for (std::size_t k = 0;; ++k) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        if (k == version.size() || part.empty() || !IsDigit(part[0]) ||
            ParseInteger(part, version[k]) != Number::Ok)
            return false;
        if (dot == std::string_view::npos) return true;
        text.remove_prefix(dot + 1);
    }
}

struct HeaderValue {
    std::string_view value;  // trimmed, in the decoded text
    int nLine = 0;           // 0 when the header is absent
};

// Splits "#NAME:VALUE" into the trimmed name and value; false without a colon.
bool SplitHeader(std::string_view line, std::string_view& name, std::string_view& value) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    name = Trim(line.substr(1, colon - 1));
    value = Trim(line.substr(colon + 1));
    return true;
}

// The #ENCODING value of 8-bit text, looked for in its header lines; empty when there is none.
HeaderValue RawEncodingHeader(std::string_view bytes) {
    HeaderValue found;
    std::size_t position = 0;
    std::string_view line;
    for (int number = 1; NextLine(bytes, position, line); ++number) {
        line = TrimLeft(line);
        if (line.empty()) continue;
        if (line[0] != '#') break;
        std::string_view name, value;
        if (SplitHeader(line, name, value) && EqualsIgnoringCase(name, "ENCODING"))
            found = {value, number};
    }
    return found;
}

// The part of 8-bit text its code page is detected from: the first kUltraStarDetectionBytes in
// whole lines, or all of a shorter text.
std::string_view DetectionSample(std::string_view bytes) {
    if (bytes.size() <= kUltraStarDetectionBytes) return bytes;
    const std::size_t end = bytes.find_last_of('\n', kUltraStarDetectionBytes - 1);
    return bytes.substr(0, end == std::string_view::npos ? kUltraStarDetectionBytes : end + 1);
}

// The UTF-8 form of a code point.
void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// CP1252 text as UTF-8; the five bytes the code page leaves undefined become U+FFFD. Returns the
// offset of the first such byte, or npos.
std::size_t Cp1252ToUtf8(std::string_view bytes, std::string& out) {
    static constexpr uint16_t kHigh[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::size_t bad = std::string_view::npos;
    out.clear();
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const uint32_t c = byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
        if (c == 0 && byte != 0) {
            if (bad == std::string_view::npos) bad = i;
            out += kReplacement;
        } else {
            AppendUtf8(out, c);
        }
    }
    return bad;
}

// UTF-16 text (without its byte-order mark) as UTF-8; a lone surrogate or an odd last byte
// becomes U+FFFD. Returns the offset in out of the first such, or npos.
std::size_t Utf16ToUtf8(std::string_view bytes, bool bigEndian, std::string& out) {
    std::size_t bad = std::string_view::npos;
    const auto unit = [&](std::size_t i) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<uint32_t>(bigEndian ? first << 8 | second : second << 8 | first);
    };
    const auto replace = [&] {
        if (bad == std::string_view::npos) bad = out.size();
        out += kReplacement;
    };
    out.clear();
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        const uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) < 0xE000) {
            AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00));
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            replace();
        } else {
            AppendUtf8(out, c);
        }
    }
    if (i < bytes.size()) replace();
    return bad;
}

// One part as the reader builds it.
struct PartState {
    int64_t nOffset = 0;  // relative mode: the beat the current line's beats count from
    bool bOpen = false;   // the part's last phrase takes further notes
    int nMarkLine = 0;    // line of the part's first P mark (0: the file has no marks)
};

class CReader {
public:
    CReader(UltraStarFile& file, UltraStarProblem& problem) : m_file(file), m_problem(problem) {}

    bool Read(std::string_view bytes, bool notes) {
        m_file = UltraStarFile{};
        m_problem = UltraStarProblem{};
        Decode(bytes);
        ReadHeaders();
        if (!Normalise() || (notes && !ReadNotes())) return false;
        std::stable_sort(
            m_file.remarks.begin(), m_file.remarks.end(),
            [](const UltraStarProblem& a, const UltraStarProblem& b) { return a.nLine < b.nLine; });
        if (m_nUnlisted > 0)
            m_file.remarks.push_back({0, "另有 " + std::to_string(m_nUnlisted) + " 处未一一列出"});
        return true;
    }

private:
    static std::string OnLine(int line, const std::string& what) {
        return line > 0 ? "第 " + std::to_string(line) + " 行：" + what : what;
    }
    bool Fail(int line, const std::string& what) {
        m_problem.nLine = line;
        m_problem.strProblem = OnLine(line, what);
        return false;
    }
    // Something the song is sung without, or sung mended.
    void Remark(int line, const std::string& what) {
        if (m_file.remarks.size() < kMaxRemarks)
            m_file.remarks.push_back({line, OnLine(line, what)});
        else
            ++m_nUnlisted;
    }

    void Decode(std::string_view bytes);
    void ReadHeaders();
    void TakeHeader(std::string_view line, int number, bool late);
    bool Normalise();
    bool ReadNotes();
    void ReadNote(std::string_view s, int line);
    void ReadBreak(std::string_view s, int line);
    void ReadPartMark(std::string_view s, int line);
    bool Finish();
    PartState& CurrentPart();

    bool Integer(std::string_view token, int line, const char* what, int64_t& value) {
        const Number result = ParseInteger(token, value);
        if (result == Number::Ok) return true;
        Remark(line, std::string(what) + Quoted(token) +
                         (result == Number::NotANumber ? "不是整数" : "超出范围") + "（已忽略）");
        return false;
    }

    // The value of a numeric header the song cannot be sung without, within [low, high].
    bool HeaderDecimal(Header header, double low, double high, double& value) {
        const HeaderValue& h = m_headers[header];
        const std::string name = std::string("#") + kHeaderNames[header];
        const Number result = ParseDecimal(h.value, value);
        if (result == Number::NotANumber)
            return Fail(h.nLine, name + " 的值" + Quoted(h.value) + "不是数字");
        if (result == Number::OutOfRange || !(value >= low && value <= high))
            return Fail(h.nLine, name + " 的值" + Quoted(h.value) + "超出范围（" + Decimal(low) +
                                     " 到 " + Decimal(high) + "）");
        return true;
    }
    // The value of a header the song can be sung without, within [low, high]: one that cannot
    // be used is taken as absent.
    bool OptionalDecimal(Header header, double low, double high, double& value) {
        const HeaderValue& h = m_headers[header];
        const std::string name = std::string("#") + kHeaderNames[header];
        const Number result = ParseDecimal(h.value, value);
        if (result == Number::NotANumber)
            Remark(h.nLine, name + " 的值" + Quoted(h.value) + "不是数字（已忽略）");
        else if (result == Number::OutOfRange || !(value >= low && value <= high))
            Remark(h.nLine, name + " 的值" + Quoted(h.value) + "不在 " + Decimal(low) + " 到 " +
                                Decimal(high) + " 之内（已忽略）");
        else
            return true;
        return false;
    }
    bool HasHeader(Header header) const {
        return m_headers[header].nLine > 0 && !m_headers[header].value.empty();
    }

    bool InSong(int64_t beat) const {
        const double seconds = m_file.BeatSeconds(static_cast<double>(beat));
        return seconds >= 0 && seconds <= kMaxSongSeconds;
    }

    UltraStarFile& m_file;
    UltraStarProblem& m_problem;
    std::string m_text;           // the file as UTF-8
    std::size_t m_nPosition = 0;  // where the lines after the headers begin
    int m_nLine = 0;              // number of the last line read
    std::array<HeaderValue, kHeaderCount> m_headers{};
    std::vector<PartState> m_states;  // parallel to m_file.parts
    std::size_t m_nCurrent = 0;       // the part notes go to, when m_states is not empty
    bool m_bUnsung = false;           // after a P mark of no usable number: notes go nowhere
    std::size_t m_nUnlisted = 0;      // remarks beyond kMaxRemarks
};

void CReader::Decode(std::string_view bytes) {
    const auto startsWith = [&bytes](std::string_view mark) { return bytes.starts_with(mark); };
    const char* utf16 = startsWith("\xFF\xFE")   ? "UTF-16LE"
                        : startsWith("\xFE\xFF") ? "UTF-16BE"
                                                 : nullptr;
    if (utf16) {
        if (platform::ConvertText("UTF-8", utf16, bytes.substr(2), m_text) ==
            platform::Conversion::Ok)
            return;
        const std::size_t bad = Utf16ToUtf8(bytes.substr(2), utf16[6] == 'B', m_text);
        Remark(LineAt(m_text, bad), "UTF-16 文本不完整或含有无效的字符（已换成 �）");
        return;
    }
    const bool utf8 = startsWith(kByteOrderMark);
    if (utf8) bytes.remove_prefix(kByteOrderMark.size());
    std::size_t bad = platform::InvalidUtf8At(bytes);
    if (bad == std::string_view::npos) {
        m_text.assign(bytes);
        return;
    }
    if (utf8) {
        // A byte-order mark says UTF-8: invalid bytes after it are damage, not another code page.
        Remark(LineAt(bytes, bad), "含有无效的 UTF-8 字节（已换成 �）");
        m_text.clear();
        for (std::size_t i = 0; i < bytes.size();) {
            const std::size_t length = platform::Utf8SequenceLength(bytes, i);
            if (length == 0) {
                m_text += kReplacement;
                ++i;
            } else {
                m_text.append(bytes.substr(i, length));
                i += length;
            }
        }
        return;
    }
    const HeaderValue encoding = RawEncodingHeader(bytes);
    std::string codePage = CodePageName(encoding.value);
    if (codePage.empty()) {
        // No code page named (nor one by "UTF-8" or "Auto"): the detected one, else CP1252.
        codePage = platform::DetectCodePage(DetectionSample(bytes));
        const bool named = !encoding.value.empty();
        Remark(named ? encoding.nLine : 0,
               (named ? "#ENCODING 的值" + Quoted(encoding.value) + "不是代码页"
                      : std::string("没有 #ENCODING")) +
                   "，文本也不是有效的 UTF-8" +
                   (codePage.empty() ? "（编码无法确定，按 CP1252 读取）"
                                     : "（按检测到的 " + codePage + " 读取）"));
    }
    if (codePage.empty() || codePage == "CP1252") {
        bad = Cp1252ToUtf8(bytes, m_text);
        if (bad != std::string_view::npos)
            Remark(LineAt(bytes, bad), "含有 CP1252 编码中不存在的字节（已换成 �）");
        return;
    }
    switch (platform::ConvertText("UTF-8", codePage.c_str(), bytes, m_text)) {
        case platform::Conversion::Ok:
            return;
        case platform::Conversion::Invalid: {
            // Line by line: a line with a byte the code page lacks is read as CP1252.
            m_text.clear();
            std::size_t position = 0;
            std::string_view line;
            std::string converted;
            for (int number = 1; position < bytes.size(); ++number) {
                const std::size_t begin = position;
                NextLine(bytes, position, line);
                const std::string_view end =
                    bytes.substr(begin + line.size(), position - begin - line.size());
                if (platform::ConvertText("UTF-8", codePage.c_str(), line, converted) !=
                    platform::Conversion::Ok) {
                    Remark(number,
                           "含有 " + codePage + " 编码中不存在的字节（这一行按 CP1252 读取）");
                    Cp1252ToUtf8(line, converted);
                }
                m_text.append(converted).append(end);
            }
            return;
        }
        case platform::Conversion::Unsupported:
            break;
    }
    Remark(encoding.nLine, "不支持的编码" + Quoted(encoding.value) + "（按 CP1252 读取）");
    Cp1252ToUtf8(bytes, m_text);
}

// Every header of the file up to its end ("E"): the first of each name counts. The header lines
// come first; m_nPosition is left at the first line of any other kind, and a header among the
// notes is read too.
void CReader::ReadHeaders() {
    std::size_t position = 0;
    std::string_view line;
    int number = 0;
    bool late = false;
    while (NextLine(m_text, position, line)) {
        ++number;
        line = TrimLeft(line);
        if (!late) {
            if (!line.empty() && line[0] != '#') {
                late = true;
            } else {
                m_nPosition = position;
                m_nLine = number;
            }
        }
        if (late && !line.empty() && line[0] == 'E') break;
        if (!line.empty() && line[0] == '#') TakeHeader(line, number, late);
    }
}

void CReader::TakeHeader(std::string_view line, int number, bool late) {
    std::string_view name, value;
    if (!SplitHeader(line, name, value)) return;
    for (std::size_t h = 0; h < kHeaderCount; ++h) {
        if (!EqualsIgnoringCase(name, kHeaderNames[h])) continue;
        HeaderValue& header = m_headers[h];
        const std::string shown = std::string("#") + kHeaderNames[h];
        if (header.nLine == 0 || (header.value.empty() && !value.empty())) {
            header = {value, number};
            if (late) Remark(number, shown + " 写在音符之间（已读取）");
        } else if (value != header.value && !value.empty()) {
            Remark(number,
                   shown + " 重复出现，以第 " + std::to_string(header.nLine) + " 行为准（已忽略）");
        }
        return;
    }
}

bool CReader::Normalise() {
    if (m_headers[kBpm].nLine == 0) {
        // Without a tempo a file can still be a damaged song, when it has notes.
        std::size_t position = m_nPosition;
        std::string_view line;
        while (NextLine(m_text, position, line))
            if (IsNoteLine(TrimLeft(line)))
                return Fail(0, "缺少 #BPM（每分钟拍数），无法计算音符的时间");
        return Fail(0, "不是 UltraStar 歌曲文件");
    }
    const auto text = [this](Header header) { return std::string(m_headers[header].value); };
    m_file.strTitle = text(kTitle);
    m_file.strArtist = text(kArtist);
    m_file.strAudio = HasHeader(kAudio) ? text(kAudio) : text(kMp3);
    m_file.strCover = text(kCover);
    m_file.strYear = text(kYear);
    m_file.strGenre = text(kGenre);
    m_file.strLanguage = text(kLanguage);
    m_file.strEncoding = text(kEncoding);
    m_file.strVersion = text(kVersion);
    m_file.strSingerP1 = HasHeader(kDuetSingerP1) ? text(kDuetSingerP1) : text(kSingerP1);
    m_file.strSingerP2 = HasHeader(kDuetSingerP2) ? text(kDuetSingerP2) : text(kSingerP2);
    m_file.bRelative = EqualsIgnoringCase(m_headers[kRelative].value, "yes") ||
                       EqualsIgnoringCase(m_headers[kRelative].value, "true");

    // "2", "2.0" or "2.0.0": from 2.0.0 on, times are milliseconds.
    std::array<int64_t, 3> version{};
    if (HasHeader(kVersion) && !ParseVersion(m_headers[kVersion].value, version)) {
        Remark(m_headers[kVersion].nLine,
               "#VERSION 的值" + Quoted(m_headers[kVersion].value) + "不是版本号（已忽略）");
        version = {};
    }
    const bool milliseconds = std::tie(version[0], version[1], version[2]) >=
                              std::make_tuple(int64_t{2}, int64_t{0}, int64_t{0});

    if (!HeaderDecimal(kBpm, 0, kMaxBpm, m_file.dBpm)) return false;
    if (m_file.dBpm <= 0)
        return Fail(m_headers[kBpm].nLine,
                    "#BPM 的值" + Quoted(m_headers[kBpm].value) + "必须大于 0");
    if (HasHeader(kGap) &&
        !OptionalDecimal(kGap, -kMaxSongSeconds * 1000, kMaxSongSeconds * 1000, m_file.dGapMs))
        m_file.dGapMs = 0;

    const double unit = milliseconds ? 1000 : 1;  // of #START and #VIDEOGAP
    double value = 0;
    if (HasHeader(kStart) && OptionalDecimal(kStart, 0, kMaxSongSeconds * unit, value))
        m_file.startSeconds = value / unit;
    if (HasHeader(kEnd) && OptionalDecimal(kEnd, 0, kMaxSongSeconds * 1000, value))
        m_file.endMs = value;
    if (HasHeader(kVideoGap) &&
        OptionalDecimal(kVideoGap, -kMaxSongSeconds * unit, kMaxSongSeconds * unit, value))
        m_file.videoGapSeconds = value / unit;
    // Seconds in every version.
    if (HasHeader(kPreviewStart) && OptionalDecimal(kPreviewStart, 0, kMaxSongSeconds, value))
        m_file.previewStartSeconds = value;
    if (milliseconds) {
        const std::pair<Header, std::optional<double>*> bounds[] = {
            {kMedleyStart, &m_file.medleyStartMs}, {kMedleyEnd, &m_file.medleyEndMs}};
        for (const auto& [header, field] : bounds)
            if (HasHeader(header) && OptionalDecimal(header, 0, kMaxSongSeconds * 1000, value))
                *field = value;
    } else {
        const std::pair<Header, std::optional<int64_t>*> bounds[] = {
            {kMedleyStartBeat, &m_file.medleyStartBeat}, {kMedleyEndBeat, &m_file.medleyEndBeat}};
        for (const auto& [header, field] : bounds) {
            if (!HasHeader(header)) continue;
            const HeaderValue& h = m_headers[header];
            const std::string name = std::string("#") + kHeaderNames[header];
            int64_t beat = 0;
            if (!Integer(h.value, h.nLine, (name + " 的值").c_str(), beat)) continue;
            if (!InSong(beat)) {
                Remark(h.nLine, name + " 的第 " + std::to_string(beat) +
                                    " 拍不在歌曲的 0 到 21600 秒之内（已忽略）");
                continue;
            }
            *field = beat;
        }
    }
    return true;
}

bool CReader::ReadNotes() {
    std::string_view line;
    while (NextLine(m_text, m_nPosition, line)) {
        const int number = ++m_nLine;
        const std::string_view s = TrimLeft(line);
        if (s.empty() || s[0] == '#') continue;  // headers are all read already
        if (s[0] == 'E') break;                  // the end: nothing after it is read
        if (IsNoteLine(s))
            ReadNote(s, number);
        else if (s[0] == '-')
            ReadBreak(s, number);
        else if (s[0] == 'P')
            ReadPartMark(s, number);
        else
            Remark(number, "无法识别的内容" + Quoted(s) + "（已忽略）");
    }
    return Finish();
}

// The part notes and breaks go to: before any P mark, part 1 of a file without marks.
PartState& CReader::CurrentPart() {
    if (m_states.empty()) {
        m_file.parts.emplace_back();
        m_states.emplace_back();
        m_nCurrent = 0;
    }
    return m_states[m_nCurrent];
}

void CReader::ReadNote(std::string_view s, int line) {
    // The type, then start, length and pitch separated by blanks; the syllable is all that
    // follows the one blank after the pitch.
    if (m_bUnsung) return;
    std::size_t position = 1;
    int64_t numbers[3] = {};
    static const char* const kWhat[3] = {"起始拍", "长度", "音高"};
    for (int k = 0; k < 3; ++k) {
        while (position < s.size() && IsBlank(s[position])) ++position;
        const std::size_t begin = position;
        while (position < s.size() && !IsBlank(s[position])) ++position;
        if (begin == position)
            return Remark(line, std::string("音符缺少") + kWhat[k] +
                                    "，应为：类型 起始拍 长度 音高 音节（已忽略）");
        if (!Integer(s.substr(begin, position - begin), line, kWhat[k], numbers[k])) return;
    }
    const std::string_view syllable =
        position < s.size() ? s.substr(position + 1) : s.substr(s.size());
    const auto [beat, length, pitch] = numbers;
    if (length <= 0)
        return Remark(line, "音符的长度为 " + std::to_string(length) + " 拍（已忽略）");

    PartState& state = CurrentPart();
    UltraStarPart& part = m_file.parts[m_nCurrent];
    int64_t start = beat;
    int64_t end = 0;
    if ((m_file.bRelative && __builtin_add_overflow(state.nOffset, beat, &start)) ||
        __builtin_add_overflow(start, length, &end))
        return Remark(line, "音符的拍数超出范围（已忽略）");
    if (!InSong(start) || !InSong(end))
        return Remark(line, "音符（第 " + std::to_string(start) + " 到 " + std::to_string(end) +
                                " 拍）不在歌曲的 0 到 21600 秒之内（已忽略）");
    if (!part.phrases.empty()) {
        // The notes of a part follow one another: a note that starts before the last one is out
        // of place; one that starts while the last sounds ends it there.
        UltraStarNote& last = part.phrases.back().notes.back();
        const int64_t lastEnd = last.nStartBeat + last.nLength;
        if (start < last.nStartBeat)
            return Remark(line, "音符从第 " + std::to_string(start) + " 拍开始，早于从第 " +
                                    std::to_string(last.nStartBeat) +
                                    " 拍开始的上一个音符（已忽略）");
        if (start < lastEnd) {
            last.nLength = start - last.nStartBeat;
            Remark(line, "音符从第 " + std::to_string(start) + " 拍开始，而上一个音符到第 " +
                             std::to_string(lastEnd) + " 拍才结束" +
                             (last.nLength > 0 ? "（上一个音符已缩短）" : "（上一个音符已去掉）"));
            if (last.nLength == 0) {
                part.phrases.back().notes.pop_back();
                if (part.phrases.back().notes.empty()) {
                    part.phrases.pop_back();
                    state.bOpen = false;
                }
            }
        }
    }
    if (!state.bOpen) {
        part.phrases.emplace_back();
        part.phrases.back().nLine = line;
        state.bOpen = true;
    }
    UltraStarNote note;
    note.type = NoteType(s[0]);
    note.nStartBeat = start;
    note.nLength = length;
    note.nPitch = static_cast<int>(std::clamp(pitch, -kPitchLimit, kPitchLimit));
    note.strSyllable.assign(syllable);
    note.nLine = line;
    part.phrases.back().notes.push_back(std::move(note));
}

// A line break ends the phrase; one before a part's first note or right after another changes
// nothing but, in relative mode, the beat the next line counts from.
void CReader::ReadBreak(std::string_view s, int line) {
    if (m_bUnsung) return;
    int64_t beats[2] = {};
    int count = 0;
    std::size_t position = 1;
    while (true) {
        while (position < s.size() && IsBlank(s[position])) ++position;
        if (position == s.size()) break;
        const std::size_t begin = position;
        while (position < s.size() && !IsBlank(s[position])) ++position;
        if (count == 2) {
            Remark(line, "换行后的内容" + Quoted(s.substr(begin)) + "多余（已忽略）");
            break;
        }
        if (!Integer(s.substr(begin, position - begin), line, "换行的拍数", beats[count])) break;
        ++count;
    }
    PartState& state = CurrentPart();
    state.bOpen = false;
    if (!m_file.bRelative) return;
    int64_t step = count > 0 ? beats[count - 1] : 0;
    if (count == 0) {
        // The next line counts from where the last note ends.
        const UltraStarPart& part = m_file.parts[m_nCurrent];
        if (!part.phrases.empty()) {
            const UltraStarNote& last = part.phrases.back().notes.back();
            step = std::max<int64_t>(0, last.nStartBeat + last.nLength - state.nOffset);
        }
        Remark(line, "相对拍数的歌曲中，换行没有写出拍数（下一行从上一个音符的结尾算起）");
    }
    if (__builtin_add_overflow(state.nOffset, step, &state.nOffset))
        Remark(line, "换行的拍数超出范围（已忽略）");
}

void CReader::ReadPartMark(std::string_view s, int line) {
    const std::string_view token = Trim(s.substr(1));
    int64_t number = 0;
    if (ParseInteger(token, number) != Number::Ok)
        return Remark(line, "无法识别的内容" + Quoted(s) + "（已忽略）");
    if (!m_states.empty()) m_states[m_nCurrent].bOpen = false;
    if (number < 1 || number > kMaxPartNumber) {
        m_bUnsung = true;
        return Remark(line,
                      "演唱者标记" + Quoted(s) + "无效（应为 P1、P2 …），其后的音符不会被演唱");
    }
    m_bUnsung = false;
    if (!m_file.bDuet && !m_states.empty() && !m_file.parts[0].phrases.empty())
        Remark(m_file.parts[0].phrases.front().nLine,
               "二重唱文件的音符出现在第一个 P 标记之前（算作第 1 声部）");
    m_file.bDuet = true;
    for (std::size_t k = 0; k < m_file.parts.size(); ++k) {
        if (m_file.parts[k].nNumber == number) {  // the part goes on
            m_nCurrent = k;
            if (m_states[k].nMarkLine == 0) m_states[k].nMarkLine = line;
            return;
        }
    }
    m_file.parts.emplace_back();
    m_file.parts.back().nNumber = static_cast<int>(number);
    m_states.emplace_back();
    m_states.back().nMarkLine = line;
    m_nCurrent = m_file.parts.size() - 1;
}

bool CReader::Finish() {
    // A part no role sings (P3 and on) may be empty, and so may the one that only a line break
    // before the first P mark began: such a part is left out.
    for (std::size_t k = m_file.parts.size(); k-- > 0;) {
        const bool unmarked = m_file.bDuet && m_states[k].nMarkLine == 0;
        if (!m_file.parts[k].phrases.empty() || (m_file.parts[k].nNumber <= 2 && !unmarked))
            continue;
        if (!unmarked)
            Remark(m_states[k].nMarkLine,
                   "P" + std::to_string(m_file.parts[k].nNumber) + " 没有音符（已忽略）");
        m_file.parts.erase(m_file.parts.begin() + static_cast<std::ptrdiff_t>(k));
        m_states.erase(m_states.begin() + static_cast<std::ptrdiff_t>(k));
    }
    if (m_file.parts.empty() || (!m_file.bDuet && m_file.parts[0].phrases.empty()))
        return Fail(0, "没有任何音符");
    for (std::size_t k = 0; k < m_file.parts.size(); ++k)
        if (m_file.parts[k].phrases.empty())
            return Fail(m_states[k].nMarkLine,
                        "P" + std::to_string(m_file.parts[k].nNumber) + " 没有音符");
    std::stable_sort(
        m_file.parts.begin(), m_file.parts.end(),
        [](const UltraStarPart& a, const UltraStarPart& b) { return a.nNumber < b.nNumber; });
    return true;
}

}  // namespace

double UltraStarFile::BeatSeconds(double beat) const {
    return dGapMs / 1000 + beat * 60 / (dBpm * 4);
}

bool ReadUltraStarFile(std::string_view bytes, UltraStarFile& out, UltraStarProblem& problem) {
    return CReader(out, problem).Read(bytes, true);
}

bool ReadUltraStarHeaders(std::string_view bytes, UltraStarFile& out, UltraStarProblem& problem) {
    return CReader(out, problem).Read(bytes, false);
}

}  // namespace engine
