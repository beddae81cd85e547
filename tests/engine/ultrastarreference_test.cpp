#include "engine/ultrastarreference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ultrastarfile.h"
#include "platform/codepage.h"

namespace engine {
namespace {

UltraStarFile Read(const std::string& text) {
    UltraStarFile file;
    UltraStarProblem problem;
    EXPECT_TRUE(ReadUltraStarFile(text, file, problem)) << problem.strProblem;
    return file;
}

// The reference value of MIDI note m.
int32_t Value(int midi) { return 10 * midi + 120; }

std::vector<int> LyricIndices(const UltraStarLine& line) {
    std::vector<int> indices;
    for (const auto& lyric : line.lyrics) indices.push_back(lyric.nIndex);
    return indices;
}

// BPM 300 and GAP 1000: beat b is at 1 + 0.05 b seconds. Pitch 5 is MIDI 65, whose octave
// below (53) lies in 48…59, so k = −1.
TEST(UltraStarReferenceTest, OneNoteGivesOneLineOfItsValue) {
    const UltraStarFile file = Read("#BPM:300\n#GAP:1000\n: 0 3 5 la\n");
    const std::vector<UltraStarLine> lines = UltraStarReference(file, 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_DOUBLE_EQ(lines[0].dStart, 1.0);
    EXPECT_DOUBLE_EQ(lines[0].dEnd, 1.15);
    EXPECT_EQ(lines[0].nFirstBeat, 0);
    EXPECT_EQ(lines[0].nLastBeatEnd, 3);
    EXPECT_EQ(UltraStarOctaveShift(file, 0), -1);
    // 0.15 s at one value per 15 ms: 10 values, the last at 1.135 s, all in the note.
    EXPECT_EQ(lines[0].values, std::vector<int32_t>(10, Value(53)));
    ASSERT_EQ(lines[0].lyrics.size(), 1u);
    EXPECT_EQ(lines[0].lyrics[0].strText, "la");
    EXPECT_EQ(lines[0].lyrics[0].nIndex, 0);
}

// BPM 1000 and GAP 0: a beat lasts exactly one value (15 ms), and the times of values 4, 8 and
// 12 equal the times of beats 4, 8 and 12 to the last bit.
TEST(UltraStarReferenceTest, ANoteCoversItsStartButNotItsEnd) {
    // Pitches 0 and 12: lower median 60, k = −1, so the notes sound as MIDI 48 and 60.
    UltraStarFile file = Read("#BPM:1000\n: 0 4 0 a\n: 4 4 12 b\n");
    std::vector<UltraStarLine> lines = UltraStarReference(file, 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].values, (std::vector<int32_t>{Value(48), Value(48), Value(48), Value(48),
                                                     Value(60), Value(60), Value(60), Value(60)}));
    EXPECT_EQ(LyricIndices(lines[0]), (std::vector<int>{0, 4}));

    // A rest from beat 4 to 8: value 4 (at the end of a) is a rest, value 8 is in b.
    file = Read("#BPM:1000\n: 0 4 0 a\n: 8 4 12 b\n");
    lines = UltraStarReference(file, 0);
    ASSERT_EQ(lines.size(), 1u);
    const int32_t a = Value(48), b = Value(60);
    EXPECT_EQ(lines[0].values, (std::vector<int32_t>{a, a, a, a, 0, 0, 0, 0, b, b, b, b}));
    EXPECT_EQ(LyricIndices(lines[0]), (std::vector<int>{0, 8}));
}

TEST(UltraStarReferenceTest, ValueCountRoundsHalvesUpAndIsAtLeastTwo) {
    // BPM 2000: a beat is 7.5 ms, half a value. 5 beats are 2.5 values, 21 beats 10.5.
    struct Case {
        int nBeats;
        std::size_t nValues;
    };
    for (const Case c : {Case{5, 3}, Case{21, 11}, Case{1, 2}, Case{2, 2}}) {
        SCOPED_TRACE(c.nBeats);
        const UltraStarFile file = Read("#BPM:2000\n: 0 " + std::to_string(c.nBeats) + " 0 x\n");
        const std::vector<UltraStarLine> lines = UltraStarReference(file, 0);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].values.size(), c.nValues);
    }
    // One beat of BPM 1000 is one value: the second value, at the note's end, is a rest.
    const UltraStarFile file = Read("#BPM:1000\n: 0 1 0 x\n");
    EXPECT_EQ(UltraStarReference(file, 0)[0].values, (std::vector<int32_t>{Value(48), 0}));
}

