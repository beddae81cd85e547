// Hostile and clumsy input to the headless commands: each ends quickly with a line naming the
// file and the problem, never hangs, crashes or fills memory. One test per kind of defence.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/performance.h"
#include "tests/support/specialfiles.h"
#include "tools/quorvel-score/checkcommand.h"
#include "tools/quorvel-score/pitchcommand.h"
#include "tools/quorvel-score/singcommand.h"

namespace tools {
namespace {

namespace fs = std::filesystem;
using namespace testing_support;

const fs::path kMp3Folder = fs::path(QUORVEL_TEST_DATA) / "mp3";
constexpr const char* kNotWritten = "quorvel-score: the output could not be written\n";

std::string LE(uint32_t n, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += char(n >> (8 * i));
    return s;
}

// The header of a WAVE file of mono at 8000 frames/s, plain or WAVE_FORMAT_EXTENSIBLE (as
// recorders write it), for dataBytes of samples of the given bits.
std::string WaveHeader(bool extensible, uint32_t dataBytes, int bits = 16) {
    const int align = bits / 8;
    std::string fmt = LE(extensible ? 0xFFFE : 1, 2) + LE(1, 2) + LE(8000, 4) +
                      LE(8000 * align, 4) + LE(align, 2) + LE(bits, 2);
    if (extensible)
        fmt += LE(22, 2) + LE(bits, 2) + LE(4, 4) + LE(1, 2) +
               std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    return "RIFF" + LE(uint32_t(4 + 8 + fmt.size() + 8 + dataBytes), 4) + "WAVE" + "fmt " +
           LE(uint32_t(fmt.size()), 4) + fmt + "data" + LE(dataBytes, 4);
}

std::string WaveBytes(bool extensible, const std::string& data, int bits = 16) {
    return WaveHeader(extensible, uint32_t(data.size()), bits) + data;
}

std::string Bytes(const std::vector<int16_t>& samples) {
    std::string data;
    for (int16_t s : samples) data += LE(uint16_t(s), 2);
    return data;
}

class HostileInput : public testing::Test {
protected:
    void SetUp() override {
        melody = MakeMelody(2, 3, /*seed=*/5, /*firstStart=*/1.0);  // ends before quiet.mp3
        base = library.Path() / "歌曲" / "单曲";
        wav = (library.Path() / "sung.wav").string();
        WriteFile(wav, WaveBytes(false, Bytes(testing_support::Sing(
                                            melody, melody.back().End() + 1.0, Singer{}))));
    }

    // A song with everything a session and the check need.
    fs::path WriteSoundSong(const std::string& song) {
        const fs::path folder = WriteSong(library.Path(), song, SongFilesOf(melody));
        fs::copy_file(kMp3Folder / "quiet.mp3", folder / "music.mp3");
        WriteFile(folder / "Lyric", "\xB8\xE8 \xC7\xFA");
        return folder;
    }

