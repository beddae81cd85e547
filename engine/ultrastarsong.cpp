#include "engine/ultrastarsong.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/ultrastarfile.h"
#include "engine/ultrastarreference.h"
#include "platform/filebytes.h"
#include "platform/inputfile.h"

namespace engine {
namespace {

constexpr double kMaxSongSeconds = 6 * 60 * 60;  // no song lasts longer; the clock is an int of ms

std::nullptr_t Fail(Problem& out, const std::string& file, const std::string& problem) {
    out = Problem{};
    out.strFile = file;
    out.strProblem = problem;
    out.strMessage =
        "歌曲文件“" + file + "”" + (problem.starts_with("第") ? "：" : "") + problem + "。";
    out.icon = platform::MessageIcon::Exclamation;
    return nullptr;
}

// A place in the audio in whole milliseconds, bounded to what a song can be.
int Milliseconds(double seconds) {
    return static_cast<int>(std::lround(std::clamp(seconds, 0.0, kMaxSongSeconds) * 1000.0));
}

// The part a role sings: P1 for role 1, P2 for role 2 in a duet, else the only melody.
const UltraStarPart* PartOf(const UltraStarFile& file, int role, std::size_t& index) {
    if (file.parts.empty()) return nullptr;
    index = 0;
    if (file.bDuet)
        for (std::size_t i = 0; i < file.parts.size(); ++i)
            if (file.parts[i].nNumber == (role == 2 ? 2 : 1)) {
                index = i;
                return &file.parts[i];
            }
    return &file.parts[0];
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool IsAudioName(const std::filesystem::path& name) {
    const std::string extension = Lower(name.extension().string());
    for (const char* audio : {".mp3", ".ogg", ".oga", ".opus", ".flac", ".m4a", ".aac", ".wav"})
        if (extension == audio) return true;
    return false;
}

// The accompaniment of the text at textPath: the file it names when that exists, else a file
// beside it that plainly is the one meant: the named one written in other capitals, or an audio
// file of the text's own name, or the only audio file there. Which was taken instead is said on
// remark. "" when none is.
std::filesystem::path FindAudio(const std::filesystem::path& textPath, const std::string& named,
                                std::string& remark) {
    const std::filesystem::path folder = textPath.parent_path();
    std::error_code error;
    std::filesystem::path written = folder / named;
    if (!named.empty() && std::filesystem::symlink_status(written, error).type() !=
                              std::filesystem::file_type::not_found)
        return written;
    const auto choose = [&](const std::filesystem::path& found) {
        remark = (named.empty() ? std::string("没有写明伴奏文件（#AUDIO 或 #MP3）")
                                : "所写的伴奏文件“" + named + "”不存在") +
                 "，使用“" + found.filename().string() + "”";
        return found;
    };
    const auto filesIn = [](const std::filesystem::path& where) {
        std::vector<std::filesystem::path> files;
        std::error_code listError;
        std::filesystem::directory_iterator it(where, listError), end;
        for (; !listError && it != end && files.size() < 1000; it.increment(listError))
            if (!it->is_directory(listError)) files.push_back(it->path());
        std::sort(files.begin(), files.end());
        return files;
    };
    if (!named.empty()) {
        const std::string wanted = Lower(written.filename().string());
        for (const auto& file : filesIn(written.parent_path()))
            if (Lower(file.filename().string()) == wanted) return choose(file);
    }
    std::vector<std::filesystem::path> audio;
    for (const auto& file : filesIn(folder))
        if (IsAudioName(file.filename())) audio.push_back(file);
    const std::string stem = Lower(textPath.stem().string());
    for (const auto& file : audio)
        if (Lower(file.stem().string()) == stem) return choose(file);
    if (audio.size() == 1) return choose(audio.front());
    return named.empty() ? std::filesystem::path() : written;
}

}  // namespace

bool IsUltraStarText(const std::string& path) {
    std::string bytes, problem;
    if (!platform::ReadFileBytes(path, bytes, problem)) return false;
    UltraStarFile file;
    UltraStarProblem headerProblem;
    return ReadUltraStarHeaders(bytes, file, headerProblem);
}

std::shared_ptr<const CSong> LoadUltraStarSong(const std::string& path,
                                               const SongLoadOptions& options,
                                               Problem* problemOut) {
    Problem ignored;
    Problem& out = problemOut ? *problemOut : ignored;
    out = Problem{};

    std::string bytes, readProblem;
    if (!platform::ReadFileBytes(path, bytes, readProblem)) return Fail(out, path, readProblem);
    UltraStarFile file;
    UltraStarProblem problem;
    if (!ReadUltraStarFile(bytes, file, problem)) return Fail(out, path, problem.strProblem);

    std::size_t partIndex = 0;
    const UltraStarPart* part = PartOf(file, options.nRole, partIndex);
    if (!part) return Fail(out, path, "没有可以演唱的音符");

    // The accompaniment, beside the text.
    std::string audioRemark;
    const std::string audio = FindAudio(path, file.strAudio, audioRemark).string();
    if (audio.empty()) return Fail(out, path, "没有写明伴奏文件（#AUDIO 或 #MP3）");
    {
        platform::CInputFile input;
        if (!input.Open(audio))
            return Fail(out, path,
                        "所写的伴奏文件“" + audio + "”" +
                            input.ProblemText(platform::TextLanguage::Chinese));
    }

    // Where the song's clock starts and its music ends, in seconds of the audio file.
    double from = file.startSeconds.value_or(0.0);
    double to = file.endMs ? *file.endMs / 1000.0 : kMaxSongSeconds;
    int fadeMs = 0;
    if (options.bMedley) {
        double start = 0, end = 0;
        if (file.medleyStartBeat && file.medleyEndBeat) {
            start = file.BeatSeconds(static_cast<double>(*file.medleyStartBeat));
            end = file.BeatSeconds(static_cast<double>(*file.medleyEndBeat));
        } else if (file.medleyStartMs && file.medleyEndMs) {
            start = *file.medleyStartMs / 1000.0;
            end = *file.medleyEndMs / 1000.0;
        } else {
            return Fail(out, path, "没有标出串烧段落（#MEDLEYSTARTBEAT 和 #MEDLEYENDBEAT）");
        }
        if (!(end > start)) return Fail(out, path, "串烧段落的结束不在开始之后");
        from = start;
        to = end;
        fadeMs = kMedleyFadeMs;
    }

    // The lines the clock reaches: those that start within the music's span (a phrase before
    // #START is never heard; one after #END never plays), in a medley those within its bounds.
    std::vector<UltraStarLine> lines;
    try {
        lines = UltraStarReference(file, partIndex);
    } catch (const std::bad_alloc&) {
        return Fail(out, path, "太大，无法载入");
    }
    constexpr double kSlack = 1e-9;
    std::vector<float> starts, ends;
    std::vector<std::vector<int32_t>> records;
    SongInfo info;
    for (UltraStarLine& line : lines) {
        const bool within = options.bMedley
                                ? line.dStart >= from - kSlack && line.dEnd <= to + kSlack
                                : line.dStart >= from - kSlack && line.dStart < to;
        if (!within) continue;
        starts.push_back(static_cast<float>(line.dStart - from));
        ends.push_back(static_cast<float>(line.dEnd - from));
        records.push_back(std::move(line.values));
        std::vector<SongLyric> units;
        for (UltraStarLyric& lyric : line.lyrics) {
            // "~" only holds the syllable before it on: nothing new to show.
            if (lyric.strText.find_first_not_of(" ~") == std::string::npos) continue;
            units.push_back(SongLyric{lyric.nIndex, std::move(lyric.strText)});
        }
        info.lyrics.push_back(std::move(units));
    }
    if (records.empty())
        return Fail(out, path,
                    options.bMedley ? "串烧段落里没有乐句" : "在伴奏的播放范围里没有乐句");
    // The point after the last line belongs to no line.
    starts.push_back(ends.back());
    ends.push_back(ends.back());

    info.strFile = path;
    info.nParts = file.bDuet ? static_cast<int>(file.parts.size()) : 1;
    info.strTitle = file.strTitle;
    info.strArtist = file.strArtist;
    info.strAudio = audio;
    info.nAudioStartMs = Milliseconds(from);
    info.nAudioEndMs = to < kMaxSongSeconds ? Milliseconds(to) : -1;
    info.nFadeMs = fadeMs;
    if (file.previewStartSeconds) info.nPreviewStartMs = Milliseconds(*file.previewStartSeconds);
    info.bOwnLyrics = true;
    for (UltraStarProblem& remark : file.remarks)
        info.remarks.push_back(std::move(remark.strProblem));
    if (!audioRemark.empty()) info.remarks.push_back(audioRemark);
    for (const UltraStarPart& other : file.parts)
        if (other.nNumber > 2)
            info.remarks.push_back("第 " + std::to_string(other.nNumber) + " 声部（P" +
                                   std::to_string(other.nNumber) +
                                   "）不会被演唱：只唱第 1、2 声部");
    if (file.bDuet && options.nRole == 2 && part->nNumber != 2)
        info.remarks.push_back("没有第 2 声部（P2）：角色 2 也唱第 1 声部");
    try {
        return std::make_shared<const CSong>(std::move(starts), std::move(ends), records,
                                             std::move(info));
    } catch (const std::bad_alloc&) {
        return Fail(out, path, "太大，无法载入");
    }
}

}  // namespace engine