TEST(UltraStarReferenceTest, OctaveShiftPutsTheLowerMedianIn48To59) {
    struct Case {
        std::vector<int> pitches;  // of normal notes, in order
        int nShift;
    };
    const Case cases[] = {
        {{-13}, 1},
        {{-12}, 0},
        {{-1}, 0},
        {{0}, -1},
        {{11}, -1},
        {{12}, -2},
        {{-60}, 4},
        {{60}, -6},
        {{0, 12}, -1},          // even count: the lower of the two middle notes
        {{12, 0, 12, 24}, -2},  // 60 72 72 84: the lower middle note is 72
        {{24, -24, 0}, -1},     // sorted before the median is taken
    };
    for (const Case& c : cases) {
        std::string text = "#BPM:100\n";
        for (std::size_t i = 0; i < c.pitches.size(); ++i)
            text += ": " + std::to_string(2 * i) + " 1 " + std::to_string(c.pitches[i]) + " x\n";
        const UltraStarFile file = Read(text);
        SCOPED_TRACE(text);
        EXPECT_EQ(UltraStarOctaveShift(file, 0), c.nShift);
        // Each note sounds at its own MIDI number moved by the same octaves.
        const UltraStarLine line = UltraStarReference(file, 0).at(0);
        EXPECT_EQ(line.values.front(), Value(60 + c.pitches.front() + 12 * c.nShift));
    }
}

TEST(UltraStarReferenceTest, OnlyNormalAndGoldenNotesAreJudged) {
    // BPM 1000: four values per note. Only the ':' and '*' notes count for the median, and a
    // long note counts once, like a short one.
    const UltraStarFile file = Read(
        "#BPM:1000\n"
        ": 0 4 0 normal\n"
        "* 4 4 12 golden\n"
        "F 8 4 30 free\n"
        "R 12 4 30 rap\n"
        "G 16 4 30 goldenrap\n"
        "- 20\n"
        ": 20 40 0 long\n"
        ": 60 1 12 short\n"
        ": 62 1 12 ~ \n");
    EXPECT_EQ(UltraStarOctaveShift(file, 0), -2);  // 60 72 60 72 72: lower median 72
    const std::vector<UltraStarLine> lines = UltraStarReference(file, 0);
    ASSERT_EQ(lines.size(), 2u);
    std::vector<int32_t> expected(20, 0);
    std::fill(expected.begin(), expected.begin() + 4, Value(36));
    std::fill(expected.begin() + 4, expected.begin() + 8, Value(48));
    EXPECT_EQ(lines[0].values, expected);
    EXPECT_EQ(LyricIndices(lines[0]), (std::vector<int>{0, 4, 8, 12, 16}));
    const UltraStarNoteType types[] = {UltraStarNoteType::Normal, UltraStarNoteType::Golden,
                                       UltraStarNoteType::Freestyle, UltraStarNoteType::Rap,
                                       UltraStarNoteType::GoldenRap};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(lines[0].lyrics[i].type, types[i]);
    EXPECT_EQ(lines[1].lyrics[2].strText, "~ ");
    EXPECT_EQ(lines[1].nFirstBeat, 20);
    EXPECT_EQ(lines[1].nLastBeatEnd, 63);
}

