#include "library/songscanner.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCollator>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <numeric>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include "engine/ultrastarfile.h"
#include "library/searchfold.h"
#include "platform/inputfile.h"

namespace library {

namespace {

bool EndsWithNoCase(const std::string& name, std::string_view suffix) {
    if (name.size() <= suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - suffix.size() + i])) !=
            suffix[i])
            return false;
    return true;
}

bool IsTextName(const std::string& name) { return EndsWithNoCase(name, ".txt"); }

// A native song's picture: "cover.jpg" or "cover.png" in its folder, in any case.
bool IsNativeCoverName(const std::string& name) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "cover.jpg" || lower == "cover.png";
}

bool IsAudioName(const std::string& name) {
    for (std::string_view suffix : {".mp3", ".ogg", ".opus", ".flac", ".m4a", ".aac", ".wav",
                                    ".wma", ".mp4", ".mkv", ".webm", ".avi", ".mpg", ".mpeg"})
        if (EndsWithNoCase(name, suffix)) return true;
    return false;
}

int64_t ModifiedNs(const struct stat& info) {
    return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

bool Utf16(std::string_view bytes) {
    return bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                 (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
}

bool Utf8Bom(std::string_view bytes) { return bytes.starts_with("\xEF\xBB\xBF"); }

// Whether the bytes begin as an UltraStar file: a UTF-16 text, or one whose first line that is
// not blank is a header ("#NAME:value", after a UTF-8 byte-order mark).
bool LooksLikeUltraStar(std::string_view bytes) {
    if (Utf16(bytes)) return true;
    if (Utf8Bom(bytes)) bytes.remove_prefix(3);
    const std::size_t text = bytes.find_first_not_of(" \t\r\n");
    if (text == std::string_view::npos || bytes[text] != '#') return false;
    const std::string_view line = bytes.substr(text, bytes.find('\n', text) - text);
    return line.find(':') != std::string_view::npos;
}

// Reads from the open file what the headers take: whole lines up to and including the first
// line that is neither blank nor a header (the first note), or the whole file, or complete lines
// up to kHeaderLimit bytes. Headers with bytes beyond ASCII and no UTF-8 byte-order mark may be in
// a code page detected from the text after them: then the file is read on, all of it or complete
// lines up to kHeaderLimit.
// UTF-16 files are read up to the limit and cut after a whole character.
std::string HeaderPart(platform::CInputFile& file) {
    constexpr std::size_t kChunk = 16 << 10;
    const auto limit = static_cast<std::size_t>(CSongScanner::kHeaderLimit);
    static_assert(CSongScanner::kHeaderLimit > engine::kUltraStarDetectionBytes);
    std::string bytes;
    std::size_t lineStart = 0;
    bool firstLine = true;
    bool readOn = false;
    while (bytes.size() < limit) {
        const std::size_t had = bytes.size();
        bytes.resize(std::min(limit, had + kChunk));
        const int64_t got = file.Read(bytes.data() + had, bytes.size() - had);
        bytes.resize(had + static_cast<std::size_t>(std::max<int64_t>(got, 0)));
        if (got <= 0) return bytes;  // the end of the file (or an error: what was read)
        if (Utf16(bytes) || readOn) continue;
        for (std::size_t end = bytes.find('\n', lineStart); end != std::string::npos;
             end = bytes.find('\n', lineStart)) {
            std::string_view line(bytes.data() + lineStart, end - lineStart);
            if (firstLine && Utf8Bom(line)) line.remove_prefix(3);
            firstLine = false;
            const std::size_t text = line.find_first_not_of(" \t\r");
            lineStart = end + 1;
            if (text != std::string_view::npos && line[text] != '#') {
                const std::string_view headers(bytes.data(), end);
                readOn = !Utf8Bom(headers) &&
                         std::any_of(headers.begin(), headers.end(),
                                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
                if (readOn) break;
                bytes.resize(lineStart);  // through the first note
                return bytes;
            }
        }
    }
    if (Utf16(bytes)) {
        bytes.resize(bytes.size() & ~std::size_t{1});
        return bytes;
    }
    if (readOn) lineStart = bytes.rfind('\n') + 1;
    bytes.resize(lineStart);  // whole lines only
    return bytes;
}

// Whether the headers read (the header part of a file, through its first line that is not a
// header) are a duet's: its parts' singers are named, or that first line is a part mark ("P1").
bool StartsAsDuet(std::string_view bytes, const engine::UltraStarFile& song) {
    if (!song.strSingerP1.empty() || !song.strSingerP2.empty()) return true;
    if (Utf16(bytes)) return false;
    const std::size_t end = bytes.find_last_not_of("\r\n");
    if (end == std::string_view::npos) return false;
    const std::size_t newline = bytes.rfind('\n', end);
    std::string_view line = bytes.substr(newline == std::string_view::npos ? 0 : newline + 1);
    line.remove_prefix(std::min(line.size(), line.find_first_not_of(" \t")));
    if (line.empty() || line[0] != 'P') return false;
    const std::size_t digit = line.find_first_not_of(" \t", 1);
    return digit != std::string_view::npos &&
           std::isdigit(static_cast<unsigned char>(line[digit])) != 0;
}

std::string ShownName(const TextFileRecord& record, const std::string& folderName) {
    if (record.strTitle.empty()) return folderName;
    if (record.strArtist.empty()) return record.strTitle;
    return record.strArtist + " - " + record.strTitle;
}

// folder/name, in one allocation.
std::string Join(const std::string& folder, const std::string& name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder).append(1, '/').append(name);
    return path;
}

std::string LastName(const std::string& path) {
    std::string name = std::filesystem::path(path).filename().string();
    return name.empty() ? path : name;
}

class Walk {
public:
    Walk(const CSongCache& previous, const std::function<bool()>& cancelled,
         CSongScanner::Result& result)
        : m_previous(previous), m_cancelled(cancelled), m_result(result) {}

    void Root(const LibraryRoot& root) {
        std::error_code error;  // no working directory any more: nothing relative is found
        std::string absolute =
            std::filesystem::absolute(root.strPath, error).lexically_normal().string();
        if (error) return;
        while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
        std::string shown = root.strPath;
        while (shown.size() > 1 && shown.back() == '/') shown.pop_back();
        Folder(root, absolute, shown, LastName(absolute), 0,
               root.kind == LibraryRoot::Kind::Medleys);
    }

private:
    void Folder(const LibraryRoot& root, const std::string& absolute, const std::string& shown,
                const std::string& name, int depth, bool medleys) {
        if (m_cancelled && m_cancelled()) {
            m_result.bComplete = false;
            return;
        }
        // Opening a folder never blocks (O_DIRECTORY refuses a FIFO before opening it); the
        // folder is then known by its device and inode, so a link back to it ends the descent.
        const int fd = ::open(absolute.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return;  // missing or unreadable: nothing below it is listed
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !m_visited.emplace(info.st_dev, info.st_ino).second) {
            ::close(fd);
            return;
        }
        DIR* dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            return;
        }
        ++m_result.nFolders;
        bool points = false, audio = false;
        std::string cover;  // a native song's
        std::vector<std::string> texts, folders;
        while (const dirent* item = ::readdir(dir)) {
            const std::string entry = item->d_name;
            if (entry == "." || entry == "..") continue;
            if (entry == "断点") {
                points = true;
                continue;
            }
            bool folder = item->d_type == DT_DIR;
            if (item->d_type == DT_LNK || item->d_type == DT_UNKNOWN) {
                struct stat target {};
                if (::fstatat(fd, entry.c_str(), &target, 0) != 0) continue;  // a dangling link
                folder = S_ISDIR(target.st_mode);
            }
            if (folder) {
                if (entry[0] != '.') folders.push_back(entry);
            } else if (IsTextName(entry)) {
                texts.push_back(entry);
            } else if (IsAudioName(entry)) {
                audio = true;
            } else if (IsNativeCoverName(entry) && (cover.empty() || entry < cover)) {
                cover = entry;  // the same one every time when there are several
            }
        }
        // The bundled library's mode folders only hold songs; a folder the user added may be
        // one song itself.
        const bool container = depth == 0 && root.kind != LibraryRoot::Kind::Collection;
        if (points && !container) {
            ::closedir(dir);
            AddNative(shown, name, cover, medleys);
            return;
        }
        if (!container && !texts.empty()) AddUltraStar(fd, absolute, shown, name, texts, audio);
        ::closedir(dir);
        if (depth >= CSongScanner::kDeepest) return;
        std::sort(folders.begin(), folders.end());
        for (const std::string& folder : folders)
            Folder(root, Join(absolute, folder), Join(shown, folder), folder, depth + 1,
                   medleys || (root.kind == LibraryRoot::Kind::Collection && folder == "串烧歌曲"));
    }

    void AddNative(const std::string& shown, const std::string& name, const std::string& cover,
                   bool medley) {
        SongEntry entry;
        entry.strName = name;
        entry.strFolder = shown;
        if (!cover.empty()) entry.strCover = Join(shown, cover);
        entry.kind = SongEntry::Kind::Native;
        entry.bMedley = medley;
        m_result.entries.push_back(std::move(entry));
    }

    void AddUltraStar(int fd, const std::string& absolute, const std::string& shown,
                      const std::string& name, std::vector<std::string>& texts, bool audio) {
        std::sort(texts.begin(), texts.end());
        std::vector<std::pair<std::string, TextFileRecord>> songs;
        for (const std::string& text : texts) {
            struct stat info {};
            if (::fstatat(fd, text.c_str(), &info, 0) != 0) continue;
            const std::string path = Join(absolute, text);
            TextFileRecord record;
            const TextFileRecord* known =
                S_ISREG(info.st_mode) ? m_previous.Find(path, info.st_size, ModifiedNs(info))
                                      : nullptr;
            if (known) {
                record = *known;
            } else {
                record = CSongScanner::ReadTextFile(path);
                ++m_result.nFilesRead;
                // Only a regular file is remembered by its size and time; anything else
                // (a FIFO, a device) is looked at again each time.
                record.nSize = S_ISREG(info.st_mode) ? info.st_size : -1;
                record.nModifiedNs = ModifiedNs(info);
                if (!record.strProblem.empty())
                    record.strProblem = Join(shown, text).append(": ").append(record.strProblem);
            }
            m_result.files[path] = record;
            if (record.bSong) songs.emplace_back(text, std::move(record));
        }
        if (songs.empty()) {
            // Song files beside texts that are not UltraStar files: a song that cannot be read.
            if (!audio) return;
            SongEntry entry;
            entry.strName = name;
            entry.strFolder = shown;
            entry.kind = SongEntry::Kind::UltraStar;
            entry.strProblem = shown + ": 没有 UltraStar 歌曲文件（文件夹里的 .txt 都不是）";
            m_result.entries.push_back(std::move(entry));
            return;
        }
        const std::size_t first = m_result.entries.size();
        for (const auto& [text, record] : songs) {
            SongEntry entry;
            entry.strName = ShownName(record, name);
            // One song: its folder; several: each its own text (the loader takes that one).
            entry.strFolder = songs.size() == 1 ? shown : Join(shown, text);
            entry.kind = SongEntry::Kind::UltraStar;
            entry.bMedley = record.bMedley && record.strProblem.empty();
            entry.strProblem = record.strProblem;
            entry.strTitle = record.strTitle;
            entry.strArtist = record.strArtist;
            entry.bDuet = record.bDuet;
            if (!record.strCover.empty()) entry.strCover = Join(shown, record.strCover);
            entry.strYear = record.strYear;
            entry.strGenre = record.strGenre;
            entry.strLanguage = record.strLanguage;
            m_result.entries.push_back(std::move(entry));
        }
        // Texts of one folder that name the same song are told apart by their file names.
        std::map<std::string, int> names;
        for (std::size_t i = first; i < m_result.entries.size(); ++i)
            ++names[m_result.entries[i].strName];
        for (std::size_t i = first; i < m_result.entries.size(); ++i)
            if (names[m_result.entries[i].strName] > 1)
                m_result.entries[i].strName += " (" + songs[i - first].first + ")";
    }

    const CSongCache& m_previous;
    const std::function<bool()>& m_cancelled;
    CSongScanner::Result& m_result;
    std::set<std::pair<dev_t, ino_t>> m_visited;
};

}  // namespace