    int RunCheck(std::vector<std::string> args, std::ostream* to = nullptr) {
        args.insert(args.begin(), {"--library", library.Path().string()});
        out.str("");
        err.str("");
        return RunCheckCommand(args, to ? *to : out, err);
    }
    int RunSing(std::vector<std::string> args, std::ostream* to = nullptr) {
        args.insert(args.begin(), {"--library", library.Path().string()});
        out.str("");
        err.str("");
        return RunSingCommand(args, to ? *to : out, err);
    }
    int RunPitch(std::vector<std::string> args, std::ostream* to = nullptr) {
        out.str("");
        err.str("");
        return RunPitchCommand(args, to ? *to : out, err);
    }

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    TemporaryFolder library;
    fs::path base;  // the single songs' folder
    std::string wav;
    std::vector<Line> melody;
    std::ostringstream out, err;
};

TEST_F(HostileInput, SpecialFilesInPlaceOfASongsFilesAreNamedNotRead) {
    struct Kind {
        std::string name, problem;
    };
    const std::vector<Kind> kinds = {{"fifo", "不是普通文件，是命名管道（FIFO）"},
                                     {"zero", "不是普通文件，是设备"},
                                     {"random", "不是普通文件，是设备"}};
    const std::vector<std::string> files = {"断点", "qidian", "endpoint",
                                            "1",    "Lyric",  "music.mp3"};
    std::vector<std::string> songs, expected;
    std::vector<fs::path> fifos;
    for (const std::string& file : files) {
        for (const Kind& kind : kinds) {
            const std::string song = file + "-" + kind.name;
            const fs::path path = WriteSoundSong(song) / file;
            if (kind.name == "fifo") {
                ASSERT_TRUE(MakeFifo(path));
                fifos.push_back(path);
            } else {
                ASSERT_TRUE(LinkTo(path, kind.name == "zero" ? "/dev/zero" : "/dev/urandom"));
            }
            songs.push_back(song);
            expected.push_back(path.string() + ": " + kind.problem +
                               (file == "1" ? "（模板数据为空，请重新录制！）" : ""));
        }
    }
    int status = -1;
    ASSERT_TRUE(FinishesWithin([&] { status = RunCheck(songs); }, fifos));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(Lines(), expected);

    // A session stops at the first such file, and a recording that is one is named.
    ASSERT_TRUE(FinishesWithin([&] { status = RunSing({"--wav", wav, "qidian-fifo"}); }, fifos));
    EXPECT_EQ(status, 2);
    EXPECT_EQ(err.str(), "quorvel-score: " + (base / "qidian-fifo/qidian").string() + ": " +
                             kinds[0].problem + "\n");
    for (const auto& entry :
         {std::pair{base / "断点-fifo/断点", "is not a regular file (a FIFO)"},
          std::pair{base / "断点-zero/断点", "is not a regular file (a device)"}}) {
        const auto recording = entry.first;  // lambdas may not capture structured bindings
        const std::string problem = entry.second;
        ASSERT_TRUE(FinishesWithin(
            [&] {
                status = RunSing({"--wav", recording.string(), "断点-fifo"});
            },
            fifos));
        EXPECT_EQ(status, 2);
        EXPECT_EQ(err.str(), "quorvel-score: " + recording.string() + ": " + problem + "\n");
        ASSERT_TRUE(FinishesWithin([&] { status = RunPitch({recording.string()}); }, fifos));
        EXPECT_EQ(status, 2);
        EXPECT_EQ(err.str(), "quorvel-score: " + recording.string() + ": " + problem + "\n");
    }
}

TEST_F(HostileInput, TimesBeyondSixHoursAreProblemsNotSongs) {
    const auto huge = WriteSoundSong("huge");
    WriteFile(huge / "qidian", "0.5 1e30 3");
    const auto far = WriteSoundSong("far");
    WriteFile(far / "endpoint", "1 2 3e38");
    const auto before = WriteSoundSong("before");
    WriteFile(before / "qidian", "-21600.5 1 2");
    int status = -1;
    ASSERT_TRUE(FinishesWithin([&] { status = RunCheck({"huge", "far", "before"}); }, {}));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(
        Lines(),
        (std::vector<std::string>{
            (huge / "qidian").string() + ": 第 2 个时间 1e+30 秒超出范围（-21600 到 21600 秒）",
            (far / "endpoint").string() + ": 第 3 个时间 3e+38 秒超出范围（-21600 到 21600 秒）",
            (before / "qidian").string() +
                ": 第 1 个时间 -21600.5 秒超出范围（-21600 到 21600 秒）",
        }));
    ASSERT_TRUE(FinishesWithin([&] { status = RunSing({"--wav", wav, "far"}); }, {}));
    EXPECT_EQ(status, 2);
    EXPECT_EQ(err.str(), "quorvel-score: " + (far / "endpoint").string() +
                             ": 第 3 个时间 3e+38 秒超出范围（-21600 到 21600 秒）\n");
}

TEST_F(HostileInput, ExtensiblePcmRecordingsAreAcceptedAndDeepOnesNamed) {
    WriteSoundSong("song");
    const std::string data =
        Bytes(testing_support::Sing(melody, melody.back().End() + 1.0, Singer{}));
    const std::string extensible = (library.Path() / "extensible.wav").string();
    WriteFile(extensible, WaveBytes(true, data));

    ASSERT_EQ(RunSing({"--json", "--wav", wav, "song"}), 0) << err.str();
    const std::string plainScore = out.str();
    ASSERT_EQ(RunSing({"--json", "--wav", extensible, "song"}), 0) << err.str();
    EXPECT_EQ(out.str(), plainScore);
    ASSERT_EQ(RunPitch({wav}), 0) << err.str();
    const std::string plainPitch = out.str();
    ASSERT_EQ(RunPitch({extensible}), 0) << err.str();
    EXPECT_EQ(out.str(), plainPitch);
    EXPECT_FALSE(plainPitch.empty());

    const std::string deep = (library.Path() / "deep.wav").string();
    WriteFile(deep, WaveBytes(true, std::string(3 * 960 * 3, '\0'), 24));
    EXPECT_EQ(RunPitch({deep}), 2);
    EXPECT_EQ(err.str(), "quorvel-score: " + deep + ": 24-bit samples, need 16-bit\n");
    EXPECT_EQ(RunSing({"--wav", deep, "song"}), 2);
    EXPECT_EQ(err.str(), "quorvel-score: " + deep + ": 24-bit samples, need 16-bit\n");
}

TEST_F(HostileInput, SongNamesStayInsideTheLibraryAndAnyNameCanBeGiven) {
    // A song outside the library, reachable by climbing out of the song folder.
    WriteSong(library.Path() / "elsewhere", "song", SongFilesOf(melody));
    EXPECT_EQ(RunSing({"--wav", wav, "../../elsewhere/歌曲/单曲/song"}), 2);
    EXPECT_NE(err.str().find("歌曲名不能含有“/”，也不能是“.”或“..”"), std::string::npos)
        << err.str();
    EXPECT_EQ(out.str(), "");
    for (const char* bad : {"..", "."}) {
        EXPECT_EQ(RunSing({"--wav", wav, bad}), 2) << bad;
        EXPECT_NE(err.str().find("歌曲名不能含有"), std::string::npos) << err.str();
    }

    // A song whose name starts with "-" is a song after "--".
    WriteSoundSong("-lead");
    EXPECT_EQ(RunSing({"--wav", wav, "-lead"}), 2);  // without "--" it is an unknown option
    EXPECT_NE(err.str().find("usage: quorvel-score sing"), std::string::npos);
    ASSERT_EQ(RunSing({"--wav", wav, "--", "-lead"}), 0) << err.str();
    EXPECT_EQ(out.str().find("-lead\t1\t"), out.str().find('\n') + 1) << out.str();
    EXPECT_EQ(RunCheck({"--", "-lead"}), 0) << out.str();
    EXPECT_EQ(RunCheck({"--", "--medley"}), 1);  // a song so named, not the option
    EXPECT_EQ(Lines(),
              std::vector<std::string>{(base / "--medley").string() + ": 歌曲文件夹不存在"});
    ASSERT_EQ(RunPitch({"--", wav}), 0) << err.str();

    // A name with a line break or a tab keeps the text output's rows and columns whole.
    const auto broken = WriteSoundSong("two\nlines\tand");
    ASSERT_EQ(RunSing({"--wav", wav, "two\nlines\tand"}), 0) << err.str();
    std::istringstream rows(out.str());
    std::string row;
    std::getline(rows, row);  // the header
    int lines = 0;
    while (std::getline(rows, row) && row.rfind("final score ", 0) != 0) {
        EXPECT_EQ(row.rfind("two\\nlines\\tand\t", 0), 0u) << row;
        EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), 8) << row;
        ++lines;
    }
    EXPECT_EQ(lines, 2);
    fs::remove(broken / "Lyric");
    EXPECT_EQ(RunCheck({"two\nlines\tand"}), 1);
    EXPECT_EQ(Lines(),
              std::vector<std::string>{base.string() + "/two\\nlines\\tand/Lyric: 不存在"});
}

