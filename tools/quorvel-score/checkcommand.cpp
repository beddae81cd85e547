#include "tools/quorvel-score/checkcommand.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <system_error>

#include "engine/song.h"
#include "engine/songfolder.h"
#include "engine/songloader.h"
#include "engine/songmusic.h"
#include "platform/audiodecoder.h"
#include "platform/codepage.h"
#include "platform/inputfile.h"
#include "platform/messages.h"
#include "platform/player.h"
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

using Report = std::function<void(const std::string& file, const std::string& problem)>;

// The accompaniment, looked at as the song list looks at it. A last line that ends after the music
// is sung without it (the session's clock runs on), which is worth a word.
void CheckMusic(const std::string& music, const platform::AudioSpan& span, int lastLineEndMs,
                const Report& report) {
    if (const std::string problem = FileProblem(music); !problem.empty()) {
        report(music, problem);
        return;
    }
    const platform::MusicProbe probe = platform::ProbeMusic(music, platform::kLengthBudget);
    if (const std::string problem = engine::MusicProblem(probe, span, lastLineEndMs);
        !problem.empty())
        report(music, problem);
}

// A native song folder: the reference data as a session loads it, the accompaniment
// "music.mp3" as the player opens it, and the lyric file "Lyric".
void CheckNativeSong(const std::filesystem::path& folder, const Report& report) {
    int lastLineEndMs = -1;  // -1 when the reference data did not load
    engine::Problem loadProblem;
    if (const auto loaded = engine::CSong::Load(folder.string(), &loadProblem); !loaded)
        report(loadProblem.strFile.empty() ? folder.string() : loadProblem.strFile,
               loadProblem.strProblem);
    else
        lastLineEndMs = engine::LastLineEndMs(*loaded);
    CheckMusic((folder / "music.mp3").string(), {}, lastLineEndMs, report);
    const std::filesystem::path lyric = folder / "Lyric";
    std::string text, converted;
    if (const std::string problem = FileProblem(lyric, &text); !problem.empty())
        report(lyric.string(), problem);
    else if (!platform::TextToCp936(text, converted))
        report(lyric.string(), "既不是 GBK（代码页 936）文本，也不是 UTF-8 文本");
}

// An UltraStar song: the text read and turned into reference data for each part a role sings
// (P1, and P2 of a duet), and the music it names. What the reader passed over or mended, and what
// is left unsung of a song of more parts, is said without counting as a problem.
void CheckUltraStarSong(const std::string& folder, bool medley, const Report& report,
                        std::ostream& out) {
    engine::SongLoadOptions options;
    options.bMedley = medley;
    engine::Problem problem;
    const auto first = engine::LoadSong(folder, options, &problem);
    if (!first) {
        report(problem.strFile.empty() ? folder : problem.strFile, problem.strProblem);
        return;
    }
    const engine::SongInfo& info = first->Info();
    for (const std::string& remark : info.remarks)
        out << Printable(info.strFile) << ": " << remark << '\n';
    CheckMusic(info.strAudio, engine::MusicSpan(info), engine::LastLineEndMs(*first), report);
    if (info.nParts < 2) return;
    options.nRole = 2;
    if (!engine::LoadSong(folder, options, &problem))
        report(problem.strFile.empty() ? folder : problem.strFile, problem.strProblem);
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
    const Report report = [&](const std::string& file, const std::string& problem) {
        out << Printable(file) << ": " << problem << '\n';
        ++problems;
    };

    for (const std::string& song : songs) {
        if (!IsSongName(song)) {
            report(engine::SongFolderPath(library, medley, song), kBadSongName);
            continue;
        }
        const std::filesystem::path folder = engine::LibrarySongFolder(library, medley, song);
        if (const std::string problem = FolderProblem(folder); !problem.empty()) {
            report(folder.string(), problem);
            continue;
        }
        if (engine::SongKindOf(folder.string()) == engine::SongKind::UltraStar)
            CheckUltraStarSong(folder.string(), medley, report, out);
        else
            CheckNativeSong(folder, report);
    }
    return OutputStatus(out, err, problems == 0 ? 0 : 1);
}

}  // namespace tools