TEST(UltraStarReferenceTest, LyricOfANoteBetweenTwoValues) {
    // BPM 2000, a beat of 7.5 ms: b (beats 4–5, 30–37.5 ms) starts at value 2; c (37.5–45 ms)
    // lies between values 2 and 3 and takes 3, the first value after its start.
    UltraStarFile file = Read("#BPM:2000\n: 0 4 0 a\n: 4 1 0 b\n: 5 1 0 c\n: 6 6 0 d\n");
    std::vector<UltraStarLine> lines = UltraStarReference(file, 0);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].values.size(), 6u);  // 90 ms
    EXPECT_EQ(LyricIndices(lines[0]), (std::vector<int>{0, 2, 3, 3}));
    // BPM 2500, a beat of 6 ms: the line lasts 36 ms, two values (0 and 15 ms); b starts at
    // 30 ms, after the last value, and is held at it.
    file = Read("#BPM:2500\n: 0 5 0 a\n: 5 1 0 b\n");
    lines = UltraStarReference(file, 0);
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].values.size(), 2u);
    EXPECT_EQ(LyricIndices(lines[0]), (std::vector<int>{0, 1}));
}

TEST(UltraStarReferenceTest, EachPartHasItsOwnLinesAndShift) {
    const UltraStarFile file = Read(
        "#BPM:1000\n#GAP:500\n"
        "P1\n: 0 2 0 a\n- 3\n: 4 2 0 b\n"
        "P2\n: 10 2 -24 c\n");
    ASSERT_EQ(file.parts.size(), 2u);
    const std::vector<UltraStarLine> first = UltraStarReference(file, 0);
    const std::vector<UltraStarLine> second = UltraStarReference(file, 1);
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_DOUBLE_EQ(first[1].dStart, 0.5 + 4 * 0.015);
    EXPECT_DOUBLE_EQ(second[0].dStart, 0.5 + 10 * 0.015);
    EXPECT_EQ(first[0].values, (std::vector<int32_t>{Value(48), Value(48)}));
    EXPECT_EQ(UltraStarOctaveShift(file, 1), 1);  // MIDI 36 goes up to 48
    EXPECT_EQ(second[0].values, (std::vector<int32_t>{Value(48), Value(48)}));
    EXPECT_TRUE(UltraStarReference(file, 2).empty());
}

// Mutations of the project's own song files (tests/data/ultrastar and the real-shaped songs of
// tests/data/songs), from fixed seeds. Whatever a mutation does, the reader neither crashes nor
// gives notes that do not hold together. A mutation that leaves every note, the tempo and the
// text encoding alone (headers other than those, comments, line ends, blanks, byte-order marks,
// text after the end, extra line breaks) leaves the reference data as it was.
struct Seed {
    std::string name;
    std::string start;               // a byte-order mark that opens the file, which says UTF-8
    std::vector<std::string> lines;  // without their ends
    bool bRelative = false;
    bool bUtf8 = false;
};

// A line without the blanks and byte-order marks before it.
std::string_view Trimmed(std::string_view s) {
    while (true) {
        if (!s.empty() && (s[0] == ' ' || s[0] == '\t'))
            s.remove_prefix(1);
        else if (s.starts_with("\xEF\xBB\xBF"))
            s.remove_prefix(3);
        else
            return s;
    }
}

std::vector<Seed> Seeds() {
    std::vector<std::filesystem::path> paths;
    for (const char* folder : {"ultrastar", "songs"})
        for (const auto& song :
             std::filesystem::directory_iterator(std::filesystem::path(QUORVEL_TEST_DATA) / folder))
            if (song.is_directory())
                for (const auto& file : std::filesystem::directory_iterator(song.path()))
                    if (file.path().extension() == ".txt") paths.push_back(file.path());
    std::sort(paths.begin(), paths.end());
    std::vector<Seed> seeds;
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        std::string bytes{std::istreambuf_iterator<char>(in), {}};
        Seed& seed = seeds.emplace_back();
        if (bytes.starts_with("\xEF\xBB\xBF")) {
            seed.start = bytes.substr(0, 3);
            bytes.erase(0, 3);
        }
        seed.name = path.filename().string();
        seed.bUtf8 = platform::IsValidUtf8(bytes);
        std::string line;
        for (const char c : bytes) {
            if (c == '\n') {
                seed.lines.push_back(line);
                line.clear();
            } else if (c != '\r') {
                line += c;
            }
        }
        if (!line.empty()) seed.lines.push_back(line);
        for (const auto& each : seed.lines)
            if (Trimmed(each).starts_with("#RELATIVE:")) seed.bRelative = true;
    }
    return seeds;
}

