#include "tools/quorvel-score/checkcommand.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "engine/song.h"
#include "engine/songfolder.h"
#include "platform/audiodecoder.h"
#include "platform/codepage.h"
#include "platform/inputfile.h"
#include "platform/messages.h"
#include "tools/quorvel-score/printable.h"
#include "tools/quorvel-score/songname.h"

namespace tools {
namespace {

constexpr const char* kUsage =
    "usage: quorvel-score check [--library DIR] [--medley] [--] SONG...\n";

// What is wrong with a file the song needs, or "" when it can be read: opened as the loaders open
// it (never blocking, a regular file only); with contents, read whole up to the song file limit.
std::string FileProblem(const std::filesystem::path& path, std::string* contents = nullptr) {
    platform::CInputFile file;
    if (!file.Open(path.string())) return file.ProblemText();
    if (contents) {
        if (!file.ReadAll(*contents, platform::kSongFileLimit)) return file.ProblemText();
        if (contents->empty()) return "是空文件";
    } else if (file.Size() == 0) {
        return "是空文件";
    }
    return {};
}

// What is wrong with a song folder, or "" when it is one.
std::string FolderProblem(const std::filesystem::path& folder) {
    std::error_code error;
    const auto status = std::filesystem::status(folder, error);
    if (error == std::errc::filename_too_long) return "名称太长";
    if (!std::filesystem::is_directory(status)) return "歌曲文件夹不存在";
    return {};
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

}  // namespace

int RunCheckCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string library;
    bool medley = false;
    bool optionsEnded = false;  // after "--" every word is a song, even one starting with "-"
    std::vector<std::string> songs;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool option = !optionsEnded && (args[i].starts_with("--") || args[i].empty());
        if (!option) {
            songs.push_back(args[i]);
        } else if (args[i] == "--") {
            optionsEnded = true;
        } else if (args[i] == "--library" && i + 1 < args.size()) {
            library = args[++i];
        } else if (args[i] == "--medley") {
            medley = true;
        } else {
            err << kUsage;
            return 2;
        }
    }
    if (songs.empty()) {
        err << kUsage;
        return 2;
    }

    int problems = 0;
    auto report = [&](const std::string& file, const std::string& problem) {
        out << Printable(file) << ": " << problem << '\n';
        ++problems;
    };

    for (const std::string& song : songs) {
        const std::filesystem::path folder = engine::SongFolderPath(library, medley, song);
        if (!IsSongName(song)) {
            report(folder.string(), kBadSongName);
            continue;
        }
        if (const std::string problem = FolderProblem(folder); !problem.empty()) {
            report(folder.string(), problem);
            continue;
        }
        float lastLineEnd = -1;  // seconds; -1 when the reference data did not load
        engine::Problem loadProblem;
        if (const auto loaded = engine::CSong::Load(folder.string(), &loadProblem); !loaded)
            report(loadProblem.strFile.empty() ? folder.string() : loadProblem.strFile,
                   loadProblem.strProblem);
        else
            lastLineEnd = loaded->End(loaded->Points() - 2);
        // The accompaniment is scanned as the player scans it. A last line that ends after the
        // music is sung without it (the session's clock runs on), which is worth a word.
        const std::filesystem::path music = folder / "music.mp3";
        std::string musicProblem;
        if (const std::string problem = FileProblem(music); !problem.empty()) {
            report(music.string(), problem);
        } else if (const int length = platform::AudioLengthMs(music.string(), musicProblem);
                   length < 0) {
            report(music.string(), musicProblem);
        } else if (lastLineEnd >= 0 && std::lround(double(lastLineEnd) * 1000) > length) {
            report(music.string(), "伴奏长 " + Seconds(length / 1000.0) + " 秒，最后一句在 " +
                                       Seconds(lastLineEnd) + " 秒才结束");
        }
        const std::filesystem::path lyric = folder / "Lyric";
        std::string text, converted;
        if (const std::string problem = FileProblem(lyric, &text); !problem.empty())
            report(lyric.string(), problem);
        else if (!platform::TextToCp936(text, converted))
            report(lyric.string(), "既不是 GBK（代码页 936）文本，也不是 UTF-8 文本");
    }
    out.flush();
    if (!out) {
        err << "quorvel-score: the output could not be written\n";
        return 2;
    }
    return problems == 0 ? 0 : 1;
}

}  // namespace tools
