// The scan cache: one file in the user's data folder that remembers what each UltraStar ".txt"
// read as (at the size and modification time it had then), and the entries of the last scan with
// the roots they came from, so that the list shows at once on the next start while a scan checks
// every folder again. A file that is missing, damaged or not ours leaves the cache empty: the next
// scan reads every song again and writes a fresh one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "library/libraryroot.h"
#include "library/songentry.h"

namespace library {

// What one ".txt" of a song folder read as.
struct TextFileRecord {
    int64_t nSize = 0;        // bytes, when it was read
    int64_t nModifiedNs = 0;  // modification time, ns since the epoch, when it was read
    bool bSong = false;       // an UltraStar file (one that reads, or one that looks like one)
    bool bMedley = false;     // it has medley bounds
    bool bDuet = false;       // its headers are a duet's (singers of parts, or "P1" first)
    std::string strTitle;
    std::string strArtist;
    std::string strCover;  // #COVER as written: a file beside the text
    std::string strYear;
    std::string strGenre;
    std::string strLanguage;
    std::string strProblem;  // why it cannot be read; empty when it reads

    bool operator==(const TextFileRecord&) const = default;
};

// What a look at a song's music found (CMusicCheck): it holds while the song's own file (its
// UltraStar text, a native song's "endpoint") and the music file keep their sizes and times.
struct MusicRecord {
    std::string strSongFile;  // absolute
    int64_t nSongSize = 0;
    int64_t nSongModifiedNs = 0;
    std::string strMusic;     // absolute; the file the song plays
    int64_t nMusicSize = -1;  // -1: there was no such file
    int64_t nMusicModifiedNs = 0;
    int nLengthMs = -1;      // the music's length, as far as it was found
    bool bExact = false;     // counted, not estimated
    std::string strProblem;  // "file: problem" when the song cannot be sung with it; else empty

    bool operator==(const MusicRecord&) const = default;
};

class CSongCache {
public:
    using Files = std::unordered_map<std::string, TextFileRecord>;  // by the file's absolute path
    using Music = std::unordered_map<std::string, MusicRecord>;     // by the song's absolute path

    explicit CSongCache(std::string path) : m_strPath(std::move(path)) {}

    const std::string& Path() const { return m_strPath; }

    // Reads the cache file; false, with the cache empty, when there is none or it is damaged or
    // foreign. Never reads more than kLargestFile bytes.
    bool Load();
    // Writes the cache file as a new file renamed over the old one (platform::ReplaceFile: a link
    // in its place is replaced, never followed), making its folder when needed; false when it
    // cannot be written.
    bool Save() const;

    // The cache file's bytes, and reading them back (false, with the cache empty, when they are
    // damaged or foreign). Parse checks every count and length against the bytes there are.
    std::string Encode() const;
    bool Parse(std::string_view bytes);
    // A payload framed as the file holds it: the magic line, the version, its length and digest.
    static std::string Frame(std::string_view payload);

    // The record of the file when it still has this size and modification time, else nullptr.
    const TextFileRecord* Find(const std::string& path, int64_t size, int64_t modifiedNs) const;

    const Files& TextFiles() const { return m_files; }
    const Music& MusicRecords() const { return m_music; }
    void SetMusic(Music music) { m_music = std::move(music); }
    const std::vector<LibraryRoot>& Roots() const { return m_roots; }
    const std::vector<SongEntry>& Entries() const { return m_entries; }
    // The result of a scan: the folders (absolute), the files it read (those of removed songs
    // are gone) and its entries.
    void Set(std::vector<LibraryRoot> roots, std::vector<SongEntry> entries, Files files);

    static constexpr int64_t kLargestFile = 256 << 20;

private:
    std::string m_strPath;
    std::vector<LibraryRoot> m_roots;
    std::vector<SongEntry> m_entries;
    Files m_files;
    Music m_music;
};

}  // namespace library