std::string Join(const std::vector<std::string>& lines, const std::string& end) {
    std::string text;
    for (const auto& line : lines) text.append(line).append(end);
    return text;
}

std::size_t Pick(std::mt19937& random, std::size_t count) {
    return count == 0 ? 0 : random() % count;
}

// The reference data of every part, exactly.
std::string Fingerprint(const UltraStarFile& file) {
    std::string text;
    char number[64];
    for (std::size_t part = 0; part < file.parts.size(); ++part) {
        std::snprintf(number, sizeof number, "P%d\n", file.parts[part].nNumber);
        text += number;
        for (const auto& line : UltraStarReference(file, part)) {
            std::snprintf(number, sizeof number, "%.17g %.17g:", line.dStart, line.dEnd);
            text += number;
            for (const int32_t value : line.values) {
                std::snprintf(number, sizeof number, " %d", static_cast<int>(value));
                text += number;
            }
            for (const auto& lyric : line.lyrics) {
                std::snprintf(number, sizeof number, " [%d %d ", lyric.nIndex,
                              static_cast<int>(lyric.type));
                text.append(number).append(lyric.strText).append("]");
            }
            text += '\n';
        }
    }
    return text;
}

// What every file that reads as a song holds to.
void ExpectSound(const UltraStarFile& file, std::size_t lineCount) {
    ASSERT_FALSE(file.parts.empty());
    for (std::size_t part = 0; part < file.parts.size(); ++part) {
        if (part > 0) {
            EXPECT_LT(file.parts[part - 1].nNumber, file.parts[part].nNumber);
        }
        ASSERT_FALSE(file.parts[part].phrases.empty());
        int64_t end = INT64_MIN;
        for (const auto& phrase : file.parts[part].phrases) {
            ASSERT_FALSE(phrase.notes.empty());
            for (const auto& note : phrase.notes) {
                EXPECT_GE(note.nStartBeat, end);
                EXPECT_GT(note.nLength, 0);
                end = note.nStartBeat + note.nLength;
            }
        }
        for (const auto& line : UltraStarReference(file, part)) {
            ASSERT_GE(line.values.size(), 2u);
            for (const int32_t value : line.values)
                ASSERT_TRUE(value == 0 || (value >= 120 && value <= 1390 && value % 10 == 0));
            for (const auto& lyric : line.lyrics)
                ASSERT_LT(static_cast<std::size_t>(lyric.nIndex), line.values.size());
        }
    }
    for (const auto& remark : file.remarks) {
        EXPECT_FALSE(remark.strProblem.empty());
        EXPECT_LE(static_cast<std::size_t>(remark.nLine), lineCount + 1) << remark.strProblem;
    }
}

// A change of no note, tempo or encoding; the description says what it did.
std::string HarmlessChange(const std::vector<std::string>& lines, std::size_t end, bool relative,
                           bool utf8, std::mt19937& random, std::vector<std::string>& out,
                           std::string& lineEnd);

TEST(UltraStarMutationTest, HarmlessChangesKeepTheReferenceData) {
    std::mt19937 random(20240611);
    int checked = 0;
    for (const Seed& seed : Seeds()) {
        SCOPED_TRACE(seed.name);
        UltraStarFile original;
        UltraStarProblem problem;
        if (!ReadUltraStarFile(seed.start + Join(seed.lines, "\n"), original, problem)) continue;
        const std::string expected = Fingerprint(original);
        for (int round = 0; round < 150; ++round) {
            std::vector<std::string> lines = seed.lines;
            std::string lineEnd = "\n";
            std::string done;
            const int changes = 1 + static_cast<int>(random() % 3);
            for (int k = 0; k < changes; ++k) {
                std::size_t end = lines.size();
                for (std::size_t i = 0; i < lines.size(); ++i)
                    if (Trimmed(lines[i]) == "E") {
                        end = i;
                        break;
                    }
                std::vector<std::string> next;
                done +=
                    HarmlessChange(lines, end, seed.bRelative, seed.bUtf8, random, next, lineEnd) +
                    "; ";
                lines = std::move(next);
            }
            const std::string text = seed.start + Join(lines, lineEnd);
            UltraStarFile file;
            ASSERT_TRUE(ReadUltraStarFile(text, file, problem)) << done << problem.strProblem;
            const std::string got = Fingerprint(file);
            const auto differ =
                std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first -
                got.begin();
            ASSERT_TRUE(got == expected) << done << "\nfrom: " << got.substr(differ, 80)
                                         << "\nwas:  " << expected.substr(differ, 80);
            ExpectSound(file, lines.size());
            ++checked;
        }
    }
    EXPECT_GT(checked, 1000);
}

