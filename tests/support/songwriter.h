// Writes song folders with reference files for tests, fuzz targets and benchmarks.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <system_error>

namespace testing_support {

// A fresh, empty folder under the system's temporary folder, removed when the object goes.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        m_path = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline void WriteFile(const std::filesystem::path& path, std::string_view contents) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

// The reference files of one song: "断点", "qidian", "endpoint" and the line files by number.
struct SongFiles {
    std::string points;
    std::string starts;
    std::string ends;
    std::map<int, std::string> lines;
};

// Writes the files into library/歌曲/单曲/<song>/ (or 串烧歌曲 for a medley song) and returns the
// song folder.
inline std::filesystem::path WriteSong(const std::filesystem::path& library,
                                       const std::string& song, const SongFiles& files,
                                       bool medley = false) {
    const std::filesystem::path folder = library / "歌曲" / (medley ? "串烧歌曲" : "单曲") / song;
    std::filesystem::create_directories(folder);
    WriteFile(folder / "断点", files.points);
    WriteFile(folder / "qidian", files.starts);
    WriteFile(folder / "endpoint", files.ends);
    for (const auto& [number, contents] : files.lines)
        WriteFile(folder / std::to_string(number), contents);
    return folder;
}

}  // namespace testing_support
