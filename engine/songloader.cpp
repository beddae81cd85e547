#include "engine/songloader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "engine/songfolder.h"
#include "engine/ultrastarsong.h"

namespace engine {
namespace {

bool EndsWithTxt(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".txt";
}

bool IsTextFile(const std::string& path) {
    struct stat info {};
    return EndsWithTxt(path) && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::vector<std::string> UltraStarFilesIn(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error), end;
    for (; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (EndsWithTxt(name) && !it->is_directory(error)) files.push_back(it->path().string());
        if (files.size() > 1000) break;  // a folder of a thousand texts is not a song
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string LibrarySongFolder(const std::string& library, bool medley, const std::string& name) {
    std::string folder = SongFolderPath(library, medley, name);
    if (!medley || Exists(folder)) return folder;
    const std::string single = SongFolderPath(library, false, name);
    return Exists(single) && SongKindOf(single) == SongKind::UltraStar ? single : folder;
}

std::vector<SongRef> LibrarySongs(const std::string& library, bool medley,
                                  const std::vector<std::string>& names) {
    std::vector<SongRef> songs;
    songs.reserve(names.size());
    for (const std::string& name : names)
        songs.push_back({name, LibrarySongFolder(library, medley, name)});
    return songs;
}

SongKind SongKindOf(const std::string& path) {
    if (IsTextFile(path)) return SongKind::UltraStar;
    if (Exists(path + "/断点")) return SongKind::Native;
    return UltraStarFilesIn(path).empty() ? SongKind::Native : SongKind::UltraStar;
}

std::shared_ptr<const CSong> LoadSong(const std::string& path, const SongLoadOptions& options,
                                      Problem* problem) {
    if (SongKindOf(path) == SongKind::Native) return CSong::Load(path, problem);
    std::string file = path;
    if (!IsTextFile(path)) {
        const std::vector<std::string> files = UltraStarFilesIn(path);
        file = files.empty() ? path : files.front();
        // Several texts: the first that reads as an UltraStar song.
        for (const std::string& candidate : files)
            if (IsUltraStarText(candidate)) {
                file = candidate;
                break;
            }
    }
    return LoadUltraStarSong(file, options, problem);
}

}  // namespace engine