std::string HarmlessChange(const std::vector<std::string>& lines, std::size_t end, bool relative,
                           bool utf8, std::mt19937& random, std::vector<std::string>& out,
                           std::string& lineEnd) {
    const auto trimmed = [&](std::size_t i) { return Trimmed(lines[i]); };
    // Headers whose value changes notes or their times.
    const auto matters = [&](std::size_t i) {
        for (const char* name : {"#BPM:", "#GAP:", "#RELATIVE:", "#ENCODING:"})
            if (trimmed(i).starts_with(name)) return true;
        return false;
    };
    const auto junk = [&random](std::size_t length) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i) text += static_cast<char>(' ' + random() % 95);
        return text;
    };
    std::vector<std::size_t> headers, freeHeaders, breaks, marks, notes;
    for (std::size_t i = 0; i < end; ++i) {
        const std::string_view s = trimmed(i);
        if (!s.empty() && s[0] == '#') {
            headers.push_back(i);
            if (!matters(i)) freeHeaders.push_back(i);
        } else if (!s.empty() && s[0] == '-') {
            breaks.push_back(i);
        } else if (!s.empty() && s[0] == 'P') {
            marks.push_back(i);
        } else if (!s.empty()) {
            notes.push_back(i);
        }
    }
    const auto any = [&random](const std::vector<std::size_t>& from) {
        return from[random() % from.size()];
    };
    out = lines;
    const std::size_t before = 1 + random() % (end + 1);  // a place before the end line
    switch (random() % 13) {
        case 0:
            if (freeHeaders.empty()) break;
            out.erase(out.begin() + static_cast<std::ptrdiff_t>(any(freeHeaders)));
            return "deleted a header";
        case 1: {  // a copy of any header, anywhere before the end: the first still counts
            if (headers.empty()) break;
            const std::size_t h = any(headers);
            const std::size_t at = h + 1 + random() % (end - h);
            out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), lines[h]);
            return "copied line " + std::to_string(h + 1) + " after line " + std::to_string(at);
        }
        case 2: {
            if (freeHeaders.empty()) break;
            std::string& line = out[any(freeHeaders)];
            line = line.substr(0, line.find(':') + 1) + junk(random() % 20);
            return "changed a header's value";
        }
        case 3: {
            if (freeHeaders.size() < 2) break;
            std::swap(out[any(freeHeaders)], out[any(freeHeaders)]);
            return "swapped two headers";
        }
        case 4:
            out.insert(out.begin() + static_cast<std::ptrdiff_t>(before - 1), "#X" + junk(8));
            return "put in a comment line";
        case 5:
            out.insert(out.begin() + static_cast<std::ptrdiff_t>(before - 1),
                       std::string(random() % 3, ' ') + std::string(random() % 2, '\t'));
            return "put in a blank line";
        case 6: {  // blanks before any line, after a line that is not a note
            const std::size_t i = Pick(random, end);
            if (end == 0) break;
            out[i] = (random() % 2 ? "\t" : "  ") + out[i];
            const std::string_view s = trimmed(i);
            if (s.empty() || s[0] == '#' || s[0] == '-' || s[0] == 'P') out[i] += " \t ";
            return "blanks around line " + std::to_string(i + 1);
        }
        case 7: {
            lineEnd = random() % 3 == 0 ? "\n" : random() % 2 ? "\r\n" : "\r";
            return "line ends";
        }
        case 8: {
            if (!utf8) break;
            const std::size_t i = Pick(random, end);
            if (end == 0) break;
            out[i] = "\xEF\xBB\xBF" + out[i];
            return "byte-order mark on line " + std::to_string(i + 1);
        }
        case 9:  // text after the end
            if (end == lines.size()) out.push_back("E");
            out.push_back(junk(random() % 30));
            if (random() % 2) out.push_back(": 0 1 0 " + junk(5));
            return "text after the end";
        case 10:
            if (end < lines.size()) out[end] = random() % 2 ? "END" : "E " + junk(10);
            return "words after E";
        case 11: {  // a second break after a break
            if (relative || breaks.empty()) break;
            const std::size_t b = any(breaks);
            out.insert(out.begin() + static_cast<std::ptrdiff_t>(b + 1),
                       "- " + std::to_string(random() % 100));
            return "a second break after line " + std::to_string(b + 1);
        }
        case 12: {  // a break before a part's first note
            if (relative || notes.empty()) break;
            const std::size_t at = marks.empty() ? notes.front() : any(marks) + 1;
            out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), "- 0");
            return "a break before line " + std::to_string(at + 1);
        }
    }
    return "nothing";
}

