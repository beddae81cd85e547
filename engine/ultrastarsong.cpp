#include "engine/ultrastarsong.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <new>
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
    if (file.strAudio.empty()) return Fail(out, path, "没有写明伴奏文件（#AUDIO 或 #MP3）");
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    const std::string audio = (folder / file.strAudio).string();
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
    info.bOwnLyrics = true;
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