TEST_F(HostileInput, OutputThatCannotBeWrittenIsSaidAndFails) {
    WriteSoundSong("song");
    std::ofstream full("/dev/full");
    ASSERT_TRUE(full.is_open());
    EXPECT_EQ(RunSing({"--wav", wav, "song"}, &full), 2);
    EXPECT_EQ(err.str(), kNotWritten);
    full.clear();
    EXPECT_EQ(RunCheck({"song", "nosong"}, &full), 2);  // one problem line that is lost
    EXPECT_EQ(err.str(), kNotWritten);
    full.clear();
    EXPECT_EQ(RunPitch({wav}, &full), 2);
    EXPECT_EQ(err.str(), kNotWritten);
}

TEST_F(HostileInput, ANameTooLongIsCalledSo) {
    WriteSoundSong("song");
    const std::string deep = library.Path().string() + "/" + std::string(300, 'x');
    EXPECT_EQ(RunCheck({"--library", deep, "song"}), 1);
    EXPECT_EQ(Lines(), std::vector<std::string>{deep + "/歌曲/单曲/song: 名称太长"});
    EXPECT_EQ(RunSing({"--library", deep, "--wav", wav, "song"}), 2);
    EXPECT_EQ(err.str(), "quorvel-score: " + deep + "/歌曲/单曲/song/断点: 名称太长\n");
    const std::string longWav = library.Path().string() + "/" + std::string(300, 'w') + ".wav";
    EXPECT_EQ(RunPitch({longWav}), 2);
    EXPECT_EQ(err.str(), "quorvel-score: " + longWav + ": name too long\n");
}