// Damage of any kind: the reader never crashes, and what it gives holds together.
TEST(UltraStarMutationTest, DamageNeverBreaksTheReader) {
    std::mt19937 random(7);
    const std::vector<Seed> seeds = Seeds();
    int read = 0;
    for (const Seed& seed : seeds) {
        SCOPED_TRACE(seed.name);
        for (int round = 0; round < 300; ++round) {
            std::vector<std::string> lines = seed.lines;
            const int changes = 1 + static_cast<int>(random() % 4);
            for (int k = 0; k < changes && !lines.empty(); ++k) {
                const std::size_t i = Pick(random, lines.size());
                const std::size_t j = Pick(random, lines.size());
                switch (random() % 8) {
                    case 0:
                        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
                        break;
                    case 1:
                        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), lines[j]);
                        break;
                    case 2:
                        std::swap(lines[i], lines[j]);
                        break;
                    case 3:
                        if (!lines[i].empty())
                            lines[i][Pick(random, lines[i].size())] = static_cast<char>(random());
                        break;
                    case 4: {
                        std::string junk(random() % 12, ' ');
                        for (char& c : junk) c = static_cast<char>(random());
                        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), junk);
                        break;
                    }
                    case 5: {  // a number changed
                        std::string& line = lines[i];
                        const std::size_t digit = line.find_first_of("0123456789");
                        if (digit == std::string::npos) break;
                        const std::size_t stop = line.find_first_not_of("0123456789", digit);
                        static const char* const kNumbers[] = {
                            "0",          "-1",  "1",          "63",
                            "127",        "-60", "9999999999", "99999999999999999999",
                            "2147483648", "+5",  "1.5",        ""};
                        line.replace(digit,
                                     stop == std::string::npos ? line.size() - digit : stop - digit,
                                     kNumbers[random() % std::size(kNumbers)]);
                        break;
                    }
                    case 6: {  // a line of another song
                        const Seed& other = seeds[Pick(random, seeds.size())];
                        if (!other.lines.empty())
                            lines[i] = other.lines[Pick(random, other.lines.size())];
                        break;
                    }
                    case 7:
                        lines.resize(i);
                        break;
                }
            }
            const std::string text = seed.start + Join(lines, random() % 2 ? "\n" : "\r\n");
            UltraStarFile file, headers;
            UltraStarProblem problem;
            const bool listed = ReadUltraStarHeaders(text, headers, problem);
            if (!ReadUltraStarFile(text, file, problem)) {
                EXPECT_FALSE(problem.strProblem.empty());
                EXPECT_LE(static_cast<std::size_t>(problem.nLine), lines.size() + 1);
                continue;
            }
            // A song lists with the headers it is read with.
            ASSERT_TRUE(listed);
            EXPECT_EQ(headers.strTitle, file.strTitle);
            EXPECT_EQ(headers.dBpm, file.dBpm);
            ExpectSound(file, lines.size());
            if (HasFatalFailure()) return;
            ++read;
        }
    }
    EXPECT_GT(read, 500);
}

}  // namespace
}  // namespace engine
