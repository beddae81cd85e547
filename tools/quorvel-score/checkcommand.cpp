#include "tools/quorvel-score/checkcommand.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "engine/singingengine.h"
#include "platform/codepage.h"
#include "platform/filebytes.h"
#include "platform/messages.h"
#include "platform/mp3player.h"

namespace tools {
namespace {

constexpr const char* kUsage = "usage: quorvel-score check [--library DIR] [--medley] SONG...\n";

// What is wrong with a file the song needs, or "" when it can be read.
std::string FileProblem(const std::filesystem::path& path, std::string* contents = nullptr) {
    std::string bytes, problem;
    if (!platform::ReadFileBytes(path.string(), bytes, problem)) return problem;
    if (bytes.empty()) return "是空文件";
    if (contents) *contents = std::move(bytes);
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
    std::vector<std::string> songs;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--library" && i + 1 < args.size()) {
            library = args[++i];
        } else if (args[i] == "--medley") {
            medley = true;
        } else if (args[i].starts_with("--") || args[i].empty()) {
            err << kUsage;
            return 2;
        } else {
            songs.push_back(args[i]);
        }
    }
    if (songs.empty()) {
        err << kUsage;
        return 2;
    }

    engine::CNullEngineView screen;
    engine::CSingingEngine engine(screen);
    engine.SetLibraryFolder(library);
    engine.m_bMedley = medley;
    int problems = 0;
    auto report = [&](const std::string& file, const std::string& problem) {
        out << file << ": " << problem << '\n';
        ++problems;
    };

    for (const std::string& song : songs) {
        const std::filesystem::path folder = engine.SongFolder(song);
        std::error_code error;
        if (song.find('/') != std::string::npos || song == "." || song == "..") {
            report(folder.string(), "歌曲名不能含有“/”，也不能是“.”或“..”");
            continue;
        }
        if (!std::filesystem::is_directory(folder, error)) {
            report(folder.string(), "歌曲文件夹不存在");
            continue;
        }
        float lastLineEnd = -1;  // seconds; -1 when the reference data did not load
        {
            platform::MessageCapture quiet;  // the loader's message boxes become report lines
            if (!engine.LoadReference(song))
                report(
                    engine.LoadProblemFile().empty() ? folder.string() : engine.LoadProblemFile(),
                    engine.LoadProblem());
            else if (engine.m_nPoints >= 2)
                lastLineEnd = engine.m_pEndTimes[engine.m_nPoints - 2];
            engine.FreeReference();
        }
        // The accompaniment is scanned as the player scans it. A last line that ends after the
        // music is sung without it (the session's clock runs on), which is worth a word.
        const std::filesystem::path music = folder / "music.mp3";
        std::string musicProblem;
        if (const std::string problem = FileProblem(music); !problem.empty()) {
            report(music.string(), problem);
        } else if (const int length = platform::Mp3LengthMs(music.string(), musicProblem);
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
    return problems == 0 ? 0 : 1;
}

}  // namespace tools
