#include "engine/ultrastarfile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <system_error>
#include <tuple>

#include "engine/numberscanner.h"
#include "platform/codepage.h"

namespace engine {
namespace {

constexpr double kMaxSongSeconds = 6 * 60 * 60;  // no note lies beyond 6 hours of audio
constexpr double kMaxBpm = 100000;               // beats of 0.15 ms: no song is that fast
constexpr int kMaxPitch = 60;                    // semitones either side of MIDI note 60
constexpr int kMaxPartNumber = 99;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Upper(x) == Upper(y); });
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view Trim(std::string_view s) {
    s = TrimLeft(s);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
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
    kHeaderCount
};

constexpr std::array<const char*, kHeaderCount> kHeaderNames = {
    "TITLE",     "ARTIST",          "MP3",           "AUDIO",
    "COVER",     "ENCODING",        "VERSION",       "BPM",
    "GAP",       "START",           "END",           "VIDEOGAP",
    "RELATIVE",  "MEDLEYSTARTBEAT", "MEDLEYENDBEAT", "MEDLEYSTART",
    "MEDLEYEND", "DUETSINGERP1",    "DUETSINGERP2",  "P1",
    "P2"};

// "2", "2.1" or "2.1.0" into major, minor and patch (missing ones stay 0).
bool ParseVersion(std::string_view text, std::array<int64_t, 3>& version) {
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

// One part as the reader builds it.
struct PartState {
    int64_t nOffset = 0;   // relative mode: the beat the current line's beats count from
    int64_t nLastEnd = 0;  // end beat of the part's last note
    bool bOpen = false;    // the part's last phrase takes further notes
    int nMarkLine = 0;     // line of the part's first P mark (0: the file has no marks)
};

class CReader {
public:
    CReader(UltraStarFile& file, UltraStarProblem& problem) : m_file(file), m_problem(problem) {}

    bool Read(std::string_view bytes, bool notes) {
        m_file = UltraStarFile{};
        m_problem = UltraStarProblem{};
        if (!Decode(bytes) || !ReadHeaders() || !Normalise()) return false;
        return !notes || ReadNotes();
    }

private:
    bool Fail(int line, const std::string& what) {
        m_problem.nLine = line;
        m_problem.strProblem = line > 0 ? "第 " + std::to_string(line) + " 行：" + what : what;
        return false;
    }

    bool Decode(std::string_view bytes);
    bool ReadHeaders();
    bool Normalise();
    bool ReadNotes();
    bool ReadNote(std::string_view s, int line);
    bool ReadBreak(std::string_view s, int line);
    bool ReadPartMark(std::string_view s, int line);
    bool Finish();
    PartState& CurrentPart(int line);

    bool Integer(std::string_view token, int line, const char* what, int64_t& value) {
        const Number result = ParseInteger(token, value);
        if (result == Number::Ok) return true;
        return Fail(line, std::string(what) + Quoted(token) +
                              (result == Number::NotANumber ? "不是整数" : "超出范围"));
    }

    // The value of a numeric header, which must lie within [low, high].
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
    int m_nLooseNoteLine = 0;         // first note before any P mark
};

bool CReader::Decode(std::string_view bytes) {
    const auto startsWith = [&bytes](std::string_view mark) { return bytes.starts_with(mark); };
    const char* utf16 = startsWith("\xFF\xFE")   ? "UTF-16LE"
                        : startsWith("\xFE\xFF") ? "UTF-16BE"
                                                 : nullptr;
    if (utf16) {
        if (platform::ConvertText("UTF-8", utf16, bytes.substr(2), m_text) ==
            platform::Conversion::Ok)
            return true;
        return Fail(LineAt(m_text, m_text.size()), "UTF-16 文本不完整或含有无效的字符");
    }
    if (startsWith("\xEF\xBB\xBF")) {
        // A byte-order mark says UTF-8: invalid bytes after it are damage, not another code page.
        const std::string_view body = bytes.substr(3);
        const std::size_t bad = platform::InvalidUtf8At(body);
        if (bad != std::string_view::npos) return Fail(LineAt(body, bad), "含有无效的 UTF-8 字节");
        m_text.assign(body);
        return true;
    }
    if (platform::InvalidUtf8At(bytes) == std::string_view::npos) {
        m_text.assign(bytes);
        return true;
    }
    const HeaderValue encoding = RawEncodingHeader(bytes);
    std::string codePage = CodePageName(encoding.value);
    if (codePage.empty()) codePage = "CP1252";
    switch (platform::ConvertText("UTF-8", codePage.c_str(), bytes, m_text)) {
        case platform::Conversion::Ok:
            return true;
        case platform::Conversion::Invalid:
            return Fail(LineAt(m_text, m_text.size()), "含有 " + codePage + " 编码中不存在的字节");
        case platform::Conversion::Unsupported:
            break;
    }
    return Fail(encoding.nLine, "不支持的编码" + Quoted(encoding.value));
}

// The header lines up to the first line of any other kind, which m_nPosition is left at.
bool CReader::ReadHeaders() {
    std::size_t position = 0;
    std::string_view line;
    int number = 0;
    while (NextLine(m_text, position, line)) {
        line = TrimLeft(line);
        if (!line.empty() && line[0] != '#') break;
        m_nPosition = position;
        m_nLine = ++number;
        std::string_view name, value;
        if (line.empty() || !SplitHeader(line, name, value)) continue;
        for (std::size_t h = 0; h < kHeaderCount; ++h)
            if (EqualsIgnoringCase(name, kHeaderNames[h])) m_headers[h] = {value, number};
    }
    return true;
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
    m_file.strEncoding = text(kEncoding);
    m_file.strVersion = text(kVersion);
    m_file.strSingerP1 = HasHeader(kDuetSingerP1) ? text(kDuetSingerP1) : text(kSingerP1);
    m_file.strSingerP2 = HasHeader(kDuetSingerP2) ? text(kDuetSingerP2) : text(kSingerP2);
    m_file.bRelative = EqualsIgnoringCase(m_headers[kRelative].value, "yes") ||
                       EqualsIgnoringCase(m_headers[kRelative].value, "true");

    // "2", "2.0" or "2.0.0": from 2.0.0 on, times are milliseconds.
    std::array<int64_t, 3> version{};
    if (HasHeader(kVersion) && !ParseVersion(m_headers[kVersion].value, version))
        return Fail(m_headers[kVersion].nLine,
                    "#VERSION 的值" + Quoted(m_headers[kVersion].value) + "不是版本号");
    const bool milliseconds = std::tie(version[0], version[1], version[2]) >=
                              std::make_tuple(int64_t{2}, int64_t{0}, int64_t{0});

    if (!HeaderDecimal(kBpm, 0, kMaxBpm, m_file.dBpm)) return false;
    if (m_file.dBpm <= 0)
        return Fail(m_headers[kBpm].nLine,
                    "#BPM 的值" + Quoted(m_headers[kBpm].value) + "必须大于 0");
    if (HasHeader(kGap) &&
        !HeaderDecimal(kGap, -kMaxSongSeconds * 1000, kMaxSongSeconds * 1000, m_file.dGapMs))
        return false;

    const double unit = milliseconds ? 1000 : 1;  // of #START and #VIDEOGAP
    double value = 0;
    if (HasHeader(kStart)) {
        if (!HeaderDecimal(kStart, 0, kMaxSongSeconds * unit, value)) return false;
        m_file.startSeconds = value / unit;
    }
    if (HasHeader(kEnd)) {
        if (!HeaderDecimal(kEnd, 0, kMaxSongSeconds * 1000, value)) return false;
        m_file.endMs = value;
    }
    if (HasHeader(kVideoGap)) {
        if (!HeaderDecimal(kVideoGap, -kMaxSongSeconds * unit, kMaxSongSeconds * unit, value))
            return false;
        m_file.videoGapSeconds = value / unit;
    }
    if (milliseconds) {
        const std::pair<Header, std::optional<double>*> bounds[] = {
            {kMedleyStart, &m_file.medleyStartMs}, {kMedleyEnd, &m_file.medleyEndMs}};
        for (const auto& [header, field] : bounds) {
            if (!HasHeader(header)) continue;
            if (!HeaderDecimal(header, 0, kMaxSongSeconds * 1000, value)) return false;
            *field = value;
        }
    } else {
        const std::pair<Header, std::optional<int64_t>*> bounds[] = {
            {kMedleyStartBeat, &m_file.medleyStartBeat}, {kMedleyEndBeat, &m_file.medleyEndBeat}};
        for (const auto& [header, field] : bounds) {
            if (!HasHeader(header)) continue;
            const HeaderValue& h = m_headers[header];
            const std::string name = std::string("#") + kHeaderNames[header];
            int64_t beat = 0;
            if (!Integer(h.value, h.nLine, (name + " 的值").c_str(), beat)) return false;
            if (!InSong(beat))
                return Fail(h.nLine, name + " 的第 " + std::to_string(beat) +
                                         " 拍不在歌曲的时间之内（0 到 21600 秒）");
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
        if (s.empty() || s[0] == '#') continue;  // a header among the notes changes nothing
        if (s[0] == 'E') break;                  // the end: nothing after it is read
        bool ok;
        if (IsNoteLine(s))
            ok = ReadNote(s, number);
        else if (s[0] == '-')
            ok = ReadBreak(s, number);
        else if (s[0] == 'P')
            ok = ReadPartMark(s, number);
        else
            ok = Fail(number, "无法识别的内容" + Quoted(s));
        if (!ok) return false;
    }
    return Finish();
}

// The part notes and breaks go to: before any P mark, part 1 of a file without marks.
PartState& CReader::CurrentPart(int line) {
    if (m_states.empty()) {
        m_file.parts.emplace_back();
        m_states.emplace_back();
        m_nCurrent = 0;
        m_nLooseNoteLine = line;
    }
    return m_states[m_nCurrent];
}

bool CReader::ReadNote(std::string_view s, int line) {
    // The type, then start, length and pitch separated by blanks; the syllable is all that
    // follows the one blank after the pitch.
    std::size_t position = 1;
    int64_t numbers[3] = {};
    static const char* const kWhat[3] = {"起始拍", "长度", "音高"};
    for (int k = 0; k < 3; ++k) {
        while (position < s.size() && IsBlank(s[position])) ++position;
        const std::size_t begin = position;
        while (position < s.size() && !IsBlank(s[position])) ++position;
        if (begin == position)
            return Fail(
                line, std::string("音符缺少") + kWhat[k] + "（应为：类型 起始拍 长度 音高 音节）");
        if (!Integer(s.substr(begin, position - begin), line, kWhat[k], numbers[k])) return false;
    }
    const std::string_view syllable =
        position < s.size() ? s.substr(position + 1) : s.substr(s.size());
    const auto [beat, length, pitch] = numbers;
    if (length < 0) return Fail(line, "长度 " + std::to_string(length) + " 拍不能为负数");
    if (pitch < -kMaxPitch || pitch > kMaxPitch)
        return Fail(line, "音高 " + std::to_string(pitch) + " 超出范围（-60 到 60）");

    PartState& state = CurrentPart(line);
    UltraStarPart& part = m_file.parts[m_nCurrent];
    int64_t start = beat;
    int64_t end = 0;
    if ((m_file.bRelative && __builtin_add_overflow(state.nOffset, beat, &start)) ||
        __builtin_add_overflow(start, length, &end))
        return Fail(line, "音符的拍数超出范围");
    if (!part.phrases.empty() && start < state.nLastEnd)
        return Fail(line, "音符从第 " + std::to_string(start) + " 拍开始，而上一个音符到第 " +
                              std::to_string(state.nLastEnd) + " 拍才结束");
    if (!InSong(start) || !InSong(end))
        return Fail(line, "音符（第 " + std::to_string(start) + " 到 " + std::to_string(end) +
                              " 拍）不在歌曲的时间之内（0 到 21600 秒）");
    if (!state.bOpen) {
        part.phrases.emplace_back();
        part.phrases.back().nLine = line;
        state.bOpen = true;
    }
    UltraStarNote note;
    note.type = NoteType(s[0]);
    note.nStartBeat = start;
    note.nLength = length;
    note.nPitch = static_cast<int>(pitch);
    note.strSyllable.assign(syllable);
    note.nLine = line;
    part.phrases.back().notes.push_back(std::move(note));
    state.nLastEnd = end;
    return true;
}

bool CReader::ReadBreak(std::string_view s, int line) {
    int64_t beats[2] = {};
    int count = 0;
    std::size_t position = 1;
    while (true) {
        while (position < s.size() && IsBlank(s[position])) ++position;
        if (position == s.size()) break;
        const std::size_t begin = position;
        while (position < s.size() && !IsBlank(s[position])) ++position;
        if (count == 2) return Fail(line, "换行后的内容" + Quoted(s.substr(begin)) + "多余");
        if (!Integer(s.substr(begin, position - begin), line, "换行的拍数", beats[count]))
            return false;
        ++count;
    }
    if (m_file.bRelative && count == 0) return Fail(line, "相对拍数的歌曲中，换行必须写出拍数");

    PartState& state = CurrentPart(line);
    if (!state.bOpen)
        return Fail(line, m_file.parts[m_nCurrent].phrases.empty()
                              ? "换行出现在这一部分的第一个音符之前"
                              : "换行之前没有音符（两个换行之间是空的）");
    state.bOpen = false;
    if (m_file.bRelative && __builtin_add_overflow(state.nOffset, beats[count - 1], &state.nOffset))
        return Fail(line, "换行的拍数超出范围");
    return true;
}

bool CReader::ReadPartMark(std::string_view s, int line) {
    const std::string_view token = Trim(s.substr(1));
    int64_t number = 0;
    if (ParseInteger(token, number) != Number::Ok || number < 1 || number > kMaxPartNumber)
        return Fail(line, "演唱者标记" + Quoted(s) + "无效（应为 P1、P2 …）");
    if (!m_file.bDuet && !m_states.empty())
        return Fail(m_nLooseNoteLine, "二重唱文件的音符出现在第一个 P 标记之前");
    m_file.bDuet = true;
    if (!m_states.empty()) m_states[m_nCurrent].bOpen = false;
    for (std::size_t k = 0; k < m_file.parts.size(); ++k) {
        if (m_file.parts[k].nNumber == number) {  // the part goes on
            m_nCurrent = k;
            return true;
        }
    }
    m_file.parts.emplace_back();
    m_file.parts.back().nNumber = static_cast<int>(number);
    m_states.emplace_back();
    m_states.back().nMarkLine = line;
    m_nCurrent = m_file.parts.size() - 1;
    return true;
}

bool CReader::Finish() {
    if (m_file.parts.empty()) return Fail(0, "没有任何音符");
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