TextFileRecord CSongScanner::ReadTextFile(const std::string& path) {
    TextFileRecord record;
    platform::CInputFile file;
    if (!file.Open(path)) {
        // Unreadable, or not a regular file: it may be a song, and says why it is not one.
        record.bSong = true;
        record.strProblem = file.ProblemText();
        return record;
    }
    const std::string bytes = HeaderPart(file);
    engine::UltraStarFile song;
    engine::UltraStarProblem problem;
    if (engine::ReadUltraStarHeaders(bytes, song, problem)) {
        record.bSong = true;
        record.strTitle = song.strTitle;
        record.strArtist = song.strArtist;
        record.bDuet = StartsAsDuet(bytes, song);
        // Written on Windows, the cover's path may use backslashes.
        record.strCover = song.strCover;
        std::replace(record.strCover.begin(), record.strCover.end(), '\\', '/');
        record.strYear = song.strYear;
        record.strGenre = song.strGenre;
        record.strLanguage = song.strLanguage;
        record.bMedley =
            (song.medleyStartBeat && song.medleyEndBeat &&
             *song.medleyEndBeat > *song.medleyStartBeat) ||
            (song.medleyStartMs && song.medleyEndMs && *song.medleyEndMs > *song.medleyStartMs);
    } else {
        record.bSong = LooksLikeUltraStar(bytes);
        if (record.bSong) record.strProblem = problem.strProblem;
    }
    // The song reader takes no more than this; the listing says so now.
    if (record.bSong && record.strProblem.empty() && file.Size() > platform::kSongFileLimit)
        record.strProblem =
            platform::InputProblemText(platform::CInputFile::Problem::TooLarge,
                                       platform::TextLanguage::Chinese, platform::kSongFileLimit);
    return record;
}