TEST_F(HostileInput, BigFilesAreStreamedInBoundedMemory) {
    // An accompaniment behind an ID3 tag that claims 200 MB (sparse: zeros that take no disk).
    const auto folder = WriteSoundSong("tagged");
    const uint32_t tag = 200u << 20;
    const fs::path music = folder / "music.mp3";
    WriteFile(music, std::string("ID3\x04\x00\x00", 6) + char(tag >> 21 & 0x7F) +
                         char(tag >> 14 & 0x7F) + char(tag >> 7 & 0x7F) + char(tag & 0x7F));
    ASSERT_TRUE(MakeSparse(music, 10 + int64_t(tag)));
    {
        std::ifstream tone(kMp3Folder / "tone-440.mp3", std::ios::binary);
        std::ofstream(music, std::ios::binary | std::ios::app) << tone.rdbuf();
    }
    const double lastEnd = melody.back().End();
    int status = -1;
    const long checkGrowth = PeakGrowthKiB([&] { return RunCheck({"tagged"}); }, &status);
    EXPECT_EQ(status, 1);
    EXPECT_LT(checkGrowth, 48 * 1024) << "KiB above the parent";
    ASSERT_EQ(RunCheck({"tagged"}), 1);  // tone-440.mp3 lasts exactly 2 s, found behind the tag
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_EQ(Lines()[0].rfind(music.string() + ": 伴奏长 2 秒，最后一句在 ", 0), 0u)
        << Lines()[0] << " (last line ends at " << lastEnd << " s)";

    // Half an hour of silence, 29 MB of mono samples (58 MB as stereo frames): the pitch contour
    // and the session both stream it.
    const std::string longWav = (library.Path() / "long.wav").string();
    const uint32_t frames = 8000u * 1800u;
    WriteFile(longWav, WaveHeader(false, frames * 2));
    ASSERT_TRUE(MakeSparse(longWav, 44 + int64_t(frames) * 2));
    const long pitchGrowth = PeakGrowthKiB(
        [&] {
            std::ofstream sink("/dev/null");
            return RunPitch({"--raw", longWav}, &sink);
        },
        &status);
    EXPECT_EQ(status, 0);
    EXPECT_LT(pitchGrowth, 16 * 1024) << "KiB above the parent";
    WriteSoundSong("song");
    const long singGrowth = PeakGrowthKiB(
        [&] {
            return RunSing({"--wav", longWav, "song"});
        },
        &status);
    EXPECT_EQ(status, 0);
    EXPECT_LT(singGrowth, 16 * 1024) << "KiB above the parent";
}

}  // namespace
}  // namespace tools
