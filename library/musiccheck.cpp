#include "library/musiccheck.h"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <system_error>

#include "engine/songloader.h"
#include "engine/songmusic.h"
#include "platform/audiodecoder.h"

namespace library {
namespace {

constexpr std::chrono::milliseconds kCountBudget{100};

struct Stamp {
    int64_t nSize = -1;  // -1: no regular file there
    int64_t nModifiedNs = 0;
};

// A regular file's or a folder's size and modification time.
Stamp StampOf(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0 ||
        !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)))
        return {};
    return {info.st_size,
            static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

// Whether what was found still holds: the song's file and its music as they were (a file that
// was missing still missing).
bool Holds(const MusicRecord& record) {
    const Stamp song = StampOf(record.strSongFile);
    if (song.nSize != record.nSongSize ||
        (song.nSize >= 0 && song.nModifiedNs != record.nSongModifiedNs))
        return false;
    const Stamp music = StampOf(record.strMusic);
    return music.nSize == record.nMusicSize &&
           (music.nSize < 0 || music.nModifiedNs == record.nMusicModifiedNs);
}

// Reads the song at path and looks at its music. A song that cannot be read is kept by the file
// its problem names and by that file's folder (where a missing file would be added); false when
// there is no file to keep it by.
bool Look(const std::string& path, MusicRecord& record) {
    engine::Problem problem;
    const auto song = engine::LoadSong(path, {}, &problem);
    if (!song) {
        record.strSongFile = problem.strFile;
        const Stamp stamp = StampOf(record.strSongFile);
        record.nSongSize = stamp.nSize;
        record.nSongModifiedNs = stamp.nModifiedNs;
        record.strMusic = std::filesystem::path(problem.strFile).parent_path().string();
        const Stamp folder = StampOf(record.strMusic);
        record.nMusicSize = folder.nSize;
        record.nMusicModifiedNs = folder.nModifiedNs;
        record.strProblem =
            (problem.strFile.empty() ? path : problem.strFile) + ": " + problem.strProblem;
        return !problem.strFile.empty();
    }
    const engine::SongInfo& info = song->Info();
    // An UltraStar song's text; a native song's line ends are in its "endpoint".
    record.strSongFile =
        info.strFile.empty() ? (std::filesystem::path(path) / "endpoint").string() : info.strFile;
    const Stamp songStamp = StampOf(record.strSongFile);
    record.nSongSize = songStamp.nSize;
    record.nSongModifiedNs = songStamp.nModifiedNs;
    record.strMusic = info.strAudio;
    const Stamp musicStamp = StampOf(record.strMusic);
    record.nMusicSize = musicStamp.nSize;
    record.nMusicModifiedNs = musicStamp.nModifiedNs;
    // Lengths are counted only where that is quick (an MP3's frame headers, not a whole FLAC
    // without its length): a song list of thousands is looked at in a minute or two.
    const platform::MusicProbe probe = platform::ProbeMusic(record.strMusic, kCountBudget);
    record.nLengthMs = probe.nLengthMs;
    record.bExact = probe.bExact;
    const std::string verdict =
        engine::MusicProblem(probe, engine::MusicSpan(info), engine::LastLineEndMs(*song));
    record.strProblem = verdict.empty() ? std::string() : record.strMusic + ": " + verdict;
    return true;
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

}  // namespace

bool CMusicCheck::Check(std::vector<SongEntry>& entries, Pass pass, CSongCache::Music& music) {
    for (SongEntry& entry : entries) {
        if (m_cancelled && m_cancelled()) return false;
        if (!entry.strProblem.empty()) continue;  // the song's own problem says enough
        const std::string path = AbsolutePath(entry.strFolder);
        if (const auto kept = music.find(path); kept != music.end()) {
            entry.strProblem = kept->second.strProblem;
            entry.nLengthMs = kept->second.nLengthMs;
            continue;
        }
        const auto& previous = m_previous.MusicRecords();
        if (const auto known = previous.find(path);
            known != previous.end() && Holds(known->second)) {
            entry.strProblem = known->second.strProblem;
            entry.nLengthMs = known->second.nLengthMs;
            music.emplace(path, known->second);
            continue;
        }
        if (pass == Pass::Kept) continue;
        MusicRecord record;
        if (Look(path, record)) music.emplace(path, record);
        entry.strProblem = record.strProblem;
        entry.nLengthMs = record.nLengthMs;
    }
    return true;
}

}  // namespace library