void CSongScanner::Sort(std::vector<SongEntry>& entries) {
    // Chinese names by their pinyin, then letters alphabetically (accents and case second),
    // numbers by their value ("Track 2" before "Track 10"); ties by the exact name, then the
    // folder.
    QCollator collator{QLocale(QLocale::Chinese, QLocale::China)};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::vector<QString> names;
    std::vector<QCollatorSortKey> keys;
    names.reserve(entries.size());
    keys.reserve(entries.size());
    for (const SongEntry& entry : entries) {
        names.push_back(QString::fromStdString(entry.strName));
        keys.push_back(collator.sortKey(names.back()));
    }
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (const int collated = keys[a].compare(keys[b])) return collated < 0;
        if (const int exact = names[a].compare(names[b])) return exact < 0;
        return entries[a].strFolder < entries[b].strFolder;
    });
    std::vector<SongEntry> sorted;
    sorted.reserve(entries.size());
    for (std::size_t index : order) sorted.push_back(std::move(entries[index]));
    entries = std::move(sorted);
}

CSongScanner::Result CSongScanner::Scan(const std::vector<LibraryRoot>& roots) {
    Result result;
    Walk walk(m_previous, m_cancelled, result);
    for (const LibraryRoot& root : roots) {
        walk.Root(root);
        if (!result.bComplete) return result;
    }
    Sort(result.entries);
    for (SongEntry& entry : result.entries) entry.searchKey = SearchKey(entry);
    return result;
}

}  // namespace library
