#include "engine/ultrastarfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/song.h"
#include "engine/songloader.h"
#include "engine/songmusic.h"
#include "engine/ultrastarreference.h"
#include "platform/codepage.h"
#include "tests/support/songwriter.h"

namespace engine {
namespace {

// The text must read as a song; the problem is shown when it does not.
UltraStarFile Read(std::string_view text) {
    UltraStarFile file;
    UltraStarProblem problem;
    EXPECT_TRUE(ReadUltraStarFile(text, file, problem)) << problem.strProblem;
    return file;
}

// The text must not read as a song.
UltraStarProblem ProblemOf(std::string_view text) {
    UltraStarFile file;
    UltraStarProblem problem;
    EXPECT_FALSE(ReadUltraStarFile(text, file, problem)) << text;
    return problem;
}

std::vector<UltraStarNote> Notes(const UltraStarPart& part) {
    std::vector<UltraStarNote> notes;
    for (const auto& phrase : part.phrases)
        notes.insert(notes.end(), phrase.notes.begin(), phrase.notes.end());
    return notes;
}

std::vector<int64_t> StartBeats(const UltraStarPart& part) {
    std::vector<int64_t> beats;
    for (const auto& note : Notes(part)) beats.push_back(note.nStartBeat);
    return beats;
}

std::vector<std::string> Syllables(const UltraStarPart& part) {
    std::vector<std::string> syllables;
    for (const auto& note : Notes(part)) syllables.push_back(note.strSyllable);
    return syllables;
}

// The notes of a part as "start+length", or "start+length“syllable”", phrases apart by " / ".
std::string Layout(const UltraStarPart& part, bool syllables = false) {
    std::string text;
    for (const auto& phrase : part.phrases) {
        if (!text.empty()) text += " /";
        for (const auto& note : phrase.notes) {
            if (!text.empty()) text += ' ';
            text.append(std::to_string(note.nStartBeat)).append("+");
            text.append(std::to_string(note.nLength));
            if (syllables) text.append("“").append(note.strSyllable).append("”");
        }
    }
    return text;
}

std::string RemarkText(const UltraStarFile& file) {
    std::string text;
    for (const auto& remark : file.remarks) text += (text.empty() ? "" : "\n") + remark.strProblem;
    return text;
}

std::vector<std::size_t> PhraseSizes(const UltraStarPart& part) {
    std::vector<std::size_t> sizes;
    for (const auto& phrase : part.phrases) sizes.push_back(phrase.notes.size());
    return sizes;
}

std::string Bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The UTF-16 bytes of text with a byte-order mark.
std::string Utf16(std::u16string_view text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

constexpr std::string_view kSong =
    "#TITLE:Morning Song\n"
    "#ARTIST:The Testers\n"
    "#MP3:morning.mp3\n"
    "#COVER:morning.jpg\n"
    "#BPM:300\n"
    "#GAP:1000\n"
    "\n"
    ": 0 2 5 Hel\n"
    ": 2 2 7 lo \n"
    "* 4 4 9 world\n"
    "- 9\n"
    "F 10 2 0  free\n"
    "R 12 2 -3 rap\n"
    "G 14 2 60 ~\n"
    ": 16 1 -60 ~ \n"
    "E\n"
    "this line is past the end and never read\n";

TEST(ReadUltraStarFileTest, ReadsHeadersNotesAndPhrases) {
    const UltraStarFile file = Read(kSong);
    EXPECT_EQ(file.strTitle, "Morning Song");
    EXPECT_EQ(file.strArtist, "The Testers");
    EXPECT_EQ(file.strAudio, "morning.mp3");
    EXPECT_EQ(file.strCover, "morning.jpg");
    EXPECT_EQ(file.dBpm, 300);
    EXPECT_EQ(file.dGapMs, 1000);
    EXPECT_FALSE(file.bRelative);
    EXPECT_FALSE(file.bDuet);
    EXPECT_FALSE(file.startSeconds || file.endMs || file.videoGapSeconds);
    EXPECT_FALSE(file.medleyStartBeat || file.medleyEndBeat);
    ASSERT_EQ(file.parts.size(), 1u);
    const UltraStarPart& part = file.parts[0];
    EXPECT_EQ(part.nNumber, 1);
    EXPECT_EQ(PhraseSizes(part), (std::vector<std::size_t>{3, 4}));
    EXPECT_EQ(part.phrases[0].nLine, 8);
    EXPECT_EQ(part.phrases[1].nLine, 12);

    const std::vector<UltraStarNote> notes = Notes(part);
    ASSERT_EQ(notes.size(), 7u);
    const UltraStarNoteType types[] = {UltraStarNoteType::Normal, UltraStarNoteType::Normal,
                                       UltraStarNoteType::Golden, UltraStarNoteType::Freestyle,
                                       UltraStarNoteType::Rap,    UltraStarNoteType::GoldenRap,
                                       UltraStarNoteType::Normal};
    const int lengths[] = {2, 2, 4, 2, 2, 2, 1};
    const int pitches[] = {5, 7, 9, 0, -3, 60, -60};
    const int lines[] = {8, 9, 10, 12, 13, 14, 15};
    for (std::size_t i = 0; i < notes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(notes[i].type, types[i]);
        EXPECT_EQ(notes[i].nLength, lengths[i]);
        EXPECT_EQ(notes[i].nPitch, pitches[i]);
        EXPECT_EQ(notes[i].nLine, lines[i]);
    }
    EXPECT_EQ(StartBeats(part), (std::vector<int64_t>{0, 2, 4, 10, 12, 14, 16}));
    // Spaces around a syllable and "~" are kept; two blanks before " free" leave one.
    EXPECT_EQ(Syllables(part),
              (std::vector<std::string>{"Hel", "lo ", "world", " free", "rap", "~", "~ "}));
    // A beat of BPM 300 is 60 / 1200 s.
    EXPECT_DOUBLE_EQ(file.BeatSeconds(0), 1.0);
    EXPECT_DOUBLE_EQ(file.BeatSeconds(20), 2.0);
}

TEST(ReadUltraStarFileTest, HeaderNamesInAnyCaseAndTrimmedValues) {
    const UltraStarFile file = Read(
        "#tItLe:  Spaced Out \t\n"
        "#Artist:\tSomeone:Else\n"
        "#AUDIO:song.ogg\n"
        "#mp3:old.mp3\n"
        "#UNKNOWNTAG:whatever\n"
        "#bpm:200\n"
        "#DuetSingerP1:Ann\n"
        "#P2:Bob\n"
        ": 0 1 0 a\n");
    EXPECT_EQ(file.strTitle, "Spaced Out");
    EXPECT_EQ(file.strArtist, "Someone:Else");
    EXPECT_EQ(file.strAudio, "song.ogg");  // #AUDIO wins over #MP3 wherever they stand
    EXPECT_EQ(file.strSingerP1, "Ann");
    EXPECT_EQ(file.strSingerP2, "Bob");
    EXPECT_EQ(file.dBpm, 200);
    EXPECT_EQ(Read("#MP3:a.mp3\n#AUDIO:b.opus\n#BPM:1\n: 0 1 0 a\n").strAudio, "b.opus");
    EXPECT_EQ(Read("#DUETSINGERP2:New\n#P2:Old\n#BPM:1\n: 0 1 0 a\n").strSingerP2, "New");
}

TEST(ReadUltraStarFileTest, DecimalCommaOrPointInBpmAndGap) {
    for (const auto* text :
         {"#BPM:312,5\n#GAP:1234,5\n: 0 1 0 a\n", "#BPM:312.5\n#GAP:1234.5\n: 0 1 0 a\n"}) {
        SCOPED_TRACE(text);
        const UltraStarFile file = Read(text);
        EXPECT_EQ(file.dBpm, 312.5);
        EXPECT_EQ(file.dGapMs, 1234.5);
        EXPECT_DOUBLE_EQ(file.BeatSeconds(10), 1.2345 + 10 * 60 / 1250.0);
    }
}

TEST(ReadUltraStarFileTest, TabsAndRunsOfBlanksSeparateNumbers) {
    const UltraStarFile file = Read(
        "#BPM:100\n"
        ":\t0\t2\t3\tone\n"
        ":   2    2   4  two\n"
        "  *  4 2 -5\t\tthree\n"
        ": 6 2 1\n"
        ":8 1 1 x\n");
    EXPECT_EQ(StartBeats(file.parts[0]), (std::vector<int64_t>{0, 2, 4, 6, 8}));
    EXPECT_EQ(Syllables(file.parts[0]),
              (std::vector<std::string>{"one", " two", "\tthree", "", "x"}));
    EXPECT_EQ(Notes(file.parts[0])[2].nPitch, -5);
}

TEST(ReadUltraStarFileTest, LineEndsLfCrLfAndLoneCr) {
    for (const std::string end : {"\n", "\r\n", "\r"}) {
        SCOPED_TRACE(end == "\n" ? "LF" : end == "\r" ? "CR" : "CRLF");
        std::string text;
        for (const char* line : {"#TITLE:Ends", "#BPM:120", ": 0 2 1 a ", "- 3", ": 4 1 2 b", "E"})
            text.append(line).append(end);
        const UltraStarFile file = Read(text);
        EXPECT_EQ(file.strTitle, "Ends");
        EXPECT_EQ(Syllables(file.parts[0]), (std::vector<std::string>{"a ", "b"}));
        EXPECT_EQ(Notes(file.parts[0])[1].nLine, 5);
        // A remark on line 5 is counted the same way.
        std::string odd = text;
        odd.replace(odd.find(": 4 1 2"), 7, ": 4 0 2");
        const UltraStarFile mended = Read(odd);
        ASSERT_EQ(mended.remarks.size(), 1u);
        EXPECT_EQ(mended.remarks[0].nLine, 5);
    }
}

TEST(ReadUltraStarFileTest, RelativeBeatsCountFromTheLineOffset) {
    const UltraStarFile file = Read(
        "#RELATIVE:yes\n"
        "#BPM:100\n"
        ": 0 2 0 a\n"
        ": 4 2 0 b\n"
        "- 6 8\n"  // the break is at beat 6 of this line; the next line counts from 8
        ": 0 2 0 c\n"
        ": 3 1 0 d\n"
        "- 5\n"  // one number: it is the offset step too (8 + 5 = 13)
        ": 1 1 0 e\n"
        "E\n");
    EXPECT_TRUE(file.bRelative);
    EXPECT_EQ(StartBeats(file.parts[0]), (std::vector<int64_t>{0, 4, 8, 11, 14}));
    EXPECT_EQ(PhraseSizes(file.parts[0]), (std::vector<std::size_t>{2, 2, 1}));
    // Without the header the same beats are absolute, and c would start before b: it is left out.
    EXPECT_TRUE(Read("#RELATIVE:YES\n#BPM:1\n: 0 2 0 a\n- 2 2\n: 0 2 0 b\n").bRelative);
    EXPECT_EQ(Read("#RELATIVE:no\n#BPM:100\n: 0 2 0 a\n: 4 2 0 b\n- 6 8\n: 0 2 0 c\n")
                  .remarks.at(0)
                  .nLine,
              6);
}

TEST(ReadUltraStarFileTest, DuetPartsInEverySpelling) {
    const UltraStarFile file = Read(
        "#BPM:100\n"
        "#DUETSINGERP1:Ann\n"
        "#DUETSINGERP2:Bob\n"
        "P 1\n"
        ": 0 2 0 a\n"
        "- 3\n"
        ": 4 2 0 b\n"
        "- 7\n"  // a break just before the next part is allowed
        "P2\n"
        ": 1 2 4 c\n"  // each part has its own order: c may start before b
        "P3\n"
        ": 0 8 2 all\n"
        "E\n");
    EXPECT_TRUE(file.bDuet);
    EXPECT_EQ(file.strSingerP1, "Ann");
    ASSERT_EQ(file.parts.size(), 3u);
    EXPECT_EQ(file.parts[0].nNumber, 1);
    EXPECT_EQ(file.parts[1].nNumber, 2);
    EXPECT_EQ(file.parts[2].nNumber, 3);
    EXPECT_EQ(Syllables(file.parts[0]), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(PhraseSizes(file.parts[0]), (std::vector<std::size_t>{1, 1}));
    EXPECT_EQ(StartBeats(file.parts[1]), (std::vector<int64_t>{1}));
    EXPECT_EQ(Syllables(file.parts[2]), (std::vector<std::string>{"all"}));

    // P2 written first still comes second; a part resumed later goes on where it stopped.
    const UltraStarFile swapped =
        Read("#BPM:100\nP2\n: 0 1 0 two\nP1\n: 0 1 0 one\nP2\n: 5 1 0 more\n");
    ASSERT_EQ(swapped.parts.size(), 2u);
    EXPECT_EQ(Syllables(swapped.parts[0]), (std::vector<std::string>{"one"}));
    EXPECT_EQ(Syllables(swapped.parts[1]), (std::vector<std::string>{"two", "more"}));
    EXPECT_EQ(Read("#BPM:100\nP1\n: 5 1 0 a\nP2\n: 0 1 0 b\nP1\n: 2 1 0 c\n").remarks.at(0).nLine,
              7);
}

TEST(ReadUltraStarFileTest, TextEncodings) {
    // 8-bit text that names no code page: the detected one, else CP1252.
    const std::string koi8 = "#TITLE:\xF0\xD2\xC9\xD7\xC5\xD4\n#BPM:100\n: 0 1 0 \xF0\xD2\xC9\n";
    UltraStarFile file = Read(koi8);
    EXPECT_EQ(file.strTitle, "Привет");
    EXPECT_EQ(Syllables(file.parts[0])[0], "При");
    file = Read("#TITLE:Caf\xE9\n#BPM:100\n: 0 1 0 \xE9t\xE9\n");
    EXPECT_EQ(file.strTitle, "Café");
    EXPECT_EQ(Syllables(file.parts[0])[0], "été");

    // UTF-8 with a byte-order mark: the first header is still read.
    file = Read("\xEF\xBB\xBF#TITLE:Café\n#BPM:100\n: 0 1 0 你\n: 1 1 0 好\n");
    EXPECT_EQ(file.strTitle, "Café");
    EXPECT_EQ(Syllables(file.parts[0]), (std::vector<std::string>{"你", "好"}));

    // UTF-16 both ways round, with a character beyond the basic plane (a surrogate pair).
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "UTF-16BE" : "UTF-16LE");
        file = Read(
            Utf16(u"#TITLE:Песня\r\n#BPM:100\r\n: 0 1 0 при\r\n: 1 1 0 \U0001F3B5\r\n", bigEndian));
        EXPECT_EQ(file.strTitle, "Песня");
        EXPECT_EQ(Syllables(file.parts[0]), (std::vector<std::string>{"при", "🎵"}));
    }

    // An 8-bit code page named by #ENCODING, in its usual spellings.
    for (const char* name : {"KOI8-R", "koi8r", "KOI8_R"}) {
        SCOPED_TRACE(name);
        file = Read("#ENCODING:" + std::string(name) + "\n" + koi8);
        EXPECT_EQ(file.strTitle, "Привет");
        EXPECT_EQ(Syllables(file.parts[0])[0], "При");
    }
    for (const char* name : {"CP1250", "cp1250", "windows-1250", "Windows1250"}) {
        SCOPED_TRACE(name);
        file = Read("#TITLE:\xB3\xF3\x64\x9F\n#ENCODING:" + std::string(name) +
                    "\n#BPM:100\n: 0 1 0 a\n");
        EXPECT_EQ(file.strTitle, "łódź");
    }
    EXPECT_EQ(Read("#TITLE:\xB3\xF3\x64\x9F\n#BPM:100\n: 0 1 0 a\n").strTitle, "³ódŸ");

    // A valid UTF-8 file is UTF-8 whatever #ENCODING says.
    file = Read("#ENCODING:CP1252\n#TITLE:Café\n#BPM:100\n: 0 1 0 a\n");
    EXPECT_EQ(file.strTitle, "Café");
    EXPECT_EQ(file.strEncoding, "CP1252");
}

// The German, French and Spanish songs of tests/data/songs saved in CP1252, as West European
// editors save them: they read as their UTF-8 originals do.
TEST(ReadUltraStarFileTest, WestEuropeanSongsInCp1252ReadAsInUtf8) {
    for (const char* name :
         {"stille-nacht", "ode-an-die-freude", "frere-jacques", "la-cucaracha"}) {
        SCOPED_TRACE(name);
        const std::string utf8 = Bytes(std::filesystem::path(QUORVEL_TEST_DATA) / "songs" / name /
                                       (name + std::string(".txt")));
        std::string cp1252;
        ASSERT_EQ(platform::ConvertText("CP1252", "UTF-8", utf8, cp1252), platform::Conversion::Ok);
        const UltraStarFile original = Read(utf8), file = Read(cp1252);
        EXPECT_EQ(file.strTitle, original.strTitle);
        for (std::size_t part = 0; part < original.parts.size(); ++part)
            EXPECT_EQ(Layout(file.parts.at(part), true), Layout(original.parts[part], true));
        EXPECT_EQ(RemarkText(file),
                  "没有 #ENCODING，文本也不是有效的 UTF-8（按检测到的 CP1252 读取）");
    }
}

TEST(ReadUltraStarFileTest, TimesAndMedleyFollowTheVersion) {
    constexpr std::string_view kTimes =
        "#BPM:100\n#GAP:500\n#START:12,5\n#END:180000\n#VIDEOGAP:1.5\n#PREVIEWSTART:42,5\n"
        "#MEDLEYSTARTBEAT:100\n#MEDLEYENDBEAT:200\n#MEDLEYSTART:30000\n#MEDLEYEND:60000\n"
        ": 0 1 0 a\n";
    for (const char* version : {"", "#VERSION:1.0.0\n", "#VERSION:1.1\n"}) {
        SCOPED_TRACE(version);
        const UltraStarFile file = Read(std::string(version) + std::string(kTimes));
        EXPECT_EQ(file.startSeconds, 12.5);
        EXPECT_EQ(file.endMs, 180000);
        EXPECT_EQ(file.videoGapSeconds, 1.5);
        EXPECT_EQ(file.previewStartSeconds, 42.5);
        EXPECT_EQ(file.medleyStartBeat, 100);
        EXPECT_EQ(file.medleyEndBeat, 200);
        EXPECT_FALSE(file.medleyStartMs || file.medleyEndMs);
    }
    for (const char* version : {"#VERSION:2.0.0\n", "#version:2.1\n", "#VERSION:10\n"}) {
        SCOPED_TRACE(version);
        const UltraStarFile file =
            Read(std::string(version) +
                 "#BPM:100\n#START:12500\n#END:180000\n#VIDEOGAP:1500\n#MEDLEYSTART:30000,5\n"
                 "#MEDLEYEND:60000\n#MEDLEYSTARTBEAT:100\n#MEDLEYENDBEAT:200\n#PREVIEWSTART:42.5\n"
                 ": 0 1 0 a\n");
        EXPECT_EQ(file.startSeconds, 12.5);
        EXPECT_EQ(file.endMs, 180000);
        EXPECT_EQ(file.videoGapSeconds, 1.5);
        EXPECT_EQ(file.medleyStartMs, 30000.5);
        EXPECT_EQ(file.medleyEndMs, 60000);
        EXPECT_EQ(file.previewStartSeconds, 42.5);  // seconds in every version
        EXPECT_FALSE(file.medleyStartBeat || file.medleyEndBeat);
    }
}

TEST(ReadUltraStarHeadersTest, ListsASongWithoutReadingItsNotes) {
    UltraStarFile file;
    UltraStarProblem problem;
    // The notes are not read, so a damaged note does not keep the song out of the list.
    const std::string text = std::string(kSong) + "\n: 0 1 999 bad\n";
    ASSERT_TRUE(
        ReadUltraStarHeaders("#VERSION:1.0.0\n#MEDLEYSTARTBEAT:8\n#MEDLEYENDBEAT:16\n"
                             "#year: 1999 \n#GENRE:Pop\n"
                             "#LANGUAGE:English\n" +
                                 text,
                             file, problem))
        << problem.strProblem;
    EXPECT_EQ(file.strCover, "morning.jpg");
    EXPECT_EQ(file.strYear, "1999");
    EXPECT_EQ(file.strGenre, "Pop");
    EXPECT_EQ(file.strLanguage, "English");
    EXPECT_EQ(file.strTitle, "Morning Song");
    EXPECT_EQ(file.strArtist, "The Testers");
    EXPECT_EQ(file.strAudio, "morning.mp3");
    EXPECT_EQ(file.medleyStartBeat, 8);
    EXPECT_EQ(file.medleyEndBeat, 16);
    EXPECT_TRUE(file.parts.empty());

    ASSERT_TRUE(
        ReadUltraStarHeaders(Utf16(u"#ARTIST:Группа\n#BPM:90\n: 0 1 0 a\n", true), file, problem));
    EXPECT_EQ(file.strArtist, "Группа");

    EXPECT_FALSE(ReadUltraStarHeaders("Read me first.\nThen the rest.\n", file, problem));
    EXPECT_EQ(problem.strProblem, "不是 UltraStar 歌曲文件");
    EXPECT_FALSE(ReadUltraStarHeaders("#TITLE:x\n#BPM:0\n: 0 1 0 a\n", file, problem));
    EXPECT_EQ(problem.nLine, 2);
}

// Every kind of damage is named with its line (0: the file as a whole).
struct BadFile {
    const char* name;
    std::string text;
    int nLine;
    const char* words;  // the problem says this
};

void PrintTo(const BadFile& bad, std::ostream* out) { *out << bad.name; }

class BadUltraStarFileTest : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadUltraStarFileTest, NamesTheLineAndTheProblem) {
    const BadFile& bad = GetParam();
    const UltraStarProblem problem = ProblemOf(bad.text);
    EXPECT_EQ(problem.nLine, bad.nLine) << problem.strProblem;
    EXPECT_NE(problem.strProblem.find(bad.words), std::string::npos) << problem.strProblem;
    if (bad.nLine > 0) {
        EXPECT_EQ(problem.strProblem.rfind("第 " + std::to_string(bad.nLine) + " 行：", 0), 0u)
            << problem.strProblem;
    }
}

const std::string kHead = "#TITLE:Bad\n#BPM:100\n";  // notes start on line 3

INSTANTIATE_TEST_SUITE_P(
    Damage, BadUltraStarFileTest,
    ::testing::Values(
        BadFile{"NotUltraStar", "Read me first.\n\nThis program sings.\n", 0,
                "不是 UltraStar 歌曲文件"},
        BadFile{"NoBpm", "#TITLE:x\n: 0 1 0 a\n", 0, "#BPM"},
        BadFile{"ZeroBpm", "#TITLE:x\n#BPM:0\n: 0 1 0 a\n", 2, "#BPM"},
        BadFile{"NegativeBpm", "#BPM:-120\n: 0 1 0 a\n", 1, "#BPM"},
        BadFile{"AbsurdBpm", "#BPM:1000000000\n: 0 1 0 a\n", 1, "超出范围"},
        BadFile{"NanBpm", "#BPM:nan\n: 0 1 0 a\n", 1, "不是数字"},
        BadFile{"EmptyBpm", "#BPM:\n: 0 1 0 a\n", 1, "#BPM"},
        BadFile{"FirstBpmCounts", "#BPM:fast\n#BPM:100\n: 0 1 0 a\n", 1, "不是数字"},
        BadFile{"PartWithoutNotes", kHead + "P1\n: 0 1 0 a\nP2\nE\n", 5, "P2 没有音符"},
        BadFile{"SecondPartOfNoteLeft", kHead + "P1\n: 0 1 0 a\nP2\n: 0 0 0 b\n", 5, "P2"},
        BadFile{"NoNotes", kHead + "E\n: 0 1 0 after the end\n", 0, "没有任何音符"},
        BadFile{"NoNoteLeft", kHead + "- 1\n: 0 0 0 a\nhello\n: -5 2 0 b\n", 0, "没有任何音符"}),
    [](const ::testing::TestParamInfo<BadFile>& param) { return std::string(param.param.name); });

// What a song is sung without, or sung mended, is said with its line.
struct OddFile {
    const char* name;
    std::string text;
    std::string remarks;  // every remark, one a line ("" for none)
    std::string layout;   // the first part's notes (see Layout)
};

void PrintTo(const OddFile& odd, std::ostream* out) { *out << odd.name; }

class OddUltraStarFileTest : public ::testing::TestWithParam<OddFile> {};

TEST_P(OddUltraStarFileTest, IsSungAndSaysWhatWasPassedOver) {
    const OddFile& odd = GetParam();
    const UltraStarFile file = Read(odd.text);
    EXPECT_EQ(RemarkText(file), odd.remarks);
    ASSERT_FALSE(file.parts.empty());
    EXPECT_EQ(Layout(file.parts[0]), odd.layout);
}

INSTANTIATE_TEST_SUITE_P(
    Mended, OddUltraStarFileTest,
    ::testing::Values(
        OddFile{"UnreadableGap", "#BPM:100\n#GAP:1.000,5\n: 0 1 0 a\n",
                "第 2 行：#GAP 的值“1.000,5”不是数字（已忽略）", "0+1"},
        OddFile{"StartOutOfRange", "#BPM:100\n#START:99999\n: 0 1 0 a\n",
                "第 2 行：#START 的值“99999”不在 0 到 21600 之内（已忽略）", "0+1"},
        OddFile{"MedleyBeyondTheSong", "#BPM:100\n#MEDLEYENDBEAT:99999999999\n: 0 1 0 a\n",
                "第 2 行：#MEDLEYENDBEAT 的第 99999999999 拍不在歌曲的 0 到 21600 秒之内（已忽略）",
                "0+1"},
        // The note cut away was the only one of its phrase: the phrase goes too.
        OddFile{"NoteStartingWithTheLastIsKept", kHead + ": 0 1 0 a\n- 1\n: 2 4 0 b\n: 2 2 0 c\n",
                "第 6 行：音符从第 2 拍开始，而上一个音符到第 6 拍才结束（上一个音符已去掉）",
                "0+1 / 2+2"},
        OddFile{"NegativeBeat", kHead + ": -5 2 0 a\n: 0 1 0 b\n",
                "第 3 行：音符（第 -5 到 -3 拍）不在歌曲的 0 到 21600 秒之内（已忽略）", "0+1"},
        OddFile{"BeatBeyond64Bits", kHead + ": 99999999999999999999 1 0 a\n: 0 1 0 b\n",
                "第 3 行：起始拍“99999999999999999999”超出范围（已忽略）", "0+1"},
        OddFile{"EndBeyond64Bits", kHead + ": 9223372036854775800 100 0 a\n: 0 1 0 b\n",
                "第 3 行：音符的拍数超出范围（已忽略）", "0+1"},
        OddFile{"AnyPitch", kHead + ": 0 1 61 a\n: 1 1 -99 b\n: 2 1 99999999999 c\n", "",
                "0+1 1+1 2+1"},
        OddFile{"BreakBeforeTheFirstNoteOfAPart",
                kHead + "P2\n- 1\n: 2 1 0 b\nP1\n- 0\n: 0 1 0 a\n", "", "0+1"},
        OddFile{"UnreadableNumbers", kHead + ": 0 3 5.5 a\n: 1 1 0 b\n- 3 4 5\n",
                "第 3 行：音高“5.5”不是整数（已忽略）\n第 5 行：换行后的内容“5”多余（已忽略）",
                "1+1"},
        // In relative mode a break without beats lets the next line count from the last note's
        // end.
        OddFile{"RelativeBreakWithoutBeats",
                "#BPM:100\n#RELATIVE:yes\n: 0 1 0 a\n: 2 2 0 b\n-\n: 1 1 0 c\n",
                "第 5 行：相对拍数的歌曲中，换行没有写出拍数（下一行从上一个音符的结尾算起）",
                "0+1 2+2 / 5+1"},
        OddFile{"UnusablePartMark",
                kHead + "P1\n: 0 1 0 a\nP0\n: 0 1 0 zero\nPause\nP1\n: 2 1 0 b\n",
                "第 5 行：演唱者标记“P0”无效（应为 P1、P2 …），其后的音符不会被演唱\n"
                "第 7 行：无法识别的内容“Pause”（已忽略）",
                "0+1 / 2+1"},
        OddFile{"HeadersAmongTheNotes",
                "#BPM:100\n#TITLE:First\n: 0 1 0 a\n#TITLE:Second\n#GAP:500\n#BPM:200\n: 1 1 0 b\n",
                "第 4 行：#TITLE 重复出现，以第 2 行为准（已忽略）\n"
                "第 5 行：#GAP 写在音符之间（已读取）\n"
                "第 6 行：#BPM 重复出现，以第 1 行为准（已忽略）",
                "0+1 1+1"},
        OddFile{"ByteMissingFromCp1252", kHead + ": 0 1 0 \xE9\n: 1 1 0 \x81\n",
                "没有 #ENCODING，文本也不是有效的 UTF-8（编码无法确定，按 CP1252 读取）\n"
                "第 4 行：含有 CP1252 编码中不存在的字节（已换成 �）",
                "0+1 1+1"},
        OddFile{"DetectedCodePage", kHead + ": 0 1 0 \xF0\xD2\xC9\xD7\xC5\xD4\n",
                "没有 #ENCODING，文本也不是有效的 UTF-8（按检测到的 KOI8-R 读取）", "0+1"},
        // CP1252 would put signs between letters: "Prze¿yj mi³oœæ".
        OddFile{"DetectedLatinCodePage", kHead + ": 0 1 0 Prze\xBFyj\n: 1 1 0 mi\xB3o\x9C\xE6\n",
                "没有 #ENCODING，文本也不是有效的 UTF-8（按检测到的 WINDOWS-1250 读取）",
                "0+1 1+1"},
        // On short West European text uchardet guesses oddly (here ISO-8859-10).
        OddFile{"UnsureDetection", "#TITLE:Se\xF1orita\n#BPM:100\n: 0 1 0 don\xB4t\n",
                "没有 #ENCODING，文本也不是有效的 UTF-8（编码无法确定，按 CP1252 读取）", "0+1"},
        OddFile{"EncodingNamingNoCodePage", "#ENCODING:Auto\n" + kHead + ": 0 1 0 \xF0\xD2\xC9\n",
                "第 1 行：#ENCODING 的值“Auto”不是代码页，文本也不是有效的 UTF-8（按检测到的 "
                "KOI8-R 读取）",
                "0+1"},
        OddFile{"Utf8WithALineOfAnotherCodePage",
                "#TITLE:Grüße\n#BPM:100\n: 0 1 0 你\n: 1 1 0 \xE9t\xE9\n",
                "没有 #ENCODING，文本也不是有效的 UTF-8（按检测到的 UTF-8 读取）\n"
                "第 4 行：含有 UTF-8 编码中不存在的字节（这一行按 CP1252 读取）",
                "0+1 1+1"},
        OddFile{"ByteMissingFromANamedCodePage",
                "#ENCODING:CP1250\n" + kHead + ": 0 1 0 \xB3\n: 1 1 0 \x83\xE9\n",
                "第 5 行：含有 CP1250 编码中不存在的字节（这一行按 CP1252 读取）", "0+1 1+1"},
        OddFile{"UnknownCodePage", "#ENCODING:NO-SUCH-PAGE\n" + kHead + ": 0 1 0 \xE9\n",
                "第 1 行：不支持的编码“NO-SUCH-PAGE”（按 CP1252 读取）", "0+1"},
        OddFile{"LoneUtf16Surrogate", Utf16(u"#BPM:100\n: 0 1 0 a\n: 1 1 0 \xD800z\n", false),
                "第 3 行：UTF-16 文本不完整或含有无效的字符（已换成 �）", "0+1 1+1"},
        OddFile{"OddUtf16Length", Utf16(u"#BPM:100\n: 0 1 0 a\n", true) + "\x01",
                "第 3 行：UTF-16 文本不完整或含有无效的字符（已换成 �）\n"
                "第 3 行：无法识别的内容“�”（已忽略）",
                "0+1"}),
    [](const ::testing::TestParamInfo<OddFile>& param) { return std::string(param.param.name); });

TEST(OddUltraStarFileTest, MendedTextAndLenientVersions) {
    EXPECT_EQ(Syllables(Read("#BPM:100\n: 0 1 0 a\xFF\n").parts[0])[0], "aÿ");
    EXPECT_EQ(Syllables(Read("\xEF\xBB\xBF#BPM:100\n: 0 1 0 a\xFF\xFE"
                             "b\n")
                            .parts[0])[0],
              "a\uFFFD\uFFFDb");
    EXPECT_EQ(
        Syllables(Read("#ENCODING:CP1250\n#BPM:100\n: 0 1 0 \xB3\n: 1 1 0 \x83\xE9\n").parts[0]),
        (std::vector<std::string>{"ł", "ƒé"}));
    EXPECT_EQ(Syllables(Read(Utf16(u"#BPM:100\n: 0 1 0 a\xDC00"
                                   u"b\n",
                                   false))
                            .parts[0])[0],
              "a\uFFFDb");
    // "v2", "V2.1" and "2" are 2.0.0 and later: #START in milliseconds.
    for (const char* version : {"v2", "V2.1", "2", "2.0.0"}) {
        SCOPED_TRACE(version);
        EXPECT_EQ(Read("#VERSION:" + std::string(version) + "\n#BPM:1\n#START:1500\n: 0 1 0 a\n")
                      .startSeconds,
                  1.5);
    }
    for (const char* version : {"v1.1", "1", "two", "2.0.0.0", "-2"}) {
        SCOPED_TRACE(version);
        EXPECT_EQ(Read("#VERSION:" + std::string(version) + "\n#BPM:1\n#START:15\n: 0 1 0 a\n")
                      .startSeconds,
                  15);
    }
}

TEST(OddUltraStarFileTest, RemarksAreCounted) {
    std::string text = "#BPM:100\n: 0 1 0 a\n";
    for (int i = 0; i < 250; ++i) text += "?\n";
    const UltraStarFile file = Read(text);
    ASSERT_EQ(file.remarks.size(), 101u);
    EXPECT_EQ(file.remarks[99].nLine, 102);
    EXPECT_EQ(file.remarks.back().strProblem, "另有 150 处未一一列出");
}

// The files of tests/data/ultrastar, one of each oddity met in songs people share, loaded as a
// session loads them: the remarks are what `quorvel-score check` prints.
struct SharedSong {
    const char* folder;
    std::string problem;               // what a song that cannot be sung says ("" when sung)
    std::vector<std::string> remarks;  // as the song's info has them
    std::string layout;                // the sung part's notes and syllables
    float fStart = 0.1f;               // the first line's start on the song's clock (#GAP:100)
    int32_t nFirstValue = 600;         // its first value (the melody placed at MIDI 48)
};

void PrintTo(const SharedSong& song, std::ostream* out) { *out << song.folder; }

class SharedSongTest : public ::testing::TestWithParam<SharedSong> {};

TEST_P(SharedSongTest, LoadsWithItsRemarks) {
    const SharedSong& expected = GetParam();
    const auto folder = std::filesystem::path(QUORVEL_TEST_DATA) / "ultrastar" / expected.folder;
    Problem problem;
    const auto song = LoadSong(folder.string(), {}, &problem);
    if (!expected.problem.empty()) {
        ASSERT_FALSE(song);
        EXPECT_EQ(problem.strProblem, expected.problem);
        return;
    }
    ASSERT_TRUE(song) << problem.strProblem;
    EXPECT_EQ(song->Info().remarks, expected.remarks);
    EXPECT_FLOAT_EQ(song->Start(0), expected.fStart);
    EXPECT_EQ(song->Records()[1], expected.nFirstValue);
    const UltraStarFile file = Read(Bytes(folder / (std::string(expected.folder) + ".txt")));
    EXPECT_EQ(Layout(file.parts[0], true), expected.layout);
}

// A song's preview: its music beside it, from its #PREVIEWSTART (seconds).
TEST(SongPreviewMusicTest, TheMusicAndThePreviewStart) {
    const auto shared = std::filesystem::path(QUORVEL_TEST_DATA) / "ultrastar" / "breaks";
    testing_support::TemporaryFolder folder;
    std::filesystem::copy_file(shared / "tone.ogg", folder.Path() / "tone.ogg");
    testing_support::WriteFile(folder.Path() / "song.txt",
                               "#MP3:tone.ogg\n#BPM:600\n#PREVIEWSTART:0,75\n: 0 4 0 la\nE\n");
    platform::PreviewMusic music;
    ASSERT_TRUE(SongPreviewMusic(folder.Path().string(), music));
    EXPECT_EQ(music.strAudio, (folder.Path() / "tone.ogg").string());
    EXPECT_EQ(music.nStartMs, 750);
    EXPECT_FALSE(SongPreviewMusic((folder.Path() / "none").string(), music));
}

const char* const kPlain = "0+4“la” 5+4“li” / 12+4“lo”";

INSTANTIATE_TEST_SUITE_P(
    Files, SharedSongTest,
    ::testing::Values(
        SharedSong{"breaks", "", {}, kPlain},
        SharedSong{"trailing-spaces", "", {}, "0+4“la” 5+4“li ” / 12+4“lo”"},
        SharedSong{"missing-end", "", {}, kPlain}, SharedSong{"text-after-end", "", {}, kPlain},
        SharedSong{"windows-line-ends", "", {}, kPlain},
        SharedSong{"byte-order-marks", "", {}, kPlain},
        // MIDI numbers: the melody is placed as if written from note 60 (MIDI 64 sounds as 52).
        SharedSong{"midi-pitches", "", {}, "0+4“la” 5+4“li” / 12+4“lo” 17+4“lu”", 0.1f, 640},
        // "V2": #START:50 is in milliseconds.
        SharedSong{"version-letter", "", {}, "0+4“la” 5+4“li”", 0.05f},
        SharedSong{"overlapping-notes",
                   "",
                   {"第 7 行：音符从第 4 拍开始，而上一个音符到第 8 拍才结束（上一个音符已缩短）",
                    "第 9 行：音符从第 8 拍开始，而上一个音符到第 14 拍才结束（上一个音符已去掉）",
                    "第 12 行：音符从第 10 拍开始，早于从第 14 拍开始的上一个音符（已忽略）"},
                   "0+4“la” 4+4“li” 8+4“lu” / 14+4“le”"},
        SharedSong{
            "short-notes",
            "",
            {"第 7 行：音符的长度为 0 拍（已忽略）", "第 8 行：音符的长度为 -2 拍（已忽略）"},
            "0+4“la” 8+4“lu”"},
        SharedSong{"version-unreadable",
                   "",
                   {"第 1 行：#VERSION 的值“two”不是版本号（已忽略）"},
                   "0+4“la” 5+4“li”"},
        SharedSong{
            "extra-parts",
            "",
            {"第 13 行：音符从第 2 拍开始，而上一个音符到第 8 拍才结束（上一个音符已缩短）",
             "第 14 行：无法识别的内容“something”（已忽略）", "第 15 行：P4 没有音符（已忽略）",
             "第 3 声部（P3）不会被演唱：只唱第 1、2 声部"},
            "0+4“la” 5+4“li”"},
        SharedSong{"duplicate-headers",
                   "",
                   {"第 6 行：#TITLE 重复出现，以第 1 行为准（已忽略）",
                    "第 7 行：#GAP 重复出现，以第 5 行为准（已忽略）"},
                   "0+4“la” 5+4“li”"},
        SharedSong{
            "late-headers",
            "",
            {"第 5 行：#ARTIST 写在音符之间（已读取）", "第 6 行：#GAP 写在音符之间（已读取）"},
            "0+4“la” 5+4“li”"},
        SharedSong{
            "unreadable-lines",
            "",
            {"第 7 行：无法识别的内容“refrain”（已忽略）", "第 8 行：长度“x”不是整数（已忽略）",
             "第 9 行：音符缺少音高，应为：类型 起始拍 长度 音高 音节（已忽略）",
             "第 10 行：换行的拍数“later”不是整数（已忽略）"},
            "0+4“la” / 12+4“lo”"},
        SharedSong{"notes-before-mark",
                   "",
                   {"第 6 行：二重唱文件的音符出现在第一个 P 标记之前（算作第 1 声部）"},
                   "0+4“la” / 5+4“li”"},
        SharedSong{"audio-name-case",
                   "",
                   {"所写的伴奏文件“Tone.OGG”不存在，使用“tone.ogg”"},
                   "0+4“la” 5+4“li”"},
        SharedSong{"damaged-text",
                   "",
                   {"第 7 行：含有无效的 UTF-8 字节（已换成 �）"},
                   "0+4“la” 5+4“l\uFFFDi”"},
        // 8-bit text without #ENCODING, in code pages other than CP1252.
        SharedSong{"undeclared-koi8-r",
                   "",
                   {"没有 #ENCODING，文本也不是有效的 UTF-8（按检测到的 KOI8-R 读取）"},
                   "0+2“Ти” 3+2“хо ” 6+2“све” 9+2“тят ” 12+2“ог” 15+2“ни ” 18+2“над ” 21+2“ре” "
                   "24+2“кой,” / 28+2“ве” 31+2“тер ” 34+2“пес” 37+2“ню ” 40+2“не” 43+2“сёт ” "
                   "46+2“за ” 49+2“со” 52+2“бой.”"},
        // Windows' Shift-JIS, in which "~" stays a held syllable.
        SharedSong{"undeclared-shift-jis",
                   "",
                   {"没有 #ENCODING，文本也不是有效的 UTF-8（按检测到的 CP932 读取）"},
                   "0+2“星” 3+2“が” 6+2“光” 9+2“る” 12+2“夜” 15+2“の” 18+2“空” 21+2“~” / "
                   "25+2“君” 28+2“と” 31+2“歌” 34+2“う” 37+2“風” 40+2“の” 43+2“中”"},
        SharedSong{"no-bpm", "缺少 #BPM（每分钟拍数），无法计算音符的时间", {}, ""},
        SharedSong{"zero-bpm", "第 3 行：#BPM 的值“0”必须大于 0", {}, ""},
        SharedSong{"empty-second-part", "第 8 行：P2 没有音符", {}, ""},
        SharedSong{"no-audio", "没有写明伴奏文件（#AUDIO 或 #MP3）", {}, ""}),
    [](const ::testing::TestParamInfo<SharedSong>& param) {
        std::string name = param.param.folder;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

}  // namespace
}  // namespace engine
